// MappedView: the first bytes of a file, mapped read-only and shared, and read under a guard.
//
// A shared mapping shows the system's cache of the file's pages itself: on a local file system
// every process that maps or reads the file goes through the same cached pages, so a write made by
// another process (pwrite) is visible through the mapping as soon as the write returns, without a
// system call of the reader's. Whoever orders his reads after another process's writes with a
// byte-range lock (as the record files' access locks do) may read the bytes through the mapping
// instead of reading them: the lock call is a full barrier. Only file systems known to keep one
// cache per file for all processes are mapped (see mapping_is_coherent); elsewhere (network and
// user-space file systems, overlays, anything unknown) map() refuses and the caller reads.
//
// A mapping outlives changes of the file's size. Bytes that the file no longer holds fault
// (SIGBUS) when they lie in a page past the end of the file, and read as zeros within the last
// page. Every read of a view is guarded: the process's SIGBUS handler (installed once, with the
// first mapping, in front of whatever handler was there) turns a fault on the bytes being read by
// this thread into the answer kUnreadable. Every other SIGBUS goes on to the handler that was
// installed before, or gets the default action (the program ends), exactly as without the guard.
// A program that installs its own SIGBUS handler after a view was mapped must chain to the action
// it replaced (sigaction's old action), as any well-behaved handler does; otherwise a file that
// another process shrank while it was mapped ends the program instead of being read again.
//
// A child process made by fork() inherits the mappings and the handler; the guard state is per
// thread and clear in the child. Threads: a view may be read by several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vtn::platform {

class MappedView {
 public:
  enum class Compare : uint8_t {
    kSame,        // the bytes equal the expected ones
    kDifferent,   // they differ
    kUnreadable,  // the file no longer holds them (the read faulted)
  };

  MappedView() = default;
  ~MappedView();
  MappedView(MappedView&& other) noexcept;
  MappedView& operator=(MappedView&& other) noexcept;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  // Maps the first `length` bytes (rounded up to whole pages) of the file open on `fd`, which must
  // be open for reading, whatever its size now. false, with nothing mapped, when mapping is
  // disabled (set_mapping_enabled), the file system is not one that keeps a mapping coherent, or
  // the system refuses. Unmaps what the view had mapped first.
  bool map(int fd, size_t length);
  void unmap();
  bool mapped() const { return base_ != nullptr; }
  size_t length() const { return length_; }

  // REQUIRES: mapped(), offset + expected.size() <= length().
  Compare compare(size_t offset, std::span<const uint8_t> expected) const;
  // Copies length() - offset or fewer bytes; false when the read faulted (`out` then holds some
  // of the bytes). REQUIRES: mapped(), offset + out.size() <= length().
  bool read(size_t offset, std::span<uint8_t> out) const;

 private:
  const uint8_t* base_ = nullptr;
  size_t length_ = 0;  // as asked
  size_t mapped_ = 0;  // whole pages
};

// Whether the file system of the file open on `fd` keeps a shared mapping coherent with the
// writes of every process: ext2/3/4, xfs, btrfs, f2fs (local block file systems: one page cache
// per file) and tmpfs / ramfs (the page cache is the file). Not NFS, SMB/CIFS, FUSE, 9p or Ceph
// (each client caches on its own and revalidates at open, lock or its own pace), not overlayfs (a
// file opened before another process's copy-up keeps showing the lower layer), not anything else.
bool mapping_is_coherent(int fd);

// For tests: false makes every later map() refuse, as on a file system not on the list above, so
// that the same cases run through both paths. Views already mapped stay mapped.
void set_mapping_enabled(bool enabled);
bool mapping_enabled();

}  // namespace vtn::platform
