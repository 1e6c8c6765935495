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

}  // namespace vtn::platform
