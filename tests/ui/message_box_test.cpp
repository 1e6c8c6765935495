#include "runtime/ui/message_box.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/dialog_backend.hpp"
#include "runtime/values/error_messages.hpp"
#include "support/message_box_fixture.hpp"

namespace vtn {
namespace {

using MessageBoxTest = testing_support::StderrMessageBoxTest;

TEST_F(MessageBoxTest, StderrBackendPrintsTheBoxAndTakesTheDefault) {
  ::testing::internal::CaptureStderr();
  const uint32_t answer = message_box_core(u8"Файл не найден\r\nПовторить?"_ansi, "Warning",
                                           kButtonRetry | kButtonCancel, kButtonCancel,
                                           IconSpec::system(kIconExclamation));
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, kButtonCancel);
  EXPECT_EQ(out,
            "Warning: Файл не найден\n"
            "  Повторить?\n"
            "  [exclamation] Retry | Cancel (default) -> Cancel\n");
}

TEST_F(MessageBoxTest, CoreUsesOverrideCaptionsAndPlainBoxDoesNot) {
  set_message_override(kButtonOverrideBase + 0, u8"&Хорошо"_ansi);
  ::testing::internal::CaptureStderr();
  message_box_core("a", "Halt", kButtonOk, kButtonOk, IconSpec::system(kIconHand));
  plain_message_box("b", "Other", kButtonOk, kButtonOk, IconSpec::system(kIconHand));
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("Halt: a\n  [stop] Хорошо (default) -> Хорошо"), std::string::npos) << out;
  EXPECT_NE(out.find("Other: b\n  [stop] OK (default) -> OK"), std::string::npos) << out;
}

TEST_F(MessageBoxTest, PresetAnswersByValueNameAndDefault) {
  setenv("VTN_MSGBOX_ANSWERS", " 4 , yes,CANCEL,,7", 1);
  reset_preset_answers();
  ::testing::internal::CaptureStderr();
  const uint32_t set = kButtonYes | kButtonNo | kButtonCancel;
  EXPECT_EQ(message_box_core("q", "c", set, kButtonYes, {}), kButtonNo);
  EXPECT_EQ(message_box_core("q", "c", set, kButtonNo, {}), kButtonYes);
  EXPECT_EQ(message_box_core("q", "c", set, kButtonYes, {}), kButtonCancel);
  // 7 is no single button: the default is taken, with a warning.
  EXPECT_EQ(message_box_core("q", "c", set, kButtonNo, {}), kButtonNo);
  // No answers left: the backend's default.
  EXPECT_EQ(message_box_core("q", "c", set, kButtonCancel, {}), kButtonCancel);
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("the preset answer \"7\" names no button"), std::string::npos) << out;
  EXPECT_NE(out.find("-> No (preset answer)"), std::string::npos) << out;
}

TEST_F(MessageBoxTest, LogRecordsEveryBoxInUtf8) {
  char path[] = "/tmp/vtn-msgbox-log-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  setenv("VTN_MSGBOX_LOG", path, 1);
  setenv("VTN_MSGBOX_ANSWERS", "2", 1);
  reset_preset_answers();
  ::testing::internal::CaptureStderr();
  message_box_core(u8"Нет доступа\r\nЕщё раз?"_ansi, u8"Внимание"_ansi, kButtonYes | kButtonNo,
                   kButtonNo, IconSpec::system(kIconQuestion));
  plain_message_box("x", "Runtime error", kButtonOk, 0, {});
  ::testing::internal::GetCapturedStderr();
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  unlink(path);
  EXPECT_EQ(content.str(),
            "caption: Внимание\n"
            "icon: question\n"
            "text: Нет доступа\n"
            "text: Ещё раз?\n"
            "buttons: Yes, No\n"
            "default: No\n"
            "answer: Yes (preset)\n"
            "\n"
            "caption: Runtime error\n"
            "icon: none\n"
            "text: x\n"
            "buttons: OK\n"
            "default: OK\n"
            "answer: OK\n"
            "\n");
}

TEST(MessageBoxText, StripAccessMarks) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case& c : {Case{"&Yes", "Yes"}, Case{"Pre&rvat", "Prervat"}, Case{"A&&B", "A&B"},
                        Case{"end&", "end"}, Case{"", ""}, Case{"OK", "OK"}}) {
    EXPECT_EQ(strip_access_marks(c.in), c.out) << c.in;
  }
}

TEST(MessageBoxBackend, ChoiceFollowsTheEnvironment) {
  setenv("VTN_MSGBOX", "stderr", 1);
  EXPECT_EQ(select_backend().name(), "stderr");
  // Tests run without a terminal: tty falls back to stderr.
  if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) {
    setenv("VTN_MSGBOX", "tty", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(select_backend().name(), "stderr");
    ::testing::internal::GetCapturedStderr();
  }
  // Without a display, gui is never chosen.
  const char* display = std::getenv("DISPLAY");
  std::string saved = display != nullptr ? display : "";
  unsetenv("DISPLAY");
  unsetenv("VTN_MSGBOX");
  EXPECT_NE(select_backend().name(), "gui");
  if (display != nullptr) setenv("DISPLAY", saved.c_str(), 1);
  setenv("VTN_MSGBOX", "stderr", 1);
}

}  // namespace
}  // namespace vtn
