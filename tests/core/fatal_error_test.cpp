#include "runtime/core/fatal_error.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/core/procedure_checks.hpp"
#include "runtime/core/process_exit.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using ::testing::Eq;
using ::testing::ExitedWithCode;

constexpr const char* kQuestion = "\n  Do you want to GPF?\n  [stop] Yes | No (default) -> No\n";

class FatalErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VTN_MSGBOX", "stderr", 1);
    unsetenv("VTN_MSGBOX_ANSWERS");
    unsetenv("VTN_MSGBOX_LOG");
    clear_message_overrides();
  }
  void TearDown() override { clear_message_overrides(); }
};
using FatalErrorDeathTest = FatalErrorTest;

TEST_F(FatalErrorTest, TextOfTheBox) {
  const std::string long_extra(300, 'x');
  struct Case {
    int32_t code;
    const char* extra;
    std::string text;
  };
  const Case cases[] = {
      {802, "Mismatched POPSCOPE", "Mismatched PUSHSCOPE/POPSCOPE : Mismatched POPSCOPE"},
      {401, nullptr, "Stack overflow"},
      {501, "String Stack Error", "Internal error 01 : String Stack Error"},
      {0, "Possible data corruption in file PACKNAME (17)",
       "Possible data corruption in file PACKNAME (17)"},
      {0, nullptr, ""},
      {0, "", ""},
      {802, long_extra.c_str(),
       ("Mismatched PUSHSCOPE/POPSCOPE : " + long_extra).substr(0, kFatalTextLimit)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    clear_error();
    EXPECT_EQ(fatal_error_text(c.code, c.extra), c.text);
    EXPECT_EQ(ERRORNUMBER(), c.code);  // posted when not 0; left clear otherwise
  }
}

// Every code the run-time raises as fatal shows its own text; the string stack's, the array
// manager's and the window library's reports carry their extra text after " : ".
TEST_F(FatalErrorTest, TextsOfTheFatalCodes) {
  struct Case {
    int32_t code;
    const char* extra;
    const char* text;
  };
  const Case cases[] = {
      {402, nullptr, "Null pointer de-reference"},
      {403, nullptr, "Termination caused by signal.  (User break or Floating point)"},
      {404, nullptr, "Arithmetic Overflow"},
      {405, nullptr, "Variable out of range"},
      {406, nullptr, "No return value from function"},
      {407, nullptr, "No matching Case Label"},
      {408, nullptr, "Long Integer Divide By Zero"},
      {409, nullptr, "Index out of range"},
      {410, nullptr, "Pure Virtual Function Called"},
      {501, "Out of memory in VTNARRAY!", "Internal error 01 : Out of memory in VTNARRAY!"},
      {506, "ctlentry", "Internal error 06 : ctlentry"},
      {515, "String Stack Error", "Internal error 15 : String Stack Error"},
      {522, nullptr, "Event posted to a report control"},
      {524, nullptr, "Unexpected error opening printer device"},
      {536, nullptr, "Window is not open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(fatal_error_text(c.code, c.extra), c.text);
  }
}

TEST_F(FatalErrorTest, OverrideTextIsClipped) {
  set_message_override(802, "Scopes do not match   ");
  EXPECT_EQ(fatal_error_text(802, "Mismatched POPSCOPE"),
            "Scopes do not match : Mismatched POPSCOPE");
}

TEST_F(FatalErrorDeathTest, ScopeMismatchEndsWithCodeTwo) {
  EXPECT_EXIT(fatal_runtime_error(802, "Mismatched POPSCOPE"), ExitedWithCode(2),
              Eq(std::string("Runtime error: Mismatched PUSHSCOPE/POPSCOPE : Mismatched POPSCOPE") +
                 kQuestion));
}

TEST_F(FatalErrorDeathTest, CodeZeroShowsOnlyTheExtraText) {
  EXPECT_EXIT(fatal_runtime_error(0, "Possible data corruption in file SETUP"), ExitedWithCode(2),
              Eq(std::string("Runtime error: Possible data corruption in file SETUP") + kQuestion));
}

TEST_F(FatalErrorDeathTest, MessageOverrideChangesTheBox) {
  EXPECT_EXIT(
      {
        set_message_override(802, u8"Несогласованные области"_ansi);
        fatal_runtime_error(802, "Mismatched POPSCOPE");
      },
      ExitedWithCode(2),
      Eq(std::string("Runtime error: Несогласованные области : Mismatched POPSCOPE") + kQuestion));
}

TEST_F(FatalErrorDeathTest, ProcedureChecks) {
  struct Case {
    void (*raise)();
    const char* text;
  };
  const Case cases[] = {
      {raise_stack_overflow, "Stack overflow"},
      {raise_null_pointer, "Null pointer de-reference"},
      {raise_arithmetic_overflow, "Arithmetic Overflow"},
      {raise_variable_out_of_range, "Variable out of range"},
      {raise_no_return_value, "No return value from function"},
      {raise_no_matching_case, "No matching Case Label"},
      {raise_index_out_of_range, "Index out of range"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(c.raise(), ExitedWithCode(2),
                Eq(std::string("Runtime error: ") + c.text + kQuestion));
  }
}

TEST_F(FatalErrorDeathTest, YesAborts) {
  EXPECT_EXIT(
      {
        setenv("VTN_MSGBOX_ANSWERS", "yes", 1);
        fatal_runtime_error(409);
      },
      ::testing::KilledBySignal(SIGABRT), ::testing::HasSubstr("Index out of range"));
}

void hook() {
  std::fputs("hook ", stderr);
}

TEST_F(FatalErrorDeathTest, AfterTheProgramReturnsItShowsTheBoxAndReturns) {
  EXPECT_EXIT(
      {
        set_final_hook(hook);
        set_program_running(false);
        fatal_runtime_error(405);
        std::fprintf(stderr, "returned %d %d", halting() ? 1 : 0, ERRORNUMBER());
        std::exit(0);
      },
      ExitedWithCode(0),
      Eq(std::string("Runtime error: Variable out of range") + kQuestion + "hook returned 1 405"));
}

void fatal_in_exit_handler() {
  std::fputs("handler ", stderr);
  fatal_runtime_error(0, "late");
}
void never() {
  std::fputs("never ", stderr);
}

TEST_F(FatalErrorDeathTest, DuringTheExitItOnlyShowsItsBox) {
  EXPECT_EXIT(
      {
        register_exit_handler(never);
        register_exit_handler(fatal_in_exit_handler);
        process_exit(0);
      },
      ExitedWithCode(2), Eq(std::string("handler Runtime error: late") + kQuestion));
}

}  // namespace
}  // namespace vtn
