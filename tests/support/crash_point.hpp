// A power cut at the n-th write or durable flush of a child process. A program that includes this
// header (in one file only) puts its own pwrite and fdatasync in front of the C library's; while
// `g_counting` is set they count the calls, and at call `g_crash_at` (0: never), instead of doing
// it, they let the fault injector undo every write no flush has made durable (`g_mode`) and end
// the process with exit code `kCrashed`.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>

#include "runtime/platform/fault_injection.hpp"

namespace {

uint32_t g_crash_at = 0;  // 0: never
uint32_t g_operations = 0;
bool g_counting = false;
vtn::platform::fault::CrashMode g_mode = vtn::platform::fault::CrashMode::kLoseAll;
constexpr int kCrashed = 77;

void count_operation() {
  if (!g_counting) return;
  if (++g_operations != g_crash_at) return;
  g_counting = false;
  vtn::platform::fault::simulate_crash(g_mode, g_crash_at);
  _exit(kCrashed);
}

}  // namespace

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  count_operation();
  return syscall(SYS_pwrite64, fd, buffer, count, offset);
}

extern "C" int fdatasync(int fd) {
  count_operation();
  return static_cast<int>(syscall(SYS_fdatasync, fd));
}
