// FileHandle: an open file, as the run-time's file services see one.
//
// The run-time was written for Windows file handles; this class keeps their observable rules on
// Linux:
// - Access and sharing are those of an OPEN access code: (mode & 3) == 0 reads only, anything
//   else reads and writes; (mode & 0x30) 0 shares with everyone, 0x20 lets others only read,
//   0x10 and 0x30 let nobody else open the file. An open that conflicts with a handle already
//   open (in this process or another) fails with error 32, sharing violation. The check is made
//   with shared locks on reserved bytes far above every lock the drivers take: each handle marks
//   what it does (reads, writes) and what it denies (writes, reads), then looks for a conflicting
//   mark of another handle. Two conflicting opens racing each other may both fail; they never
//   both succeed.
// - 0x100 opens or creates the file (with a random-access hint); with 0x200 as well the file is
//   created anew (emptied, but only after the sharing check passed). Without 0x100 the file must
//   exist: the run-time's plain open.
// - Every failure is recorded as the Windows error number (system_error.hpp) and the call reports
//   failure; nothing throws.
// - Byte-range locks never wait. As on Windows, a handle cannot lock a range overlapping one it
//   already holds (error 33), and unlocks exactly a range it locked (else error 158, not locked).
//   A read-write handle takes exclusive locks. A read-only handle cannot (POSIX grants exclusive
//   locks only to writers) and takes shared locks: they still exclude every read-write handle's
//   lock on the range, and are excluded by it, but two read-only handles do not exclude each
//   other. That is all the drivers' protocol asks of a reader: a reader slot only has to keep the
//   flushing writer out, and a hold through a read-only handle keeps every writer off the record
//   (the holder itself cannot change it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform/byte_lock.hpp"
#include "runtime/platform/mapped_view.hpp"

namespace vtn::platform {

enum class FileAccess : uint8_t { kRead, kReadWrite };
enum class FileSharing : uint8_t { kDenyNone, kDenyWrite, kExclusive };
enum class FileDisposition : uint8_t {
  kOpenExisting,  // the run-time's plain open: the file must exist
  kOpenAlways,    // open, creating the file when it is missing
  kCreateAnew,    // create, or empty the existing file
};

struct FileOpenMode {
  FileAccess access = FileAccess::kRead;
  FileSharing sharing = FileSharing::kDenyNone;
  FileDisposition disposition = FileDisposition::kOpenExisting;
  bool random_access = false;  // hint for the system's cache
};

// The open mode that an access code stands for (0x142, 0x42, 0x22, an OPEN's mode, ...).
FileOpenMode decode_open_mode(uint32_t access_code);

// Windows error number for unlocking a range the handle does not hold.
inline constexpr uint32_t kErrorNotLocked = 158;

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens `path`, closing whatever this handle had open. Returns false (and records the error)
  // on failure.
  bool open(std::string_view path, const FileOpenMode& mode);
  void close();

  bool is_open() const { return fd_ >= 0; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

  // Reads up to buffer.size() bytes at `offset`; `transferred` receives the count (less than
  // asked only at the end of the file).
  bool read_at(uint64_t offset, std::span<uint8_t> buffer, size_t& transferred);
  // Writes the bytes at `offset`; `transferred` receives the count stored. A write the system
  // could store only in part (a full disk) fails with its error, `transferred` telling how much
  // got in; only an injected short write (fault_injection.hpp) succeeds with fewer bytes.
  bool write_at(uint64_t offset, std::span<const uint8_t> bytes, size_t& transferred);

  bool size(uint64_t& out) const;
  bool set_size(uint64_t new_size);
  // Makes every write so far durable (fdatasync).
  bool flush();

  bool lock(uint64_t offset, uint64_t length);
  bool unlock(uint64_t offset, uint64_t length);

  // A lock taken and dropped at every access (a reader slot): one system call each, with the kind
  // lock() would take. It is kept out of the list of held ranges that lock() and unlock() check,
  // so its holder must never let it overlap another lock of this handle, nor unlock it when not
  // held. The first use binds `lock` to this handle.
  bool lock_prepared(PreparedByteLock& lock) {
    if (lock.fd() != fd_ || journal_ != 0) return lock_prepared_checked(lock);
    return lock.try_lock() == 0;
  }
  bool unlock_prepared(PreparedByteLock& lock) {
    if (lock.fd() != fd_ || journal_ != 0) return unlock_prepared_checked(lock);
    return lock.unlock() == 0;
  }

  // Maps the first `length` bytes of the file read-only and shared (mapped_view.hpp). false when
  // the handle is not open, when fault injection watches it (a mapping would read past the
  // journal's view of the handle: a handle dead after a simulated crash must fail its reads), or
  // when the view refuses (file system, mapping disabled).
  bool map_start(MappedView& view, size_t length) const;

 private:
  struct LockedRange {
    uint64_t offset;
    uint64_t length;
  };

  bool usable() const;
  bool lock_prepared_checked(PreparedByteLock& lock);
  bool unlock_prepared_checked(PreparedByteLock& lock);
  bool take_sharing_marks(FileAccess access, FileSharing sharing);

  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
  uint64_t journal_ = 0;  // fault-injection journal, 0 when none
  std::vector<LockedRange> locks_;
};

// File operations by name. Each returns false and records the error on failure. Deleting or
// renaming a file that is open fails with error 32, as on Windows.
bool delete_file(std::string_view path);
bool rename_file(std::string_view from, std::string_view to, bool replace_existing);
// The copy reads the source as a deny-none reader, so it fails with 32 only while another handle
// keeps every other open out; it writes the target exclusively.
bool copy_file(std::string_view from, std::string_view to, bool replace_existing);
bool file_exists(std::string_view path);

}  // namespace vtn::platform
