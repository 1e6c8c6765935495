// A fixture for tests that show message boxes: boxes print to standard error, no preset answers,
// no log and no override captions, before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/ui/message_box.hpp"
#include "runtime/values/error_messages.hpp"

namespace vtn::testing_support {

class StderrMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VTN_MSGBOX", "stderr", 1);
    reset();
  }
  void TearDown() override { reset(); }

 private:
  static void reset() {
    unsetenv("VTN_MSGBOX_ANSWERS");
    unsetenv("VTN_MSGBOX_LOG");
    reset_preset_answers();
    clear_message_overrides();
  }
};

}  // namespace vtn::testing_support
