// Opens real message boxes on an X display and presses their buttons with xdotool.
//
// The display is VTN_GUI_TEST_DISPLAY (CI starts an Xvfb server for it), else DISPLAY; without
// either, or without xdotool, the test is skipped. With VTN_GUI_SCREENSHOT set to a file name,
// the Russian warning box is also captured there (ImageMagick's import).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/dialog_backend.hpp"
#include "runtime/ui/message_dialog.hpp"
#include "runtime/values/error_messages.hpp"

// fontconfig keeps its caches until the process ends; under LeakSanitizer that reads as leaks of
// the font library, not of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace vtn {
namespace {

using namespace vtn::literals;

class GuiBackendTest : public ::testing::Test {
 protected:
  // Skips when the window cannot be tested here; fails instead when VTN_GUI_TEST_REQUIRED is
  // set (CI sets it, so that a missing toolkit, display or xdotool cannot pass unnoticed).
  void SetUp() override {
    const bool required = std::getenv("VTN_GUI_TEST_REQUIRED") != nullptr;
#ifndef VTN_HAVE_GUI
    if (required) FAIL() << "built without the GUI toolkit";
    GTEST_SKIP() << "built without the GUI toolkit";
#endif
    const char* display = std::getenv("VTN_GUI_TEST_DISPLAY");
    if (display == nullptr || *display == '\0') display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      if (required) FAIL() << "no X display";
      GTEST_SKIP() << "no X display";
    }
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) {
      if (required) FAIL() << "no xdotool";
      GTEST_SKIP() << "no xdotool";
    }
    setenv("DISPLAY", display, 1);
    setenv("VTN_MSGBOX", "gui", 1);
    unsetenv("VTN_MSGBOX_ANSWERS");
    unsetenv("VTN_MSGBOX_LOG");
    reset_preset_answers();
    clear_message_overrides();
    ASSERT_NE(gui_backend(), nullptr) << "cannot open display " << display;
    // Test runners start these cases as parallel processes; on one display the helper would
    // find the other's box. One box at a time.
    lock_ = open("/tmp/vtn-gui-test.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    ASSERT_GE(lock_, 0);
    ASSERT_EQ(flock(lock_, LOCK_EX), 0);
    // A box nobody presses would hang the test: give up loudly instead.
    alarm(60);
  }
  void TearDown() override {
    alarm(0);
    if (helper_ > 0) {
      int status = 0;
      waitpid(helper_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "xdotool helper failed";
    }
    clear_message_overrides();
    if (lock_ >= 0) close(lock_);
  }

  // Starts a helper that waits for the box, checks its caption, then runs `actions` (shell, with
  // $W the window, $WIDTH and $HEIGHT its size, and `at DX DY` clicking relative to the centre
  // of its bottom edge).
  void act(const std::string& caption, const std::string& actions) {
    const std::string script =
        "set -e\n"
        "W=$(timeout 30 xdotool search --sync --onlyvisible --class FLTK | head -n 1)\n"
        "test \"$(xdotool getwindowname $W)\" = '" +
        caption +
        "'\n"
        "eval $(xdotool getwindowgeometry --shell $W)\n"
        "sleep 0.3\n"
        "xdotool mousemove --window $W 4 4\n"
        "at() { xdotool mousemove --window $W $((WIDTH / 2 + $1)) $((HEIGHT - $2)) click 1; }\n" +
        actions + "\n";
    helper_ = fork();
    ASSERT_GE(helper_, 0);
    if (helper_ == 0) {
      execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  pid_t helper_ = -1;
  int lock_ = -1;
};

TEST_F(GuiBackendTest, EnterPressesTheDefaultButton) {
  act("Default", "xdotool key Return");
  EXPECT_EQ(message_box_core("Yes or no?", "Default", kButtonYes | kButtonNo, kButtonNo,
                             IconSpec::system(kIconQuestion)),
            kButtonNo);
}

TEST_F(GuiBackendTest, EscapeDoesNothingWithoutCancel) {
  // Escape first (ignored), then a click on the left button, Yes.
  act("NoCancel", "xdotool key Escape\nsleep 0.3\nat -30 20");
  EXPECT_EQ(message_box_core("Escape is ignored here.", "NoCancel", kButtonYes | kButtonNo,
                             kButtonNo, IconSpec::system(kIconHand)),
            kButtonYes);
}

TEST_F(GuiBackendTest, EscapePressesCancel) {
  act("WithCancel", "xdotool key Escape");
  EXPECT_EQ(message_box_core("Escape cancels.", "WithCancel", kButtonOk | kButtonCancel, kButtonOk,
                             IconSpec::system(kIconAsterisk)),
            kButtonCancel);
}

TEST_F(GuiBackendTest, CustomButtonsAnswerTheirNumber) {
  // Three buttons centred on the box: the third lies right of the middle one.
  act("Custom", "at 75 20");
  EXPECT_EQ(MessageDialog("Pick one|of three", "Custom", "", "One|Two|Three", 2, 0), 3);
}

TEST_F(GuiBackendTest, IconFromAFile) {
  // A one-pixel 24-bit icon: directory, entry, bitmap header, one padded row, one mask row.
  const unsigned char ico[] = {0,  0, 1,   0, 1, 0,                                    //
                               1,  1, 0,   0, 1, 0, 24, 0, 48, 0, 0, 0, 22, 0, 0,  0,  //
                               40, 0, 0,   0, 1, 0, 0,  0, 2,  0, 0, 0, 1,  0, 24, 0,  //
                               0,  0, 0,   0, 0, 0, 0,  0, 0,  0, 0, 0, 0,  0, 0,  0,  //
                               0,  0, 0,   0, 0, 0, 0,  0,                             //
                               0,  0, 255, 0, 0, 0, 0,  0};
  char path[] = "/tmp/vtn-icon-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, ico, sizeof ico), static_cast<ssize_t>(sizeof ico));
  close(fd);
  act("IconFile", "xdotool key Return");
  EXPECT_EQ(
      MessageDialog("A red icon from a file.", "IconFile", std::string(path) + "[0]", "1", 1, 0),
      1);
  unlink(path);
}

TEST_F(GuiBackendTest, RussianWarning) {
  const char* shot = std::getenv("VTN_GUI_SCREENSHOT");
  const std::string capture = shot != nullptr && *shot != '\0'
                                  ? "import -frame -window $W '" + std::string(shot) + "'\n"
                                  : "";
  set_message_override(kButtonOverrideBase + 1, u8"&Да"_ansi);
  set_message_override(kButtonOverrideBase + 2, u8"&Нет"_ansi);
  const std::string caption(u8"Внимание"_ansi);
  act(platform::ansi_to_utf8(caption), capture + "xdotool key Tab\nsleep 0.2\nxdotool key space");
  // Tab moves the focus from the default (Да) to Нет, and Space presses it.
  EXPECT_EQ(MessageDialog(u8"Файл PACKNAME не может быть открыт: Файл уже заблокирован.|"
                          u8"Повторить попытку?"_ansi,
                          caption, "\xFF\x01\x04\x7F", "6", 2, 0),
            4);
}

}  // namespace
}  // namespace vtn
