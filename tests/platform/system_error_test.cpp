#include "runtime/platform/system_error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace vtn::platform {
namespace {

TEST(SystemErrorTest, ErrnoMapsToWindowsNumbers) {
  struct Case {
    int errno_value;
    uint32_t windows;
  };
  const Case cases[] = {{ENOENT, 2},  {ENOTDIR, 3}, {EMFILE, 4},  {ENFILE, 4}, {EACCES, 5},
                        {EPERM, 5},   {EROFS, 5},   {EBADF, 6},   {ENOMEM, 8}, {EIO, 31},
                        {ENOSPC, 39}, {EEXIST, 80}, {EINVAL, 87}, {ECHILD, 31}};
  for (const Case& c : cases) {
    EXPECT_EQ(windows_error_from_errno(c.errno_value), c.windows) << c.errno_value;
  }
}

TEST(SystemErrorTest, RecordErrnoSetsTheLastError) {
  set_last_error(0);
  EXPECT_EQ(record_errno(EEXIST), 80u);
  EXPECT_EQ(last_error(), 80u);
}

TEST(SystemErrorTest, EachThreadHasItsOwnLastError) {
  set_last_error(32);
  uint32_t seen_by_other = 99;
  std::thread other([&] {
    seen_by_other = last_error();
    record_errno(ENOSPC);
  });
  other.join();
  EXPECT_EQ(seen_by_other, 0u);
  EXPECT_EQ(last_error(), 32u);
}

}  // namespace
}  // namespace vtn::platform
