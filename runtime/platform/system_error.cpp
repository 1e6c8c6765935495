#include "runtime/platform/system_error.hpp"

#include <cerrno>

namespace vtn::platform {
namespace {

thread_local uint32_t t_last_error = 0;

struct ErrnoMapping {
  int errno_value;
  uint32_t windows_error;
};

constexpr ErrnoMapping kErrnoMap[] = {
    {ENOENT, kErrorFileNotFound},
    {ENOTDIR, kErrorPathNotFound},
    {ENAMETOOLONG, kErrorPathNotFound},
    {ELOOP, kErrorPathNotFound},
    {EMFILE, kErrorTooManyOpenFiles},
    {ENFILE, kErrorTooManyOpenFiles},
    {EACCES, kErrorAccessDenied},
    {EPERM, kErrorAccessDenied},
    {EROFS, kErrorAccessDenied},
    {EISDIR, kErrorAccessDenied},
    {EBADF, kErrorInvalidHandle},
    {ENOMEM, kErrorNotEnoughMemory},
    {EIO, kErrorGeneralFailure},
    {EAGAIN, kErrorLockViolation},
    {EDEADLK, kErrorLockViolation},
    {ENOSPC, kErrorHandleDiskFull},
    {EDQUOT, kErrorHandleDiskFull},
    {EFBIG, kErrorHandleDiskFull},
    {EEXIST, kErrorFileExists},
    {EINVAL, kErrorInvalidParameter},
    {ENOTSUP, kErrorNotSupported},
    {EXDEV, 17 /* not same device */},
    {ENOTEMPTY, 145 /* directory not empty */},
};

}  // namespace

uint32_t last_error() {
  return t_last_error;
}

void set_last_error(uint32_t windows_error) {
  t_last_error = windows_error;
}

uint32_t windows_error_from_errno(int errno_value) {
  for (const ErrnoMapping& m : kErrnoMap) {
    if (m.errno_value == errno_value) return m.windows_error;
  }
  return kErrorGeneralFailure;
}

uint32_t record_errno(int errno_value) {
  t_last_error = windows_error_from_errno(errno_value);
  return t_last_error;
}

}  // namespace vtn::platform
