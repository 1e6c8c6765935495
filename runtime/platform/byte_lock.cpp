#include "runtime/platform/byte_lock.hpp"

#include <fcntl.h>

#include <cerrno>

#include "runtime/platform/system_error.hpp"

namespace vtn::platform {
namespace {

struct flock make_flock(short type, uint64_t offset, uint64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required to be 0 for open-file-description locks
  return fl;
}

bool range_fits(uint64_t offset, uint64_t length) {
  constexpr uint64_t kMaxOffset = 0x7FFF'FFFF'FFFF'FFFFull;
  return length != 0 && offset <= kMaxOffset && length <= kMaxOffset - offset + 1;
}

}  // namespace

uint32_t try_lock_bytes(int fd, uint64_t offset, uint64_t length, ByteLockKind kind) {
  if (!range_fits(offset, length)) {
    set_last_error(kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }
  struct flock fl =
      make_flock(kind == ByteLockKind::kExclusive ? F_WRLCK : F_RDLCK, offset, length);
  while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    // EACCES and EAGAIN both mean "held elsewhere" for a lock that does not wait.
    if (errno == EACCES || errno == EAGAIN) {
      set_last_error(kErrorLockViolation);
      return kErrorLockViolation;
    }
    return record_errno(errno);
  }
  return 0;
}

uint32_t unlock_bytes(int fd, uint64_t offset, uint64_t length) {
  if (!range_fits(offset, length)) {
    set_last_error(kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }
  struct flock fl = make_flock(F_UNLCK, offset, length);
  while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return record_errno(errno);
  }
  return 0;
}

bool range_locked_by_other(int fd, uint64_t offset, uint64_t length, ByteLockKind kind) {
  if (!range_fits(offset, length)) return false;
  struct flock fl =
      make_flock(kind == ByteLockKind::kExclusive ? F_WRLCK : F_RDLCK, offset, length);
  while (fcntl(fd, F_OFD_GETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return fl.l_type != F_UNLCK;
}

}  // namespace vtn::platform
