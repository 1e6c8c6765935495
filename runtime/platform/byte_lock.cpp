#include "runtime/platform/byte_lock.hpp"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// Windows error of a failed lock request without waiting: 33 when held elsewhere.
uint32_t lock_error(int error) {
  // EACCES and EAGAIN both mean "held elsewhere" for a lock that does not wait.
  if (error == EACCES || error == EAGAIN) {
    set_last_error(kErrorLockViolation);
    return kErrorLockViolation;
  }
  return record_errno(error);
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
    if (errno != EINTR) return lock_error(errno);
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

PreparedByteLock::PreparedByteLock(uint64_t offset, uint64_t length)
    : lock_(make_flock(F_RDLCK, offset, length)), unlock_(make_flock(F_UNLCK, offset, length)) {}

void PreparedByteLock::prepare(int fd, ByteLockKind kind) {
  fd_ = fd;
  lock_.l_type = kind == ByteLockKind::kExclusive ? F_WRLCK : F_RDLCK;
}

void PreparedByteLock::move_to(uint64_t offset) {
  lock_.l_start = unlock_.l_start = static_cast<off_t>(offset);
}

// Straight to the system: fcntl's library wrapper would only sort out its variable arguments.
int PreparedByteLock::set_lock(struct flock& request) const {
#if defined(__LP64__) && defined(SYS_fcntl)
  return static_cast<int>(syscall(SYS_fcntl, fd_, F_OFD_SETLK, &request));
#else
  return fcntl(fd_, F_OFD_SETLK, &request);
#endif
}

uint32_t PreparedByteLock::lock_failed() {
  while (errno == EINTR) {
    if (set_lock(lock_) == 0) return 0;
  }
  return lock_error(errno);
}

uint32_t PreparedByteLock::unlock_failed() {
  while (errno == EINTR) {
    if (set_lock(unlock_) == 0) return 0;
  }
  return record_errno(errno);
}

}  // namespace vtn::platform
