#include "runtime/core/halt.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/core/process_exit.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using ::testing::Eq;
using ::testing::ExitedWithCode;

class HaltDeathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VTN_MSGBOX", "stderr", 1);
    unsetenv("VTN_MSGBOX_ANSWERS");
    unsetenv("VTN_MSGBOX_LOG");
  }
};

void hook() {
  std::fputs("hook ", stderr);
}
void report_halting() {
  std::fputs(halting() ? "halting " : "running ", stderr);
}

TEST_F(HaltDeathTest, MessageShowsOneHaltBoxAndExitsWithTheCode) {
  EXPECT_EXIT(HALT(0, u8"Файл PACKNAME не может быть открыт"_ansi), ExitedWithCode(0),
              Eq("Halt: Файл PACKNAME не может быть открыт\n"
                 "  [stop] OK (default) -> OK\n"));
}

TEST_F(HaltDeathTest, NoMessageShowsNothing) {
  EXPECT_EXIT(HALT(0, ""), ExitedWithCode(0), Eq(""));
  EXPECT_EXIT(HALT(3, ""), ExitedWithCode(3), Eq(""));
}

TEST_F(HaltDeathTest, TakesTheMessageFromTheStringStack) {
  EXPECT_EXIT(
      {
        string_stack().push_copy("stop here");
        HALT(12);
      },
      ExitedWithCode(12), Eq("Halt: stop here\n  [stop] OK (default) -> OK\n"));
}

TEST_F(HaltDeathTest, RunsTheFinalHookThenSetsHaltingThenExits) {
  EXPECT_EXIT(
      {
        set_final_hook(hook);
        register_exit_handler(report_halting);
        HALT(0, "");
      },
      ExitedWithCode(0), Eq("hook halting "));
}

TEST_F(HaltDeathTest, OverrideCaptionOfOk) {
  EXPECT_EXIT(
      {
        set_message_override(0x7F00, "&Ok!");
        HALT(0, "x");
      },
      ExitedWithCode(0), Eq("Halt: x\n  [stop] Ok! (default) -> Ok!\n"));
}

}  // namespace
}  // namespace vtn
