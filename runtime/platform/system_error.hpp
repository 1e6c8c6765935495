// The operating system's "last error", numbered as Windows numbers it.
//
// The run-time posts system failures as 300 + n, where n is the Windows error number (2 file
// not found, 5 access denied, 32 sharing violation, ...). Every platform call that fails records
// its failure here; nothing else in the code looks at errno. The value is per thread, as the
// Windows last error is.
#pragma once

#include <cstdint>

namespace vtn::platform {

// Windows error numbers that the platform layer produces.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorWriteFault = 29;
inline constexpr uint32_t kErrorReadFault = 30;
inline constexpr uint32_t kErrorGeneralFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorHandleDiskFull = 39;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;

// The calling thread's last error (0 when none was recorded).
uint32_t last_error();
void set_last_error(uint32_t windows_error);

// Maps an errno value to its Windows error number (31, general failure, for the unmapped).
uint32_t windows_error_from_errno(int errno_value);

// Records errno_value, mapped, as the last error and returns the mapped number.
uint32_t record_errno(int errno_value);

}  // namespace vtn::platform
