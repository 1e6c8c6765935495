#include "runtime/values/error_state.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "runtime/platform/system_error.hpp"

namespace vtn {
namespace {

class ErrorStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_message_overrides();
    clear_error();
    platform::set_last_error(0);
  }
  void TearDown() override { clear_message_overrides(); }
};

TEST_F(ErrorStateTest, MessageTableTexts) {
  struct Case {
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {2, "File Not Found"},
      {78, "Invalid Number Of Parameters "},
      {350, "Not Supported "},
      {403, "Termination caused by signal.  (User break or Floating point)"},
      {526, "Unable to open APPLICATION (APPLICATION already active)"},
      {605, "DDE transaction timed out"},
      {802, "Mismatched PUSHSCOPE/POPSCOPE"},
      {0, "Unknown Error Posted"},
      {81, "Unknown Error Posted"},
      {314, "Unknown Error Posted : 314"},
      {1234, "Unknown Error Posted : 1234"},
      {-5, "Unknown Error Posted : -5"},
  };
  for (const Case& c : cases) EXPECT_STREQ(error_message(c.code), c.text) << c.code;
}

TEST_F(ErrorStateTest, TableHasNoTextForOtherCodes) {
  int with_text = 0;
  for (int32_t code = -10; code < 1000; ++code) {
    if (!message_table_text(code).empty()) ++with_text;
  }
  EXPECT_EQ(with_text, 174);
}

TEST_F(ErrorStateTest, OverridesComeFirstAndReplaceEachOther) {
  set_message_override(2, "first");
  set_message_override(2, "second");
  set_message_override(90, "driver");
  EXPECT_STREQ(error_message(2), "second");
  EXPECT_STREQ(error_message(90), "driver");
  EXPECT_EQ(find_message_override(0x7F01).has_value(), false);

  set_message_override(3, std::string(300, 'x'));
  EXPECT_EQ(std::string(error_message(3)), std::string(255, 'x'));
}

TEST_F(ErrorStateTest, PostErrorOfZeroIsTheSystemError) {
  platform::set_last_error(5);
  post_error(0);
  EXPECT_EQ(ERRORNUMBER(), 305);
  EXPECT_EQ(ERRORTEXT(), "Access Denied");
  EXPECT_EQ(current_error_state().os_error, 5u);
}

TEST_F(ErrorStateTest, ErrorTextSkipsLeadingBlanksAndKeeps79Characters) {
  set_message_override(2, "   padded message");
  post_error(2);
  EXPECT_EQ(ERRORTEXT(), "padded message");

  set_message_override(2, std::string(100, 'm'));
  post_error(2);
  EXPECT_EQ(ERRORTEXT(), std::string(79, 'm'));
  EXPECT_EQ(current_error_state().error_text[79], ' ');
}

TEST_F(ErrorStateTest, PostErrorClearsTheFile) {
  post_error(35);
  set_error_file(reinterpret_cast<FileBlock*>(this));
  EXPECT_NE(error_source_file(), nullptr);
  post_error(33);
  EXPECT_EQ(error_source_file(), nullptr);
}

TEST_F(ErrorStateTest, DriverErrorAndClear) {
  post_error(90);
  post_driver_error("E12", std::nullopt);
  EXPECT_EQ(DRIVERERRORCODE(), "E12");
  EXPECT_EQ(DRIVERERROR(), "File System Error : E12");
  EXPECT_EQ(ERRORNUMBER(), 90);

  post_driver_error("E13", std::string_view("own message"));
  EXPECT_EQ(DRIVERERROR(), "own message");

  post_driver_error("E14", std::string_view(std::string(300, 'd')));
  EXPECT_EQ(DRIVERERROR().size(), 254u);

  clear_error();
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(ERRORTEXT(), "");
  EXPECT_EQ(DRIVERERRORCODE(), "");
  EXPECT_EQ(DRIVERERROR(), "");
  EXPECT_EQ(current_error_state().driver_code[0], ' ');
}

TEST_F(ErrorStateTest, SaveAndRestore) {
  post_error(40);
  ErrorState saved;
  save_error(saved);
  clear_error();
  restore_error(saved);
  EXPECT_EQ(ERRORNUMBER(), 40);
  EXPECT_EQ(ERRORTEXT(), "Creates Duplicate Key");
}

TEST_F(ErrorStateTest, EachThreadHasItsOwnError) {
  post_error(35);
  int32_t seen_in_thread = -1;
  std::thread([&] {
    seen_in_thread = ERRORNUMBER();
    post_error(2);
  }).join();
  EXPECT_EQ(seen_in_thread, 0);
  EXPECT_EQ(ERRORNUMBER(), 35);
}

}  // namespace
}  // namespace vtn
