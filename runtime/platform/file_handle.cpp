#include "runtime/platform/file_handle.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "runtime/platform/byte_lock.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::platform {
namespace {

// The sharing marks: one byte each, every handle holding a shared lock on the marks that apply.
constexpr uint64_t kMarkReads = kReservedLockBase + 0;
constexpr uint64_t kMarkWrites = kReservedLockBase + 1;
constexpr uint64_t kMarkDeniesWrite = kReservedLockBase + 2;
constexpr uint64_t kMarkDeniesRead = kReservedLockBase + 3;

bool marked_by_other(int fd, uint64_t mark) {
  return range_locked_by_other(fd, mark, 1, ByteLockKind::kExclusive);
}

// Whether some handle has the file at `path` open (any handle reads, so holds kMarkReads).
bool open_elsewhere(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool in_use = marked_by_other(fd, kMarkReads);
  ::close(fd);
  return in_use;
}

bool parent_directory_exists(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;
  struct stat st = {};
  const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fail(uint32_t windows_error) {
  set_last_error(windows_error);
  return false;
}

bool fail_errno() {
  record_errno(errno);
  return false;
}

// Like fail_errno, but, as Windows does, tells a missing directory (3) from a missing file (2).
bool fail_errno_for(const std::string& path) {
  const int error = errno;
  if (error == ENOENT && !parent_directory_exists(path)) return fail(kErrorPathNotFound);
  record_errno(error);
  return false;
}

}  // namespace

FileOpenMode decode_open_mode(uint32_t access_code) {
  FileOpenMode mode;
  mode.access = (access_code & 3u) == 0 ? FileAccess::kRead : FileAccess::kReadWrite;
  switch (access_code & 0x30u) {
    case 0x00:
      mode.sharing = FileSharing::kDenyNone;
      break;
    case 0x20:
      mode.sharing = FileSharing::kDenyWrite;
      break;
    default:
      mode.sharing = FileSharing::kExclusive;
      break;
  }
  if (access_code & 0x100u) {
    mode.random_access = true;
    mode.disposition =
        (access_code & 0x200u) ? FileDisposition::kCreateAnew : FileDisposition::kOpenAlways;
  }
  return mode;
}

FileHandle::~FileHandle() {
  close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(other.fd_),
      writable_(other.writable_),
      path_(std::move(other.path_)),
      journal_(other.journal_),
      locks_(std::move(other.locks_)) {
  other.fd_ = -1;
  other.journal_ = 0;
  other.writable_ = false;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    writable_ = other.writable_;
    path_ = std::move(other.path_);
    journal_ = other.journal_;
    locks_ = std::move(other.locks_);
    other.fd_ = -1;
    other.journal_ = 0;
    other.writable_ = false;
  }
  return *this;
}

bool FileHandle::open(std::string_view path, const FileOpenMode& mode) {
  close();
  if (path.empty() || path.find('\0') != std::string_view::npos) return fail(kErrorFileNotFound);
  std::string name(path);
  // Without O_NONBLOCK a read-only open of a FIFO would wait for a writer, possibly for ever.
  int flags = O_CLOEXEC | O_NONBLOCK;
  flags |= mode.access == FileAccess::kRead ? O_RDONLY : O_RDWR;
  if (mode.disposition != FileDisposition::kOpenExisting) flags |= O_CREAT;
  int fd;
  do {
    fd = ::open(name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail_errno_for(name);

  // A directory, FIFO or socket is not a file the run-time can read at an offset.
  struct stat st = {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return fail(kErrorAccessDenied);
  }
  fd_ = fd;
  writable_ = mode.access == FileAccess::kReadWrite;
  path_ = std::move(name);
  if (!take_sharing_marks(mode.access, mode.sharing)) {
    ::close(fd_);
    fd_ = -1;
    writable_ = false;
    return fail(kErrorSharingViolation);
  }
  if (fault::armed()) journal_ = fault::attach(fd_, path_);
  if (mode.disposition == FileDisposition::kCreateAnew && st.st_size != 0 && !set_size(0)) {
    const uint32_t error = last_error();
    close();
    return fail(error);
  }
  if (mode.random_access) posix_fadvise(fd_, 0, 0, POSIX_FADV_RANDOM);
  set_last_error(0);
  return true;
}

bool FileHandle::take_sharing_marks(FileAccess access, FileSharing sharing) {
  const bool writes = access == FileAccess::kReadWrite;
  const bool denies_write = sharing != FileSharing::kDenyNone;
  const bool denies_read = sharing == FileSharing::kExclusive;
  // Mark first, then look: of two conflicting opens that race, the later look of each sees the
  // other's mark.
  const auto mark = [&](uint64_t at) {
    return try_lock_bytes(fd_, at, 1, ByteLockKind::kShared) == 0;
  };
  if (!mark(kMarkReads)) return false;
  if (writes && !mark(kMarkWrites)) return false;
  if (denies_write && !mark(kMarkDeniesWrite)) return false;
  if (denies_read && !mark(kMarkDeniesRead)) return false;
  if (marked_by_other(fd_, kMarkDeniesRead)) return false;
  if (writes && marked_by_other(fd_, kMarkDeniesWrite)) return false;
  if (denies_write && marked_by_other(fd_, kMarkWrites)) return false;
  if (denies_read && marked_by_other(fd_, kMarkReads)) return false;
  return true;
}

void FileHandle::close() {
  if (fd_ < 0) return;
  if (journal_ != 0) fault::detach(journal_);
  ::close(fd_);  // drops every lock and mark of this description
  fd_ = -1;
  journal_ = 0;
  writable_ = false;
  locks_.clear();
}

bool FileHandle::usable() const {
  if (fd_ < 0) return fail(kErrorInvalidHandle);
  if (journal_ != 0 && fault::is_dead(journal_)) return fail(kErrorInvalidHandle);
  return true;
}

bool FileHandle::read_at(uint64_t offset, std::span<uint8_t> buffer, size_t& transferred) {
  transferred = 0;
  if (!usable()) return false;
  while (transferred < buffer.size()) {
    const ssize_t n = pread(fd_, buffer.data() + transferred, buffer.size() - transferred,
                            static_cast<off_t>(offset + transferred));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno();
    }
    if (n == 0) break;
    transferred += static_cast<size_t>(n);
  }
  return true;
}

bool FileHandle::write_at(uint64_t offset, std::span<const uint8_t> bytes, size_t& transferred) {
  transferred = 0;
  if (!usable()) return false;
  if (!writable_) return fail(kErrorAccessDenied);
  size_t length = bytes.size();
  if (fault::armed()) {
    const fault::WriteDecision decision = fault::before_write(journal_, fd_, offset, bytes);
    if (decision.error != 0) return fail(decision.error);
    length = decision.length;
  }
  while (transferred < length) {
    const ssize_t n = pwrite(fd_, bytes.data() + transferred, length - transferred,
                             static_cast<off_t>(offset + transferred));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno();
    }
    if (n == 0) return fail(kErrorWriteFault);
    transferred += static_cast<size_t>(n);
  }
  return true;
}

bool FileHandle::size(uint64_t& out) const {
  out = 0;
  if (!usable()) return false;
  struct stat st = {};
  if (fstat(fd_, &st) != 0) return fail_errno();
  out = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileHandle::set_size(uint64_t new_size) {
  if (!usable()) return false;
  if (!writable_) return fail(kErrorAccessDenied);
  if (new_size > 0x7FFF'FFFF'FFFF'FFFFull) return fail(kErrorInvalidParameter);
  if (fault::armed()) fault::before_resize(journal_, fd_, new_size);
  while (ftruncate(fd_, static_cast<off_t>(new_size)) != 0) {
    if (errno != EINTR) return fail_errno();
  }
  return true;
}

bool FileHandle::flush() {
  if (!usable()) return false;
  if (fault::armed()) {
    if (const uint32_t error = fault::before_flush(); error != 0) return fail(error);
  }
  while (fdatasync(fd_) != 0) {
    if (errno != EINTR) return fail_errno();
  }
  if (fault::armed()) fault::after_flush(fd_);
  return true;
}

bool FileHandle::lock(uint64_t offset, uint64_t length) {
  if (!usable()) return false;
  if (length == 0 || offset >= kReservedLockBase || length > kReservedLockBase - offset) {
    return fail(kErrorInvalidParameter);
  }
  for (const LockedRange& held : locks_) {
    if (offset < held.offset + held.length && held.offset < offset + length) {
      return fail(kErrorLockViolation);
    }
  }
  const ByteLockKind kind = writable_ ? ByteLockKind::kExclusive : ByteLockKind::kShared;
  if (try_lock_bytes(fd_, offset, length, kind) != 0) return false;
  locks_.push_back({offset, length});
  return true;
}

bool FileHandle::unlock(uint64_t offset, uint64_t length) {
  if (!usable()) return false;
  auto it = std::find_if(locks_.begin(), locks_.end(), [&](const LockedRange& held) {
    return held.offset == offset && held.length == length;
  });
  if (it == locks_.end()) return fail(kErrorNotLocked);
  if (unlock_bytes(fd_, offset, length) != 0) return false;
  locks_.erase(it);
  return true;
}

bool FileHandle::lock_prepared_checked(PreparedByteLock& lock) {
  if (!usable()) return false;
  if (lock.fd() != fd_) {
    lock.prepare(fd_, writable_ ? ByteLockKind::kExclusive : ByteLockKind::kShared);
  }
  return lock.try_lock() == 0;
}

bool FileHandle::unlock_prepared_checked(PreparedByteLock& lock) {
  if (!usable()) return false;
  if (lock.fd() != fd_) return fail(kErrorNotLocked);
  return lock.unlock() == 0;
}

bool FileHandle::map_start(MappedView& view, size_t length) const {
  view.unmap();
  if (fd_ < 0 || journal_ != 0) return false;
  return view.map(fd_, length);
}

bool file_exists(std::string_view path) {
  struct stat st = {};
  return stat(std::string(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool delete_file(std::string_view path) {
  const std::string name(path);
  struct stat st = {};
  if (stat(name.c_str(), &st) != 0) return fail_errno_for(name);
  if (S_ISDIR(st.st_mode)) return fail(kErrorAccessDenied);
  if (open_elsewhere(name)) return fail(kErrorSharingViolation);
  if (unlink(name.c_str()) != 0) return fail_errno();
  return true;
}

bool rename_file(std::string_view from, std::string_view to, bool replace_existing) {
  const std::string source(from);
  const std::string target(to);
  struct stat st = {};
  if (stat(source.c_str(), &st) != 0) return fail_errno_for(source);
  if (open_elsewhere(source)) return fail(kErrorSharingViolation);
  if (replace_existing && open_elsewhere(target)) return fail(kErrorSharingViolation);
  const unsigned flags = replace_existing ? 0u : RENAME_NOREPLACE;
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), flags) != 0) {
    return fail_errno_for(target);  // the source exists, so a missing name is the target's
  }
  return true;
}

bool copy_file(std::string_view from, std::string_view to, bool replace_existing) {
  FileHandle source;
  if (!source.open(from, FileOpenMode{FileAccess::kRead, FileSharing::kDenyNone,
                                      FileDisposition::kOpenExisting, false})) {
    return false;
  }
  if (!replace_existing && file_exists(to)) return fail(kErrorFileExists);
  FileHandle target;
  if (!target.open(to, FileOpenMode{FileAccess::kReadWrite, FileSharing::kExclusive,
                                    FileDisposition::kCreateAnew, false})) {
    return false;
  }
  std::vector<uint8_t> buffer(1 << 16);
  uint64_t offset = 0;
  for (;;) {
    size_t got = 0;
    if (!source.read_at(offset, buffer, got)) return false;
    if (got == 0) break;
    size_t put = 0;
    if (!target.write_at(offset, std::span(buffer.data(), got), put)) return false;
    if (put != got) return fail(kErrorHandleDiskFull);
    offset += got;
  }
  if (!target.flush()) return false;
  set_last_error(0);
  return true;
}

}  // namespace vtn::platform
