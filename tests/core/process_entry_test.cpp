#include "runtime/core/process_entry.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/core/fatal_error.hpp"
#include "runtime/core/halt.hpp"
#include "runtime/core/process_exit.hpp"
#include "runtime/ui/window_library.hpp"
#include "support/phase_marks.hpp"

namespace vtn {
namespace {

using ::testing::Eq;
using ::testing::ExitedWithCode;
using testing_support::mark;
using testing_support::phase_mark;

void procedure() {
  mark(program_running() ? "procedure " : "procedure-not-running ");
  if (std::fetestexcept(FE_ALL_EXCEPT) != 0) mark("fp-flags-left ");
}
void halting_procedure() {
  mark("procedure ");
  HALT(0, "");
}
void failing_procedure() {
  mark("procedure ");
  fatal_runtime_error(409);
  mark("never ");
}
void hook() {
  mark(program_running() ? "hook-running " : "hook ");
}
void handler() {
  mark("handler ");
}
void close_window(void*) {
  mark("close ");
}

// A window whose close finds the window gone: the fatal error comes after the program
// procedure has returned.
void close_failing(void*) {
  mark("close-fails ");
  fatal_runtime_error(536);
}

const ModuleInitEntry kTable[] = {
    {5, phase_mark<'p'>, phase_mark<'p'>},
    {16, phase_mark<'w'>, phase_mark<'w'>},
    {255, phase_mark<'r'>, phase_mark<'r'>},
    {5, phase_mark<'q'>, phase_mark<'q'>},
};
const ModuleDescriptor kModule{reinterpret_cast<InstanceHandle>(0x400000), kTable};

class ProcessEntryDeathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VTN_MSGBOX", "stderr", 1);
    unsetenv("VTN_MSGBOX_ANSWERS");
  }
};

TEST_F(ProcessEntryDeathTest, WholeRunInOrder) {
  EXPECT_EXIT(
      {
        std::feraiseexcept(FE_DIVBYZERO);
        set_final_hook(hook);
        register_exit_handler(handler);
        static int window;
        register_open_window(&window, close_window);
        run_process({&kModule, {0x105, 2, 0}, procedure});
      },
      ExitedWithCode(0), Eq("r+ w+ p+ q+ procedure close hook handler q- p- w- r- "));
}

TEST_F(ProcessEntryDeathTest, WrongVersionNeverRunsTheProgram) {
  EXPECT_EXIT(run_process({&kModule, {0x105, 3, 0}, procedure}), ExitedWithCode(0),
              Eq("r+ w+ p+ q+ Vortane 5 Runtime Library: This program or a component DLL "
                 "requires V5RUNX version 5.003.00 or later\n"
                 "  This version is 5.002.00\n"
                 "  [stop] OK (default) -> OK\n"
                 "q- p- w- r- "));
}

TEST_F(ProcessEntryDeathTest, HaltInsideTheProgramRunsTheSameExit) {
  EXPECT_EXIT(
      {
        set_final_hook(hook);
        run_process({&kModule, {0x105, 2, 0}, halting_procedure});
      },
      ExitedWithCode(0), Eq("r+ w+ p+ q+ procedure hook-running q- p- w- r- "));
}

constexpr const char* kFatalQuestion =
    "\n  Do you want to GPF?\n  [stop] Yes | No (default) -> No\n";

TEST_F(ProcessEntryDeathTest, FatalErrorInsideTheProgramEndsWithTwoThroughTheSameExit) {
  EXPECT_EXIT(
      {
        set_final_hook(hook);
        register_exit_handler(handler);
        run_process({&kModule, {0x105, 2, 0}, failing_procedure});
      },
      ExitedWithCode(2),
      Eq(std::string("r+ w+ p+ q+ procedure Runtime error: Index out of range") + kFatalQuestion +
         "hook-running handler q- p- w- r- "));
}

// After the program procedure has returned, a fatal error shows its box and the clean-up goes
// on: the other window still closes, the final hook does not run a second time, and the run
// ends with code 0.
TEST_F(ProcessEntryDeathTest, FatalErrorDuringTheCleanupLetsItContinue) {
  EXPECT_EXIT(
      {
        set_final_hook(hook);
        register_exit_handler(handler);
        static int first;
        static int second;
        register_open_window(&first, close_window);
        register_open_window(&second, close_failing);
        run_process({&kModule, {0x105, 2, 0}, procedure});
      },
      ExitedWithCode(0),
      Eq(std::string("r+ w+ p+ q+ procedure close-fails Runtime error: Window is not open") +
         kFatalQuestion + "hook close handler q- p- w- r- "));
}

}  // namespace
}  // namespace vtn
