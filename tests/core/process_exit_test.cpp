#include "runtime/core/process_exit.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/core/halt.hpp"
#include "support/phase_marks.hpp"

namespace vtn {
namespace {

using ::testing::Eq;
using ::testing::ExitedWithCode;
using testing_support::mark;
using testing_support::phase_mark;

void halt_in_termination(int32_t) {
  mark("halt ");
  HALT(9, "");
}

void handler_one() {
  mark("h1 ");
}
void handler_two() {
  mark("h2 ");
}
void handler_exits_again() {
  mark("again ");
  process_exit(7);
}
void handler_registers_another() {
  mark("reg ");
  register_exit_handler(handler_one);
}
void hook() {
  mark("hook ");
}

const ModuleInitEntry kTable[] = {{5, phase_mark<'a'>, phase_mark<'a'>},
                                  {5, phase_mark<'b'>, phase_mark<'b'>},
                                  {150, phase_mark<'c'>, phase_mark<'c'>}};
const ModuleDescriptor kModule{nullptr, kTable};

void use_module() {
  register_module(kModule);
  set_program_module(&kModule);
}

TEST(ProcessExitDeathTest, HandlersLastFirstThenTerminationEntries) {
  EXPECT_EXIT(
      {
        use_module();
        register_exit_handler(handler_one);
        register_exit_handler(handler_two);
        process_exit(3);
      },
      ExitedWithCode(3), Eq("h2 h1 b- a- c- "));
}

TEST(ProcessExitDeathTest, SecondRequestOnlyEndsTheProcess) {
  EXPECT_EXIT(
      {
        use_module();
        register_exit_handler(handler_one);
        register_exit_handler(handler_exits_again);
        register_exit_handler(handler_two);
        process_exit(3);
      },
      ExitedWithCode(7), Eq("h2 again "));
}

TEST(ProcessExitDeathTest, HaltDuringTerminationEndsWithItsCode) {
  static const ModuleInitEntry table[] = {{16, phase_mark<'x'>, phase_mark<'x'>},
                                          {5, halt_in_termination, halt_in_termination},
                                          {5, phase_mark<'y'>, phase_mark<'y'>}};
  static const ModuleDescriptor module{nullptr, table};
  EXPECT_EXIT(
      {
        register_module(module);
        set_program_module(&module);
        process_exit(0);
      },
      ExitedWithCode(9), Eq("y- halt "));
}

TEST(ProcessExitDeathTest, HandlerRegisteredDuringExitRunsOnce) {
  EXPECT_EXIT(
      {
        register_exit_handler(handler_registers_another);
        process_exit(0);
      },
      ExitedWithCode(0), Eq("reg h1 "));
}

TEST(ProcessExitDeathTest, FinalHookRunsOnce) {
  EXPECT_EXIT(
      {
        set_final_hook(hook);
        run_final_hook();
        run_final_hook();
        process_exit(4);
      },
      ExitedWithCode(4), Eq("hook "));
}

}  // namespace
}  // namespace vtn
