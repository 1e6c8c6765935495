#include "runtime/core/version_check.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace vtn {
namespace {

using ::testing::Eq;
using ::testing::ExitedWithCode;

TEST(VersionCheck, AcceptsMajor105hWithMinorUpToTwo) {
  struct Case {
    VersionNumbers wanted;
    bool accepted;
  };
  const Case cases[] = {
      {{0x105, 2, 0}, true},  {{0x105, 0, 0}, true},  {{0x105, 1, 99}, true},
      {{0x105, 3, 0}, false}, {{0x104, 2, 0}, false}, {{0x205, 2, 0}, false},
      {{5, 2, 0}, false},     {{0x106, 0, 0}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runtime_version_accepts(c.wanted), c.accepted)
        << c.wanted.major << "." << c.wanted.minor << "." << c.wanted.build;
  }
}

TEST(VersionCheck, RefusalText) {
  EXPECT_EQ(version_mismatch_text({0x105, 3, 7}),
            "This program or a component DLL requires V5RUNX version 5.003.07 or later\r\n"
            "This version is 5.002.00");
  // Only the low four bits of the major number are shown.
  EXPECT_EQ(version_mismatch_text({0x26, 12, 1}),
            "This program or a component DLL requires V5RUNX version 6.012.01 or later\r\n"
            "This version is 5.002.00");
}

TEST(VersionCheck, AcceptedNumbersAreKept) {
  check_runtime_version({0x105, 2, 0});
  EXPECT_EQ(requested_version(), (VersionNumbers{0x105, 2, 0}));
}

TEST(VersionCheckDeathTest, RefusalShowsTheStopBoxAndExitsWithZero) {
  setenv("VTN_MSGBOX", "stderr", 1);
  unsetenv("VTN_MSGBOX_ANSWERS");
  EXPECT_EXIT(check_runtime_version({0x105, 3, 0}), ExitedWithCode(0),
              Eq("Vortane 5 Runtime Library: This program or a component DLL requires V5RUNX "
                 "version 5.003.00 or later\n"
                 "  This version is 5.002.00\n"
                 "  [stop] OK (default) -> OK\n"));
}

}  // namespace
}  // namespace vtn
