// Byte-range locks that never wait, on Linux open-file-description locks.
//
// Like Windows locks, an open-file-description lock belongs to one open handle: two handles of
// the same process conflict just as two processes do, and closing a handle drops its locks. A
// child process that inherits a descriptor shares its description, and with it the locks; a
// process that wants its own locks opens the file itself.
//
// POSIX grants an exclusive lock only through a description opened for writing. A description
// opened for reading only takes a shared lock instead (see ByteLockKind); the file handle chooses.
#pragma once

#include <fcntl.h>

#include <cstdint>

namespace vtn::platform {

enum class ByteLockKind : uint8_t {
  kShared,     // conflicts with exclusive locks of other descriptions
  kExclusive,  // conflicts with every lock of other descriptions
};

// Offsets at and above this are reserved for the platform's own use (the sharing-mode emulation
// of the file handle); no caller's lock may reach them.
inline constexpr uint64_t kReservedLockBase = 0x7FFF'FFFF'FFFF'FF00ull;

// Takes the lock without waiting. Returns 0 or the Windows error number (33 when another
// description holds a conflicting lock).
uint32_t try_lock_bytes(int fd, uint64_t offset, uint64_t length, ByteLockKind kind);

// Drops every lock of this description on the range. Returns 0 or the Windows error number.
uint32_t unlock_bytes(int fd, uint64_t offset, uint64_t length);

// Whether another description holds a lock on the range that would conflict with `kind`.
// Works on any readable description, whatever its access.
bool range_locked_by_other(int fd, uint64_t offset, uint64_t length, ByteLockKind kind);

// One range that a description locks and unlocks again and again (a reader slot, at every access):
// both requests to the system are prepared once, so that taking or dropping the lock is one system
// call and a test of its result. Moving the range keeps its length and kind.
class PreparedByteLock {
 public:
  // REQUIRES: the range fits below kReservedLockBase.
  PreparedByteLock(uint64_t offset, uint64_t length);
  // Binds the requests to a description; until then (fd() < 0) every request fails.
  void prepare(int fd, ByteLockKind kind);
  int fd() const { return fd_; }
  void move_to(uint64_t offset);
  uint64_t offset() const { return static_cast<uint64_t>(lock_.l_start); }

  // As try_lock_bytes / unlock_bytes on the prepared range.
  uint32_t try_lock() {
    if (set_lock(lock_) == 0) return 0;
    return lock_failed();
  }
  uint32_t unlock() {
    if (set_lock(unlock_) == 0) return 0;
    return unlock_failed();
  }

 private:
  int set_lock(struct flock& request) const;
  uint32_t lock_failed();
  uint32_t unlock_failed();

  int fd_ = -1;
  struct flock lock_ = {};
  struct flock unlock_ = {};
};

}  // namespace vtn::platform
