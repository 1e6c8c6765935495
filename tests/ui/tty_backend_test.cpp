// The terminal backend, driven through a pseudo-terminal: a child shows the box and exits with
// the box's answer; the test types keys and reads what the child drew.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/message_dialog.hpp"
#include "runtime/values/error_messages.hpp"

namespace vtn {
namespace {

using namespace vtn::literals;

struct PtyRun {
  int answer = -1;
  std::string screen;
};

// Reads what the child wrote until `until` appears, or until the child has nothing more to say
// for a while (`until` empty: to the end).
void read_screen(int master, std::string& screen, const std::string& until) {
  char buffer[4096];
  while (until.empty() || screen.find(until) == std::string::npos) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return;
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    screen.append(buffer, static_cast<size_t>(n));
  }
}

// Each key group is typed after a pause, so that a lone Escape reads as Escape.
PtyRun run_on_pty(const std::function<int()>& box, const std::vector<std::string>& keys,
                  bool close_input = false) {
  PtyRun run;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return run;
  if (pid == 0) {
    // A closed terminal would hang the child up; ignoring that leaves it reading the end of input.
    if (close_input) signal(SIGHUP, SIG_IGN);
    setenv("VTN_MSGBOX", "tty", 1);
    unsetenv("VTN_MSGBOX_ANSWERS");
    unsetenv("VTN_MSGBOX_LOG");
    reset_preset_answers();
    _exit(box());
  }
  read_screen(master, run.screen, "\u2518");  // the box's bottom corner: it waits for keys now
  for (const std::string& k : keys) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    if (::write(master, k.data(), k.size()) != static_cast<ssize_t>(k.size())) break;
  }
  if (close_input) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::close(master);
    master = -1;
  } else {
    read_screen(master, run.screen, "");
  }
  // A child still waiting for a key would hang the test: end it and report no answer.
  int status = 0;
  for (int i = 0; i < 50 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (master >= 0) ::close(master);
  if (WIFEXITED(status)) run.answer = WEXITSTATUS(status);
  return run;
}

int yes_no() {
  return static_cast<int>(message_box_core("Continue?", "Question", kButtonYes | kButtonNo,
                                           kButtonNo, IconSpec::system(kIconQuestion)));
}
int ok_cancel() {
  return static_cast<int>(
      message_box_core("Go on?", "Confirm", kButtonOk | kButtonCancel, kButtonOk, {}));
}
int retry_cancel() {
  return static_cast<int>(message_box_core("Locked.", "Warning", kButtonRetry | kButtonCancel,
                                           kButtonCancel, IconSpec::system(kIconExclamation)));
}
int three_custom() {
  return MessageDialog("Pick", "Choice", "", "One|Two|Three", 1, 0);
}
// A custom text equal to the built-in caption "Cancel" takes Cancel's identifier, so Escape
// presses it; without one, Escape does nothing in a custom box.
int go_cancel() {
  return MessageDialog("Go?", "Choice", "", "Go|Cancel", 1, 0);
}
int go_stop() {
  return MessageDialog("Go?", "Choice", "", "Go|Stop", 1, 0);
}
int russian_yes_no() {
  set_message_override(kButtonOverrideBase + 1, u8"&Да"_ansi);
  set_message_override(kButtonOverrideBase + 2, u8"&Нет"_ansi);
  return static_cast<int>(message_box_core(u8"Повторить?"_ansi, u8"Внимание"_ansi,
                                           kButtonYes | kButtonNo, kButtonNo, {}));
}

TEST(TtyBackend, KeysChooseButtons) {
  struct Case {
    const char* name;
    int (*box)();
    std::vector<std::string> keys;
    int answer;
  };
  const Case cases[] = {
      {"Enter takes the default", yes_no, {"\r"}, 4},
      {"Space too", yes_no, {" "}, 4},
      {"Escape is ignored without Cancel", yes_no, {"\x1b", "\t", "\r"}, 2},
      {"Escape presses Cancel", ok_cancel, {"\x1b"}, 64},
      {"Ctrl+C is Escape", ok_cancel, {"\x03"}, 64},
      {"left arrow moves the focus", yes_no, {"\x1b[D", "\r"}, 2},
      {"right arrow wraps", yes_no, {"\x1b[C", "\r"}, 2},
      {"access letter", retry_cancel, {"r"}, 16},
      {"access letter, upper case", retry_cancel, {"R"}, 16},
      {"Cyrillic access letter", russian_yes_no, {"\xd0\xb4"}, 2},  // "д"
      {"button number", three_custom, {"3"}, 3},
      {"other keys do nothing", three_custom, {"x", "\x1b", "2"}, 2},
      {"Escape presses a custom Cancel", go_cancel, {"\x1b"}, 2},
      {"Escape is ignored in a custom box without Cancel", go_stop, {"\x1b", "\r"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PtyRun run = run_on_pty(c.box, c.keys);
    EXPECT_EQ(run.answer, c.answer);
  }
}

TEST(TtyBackend, EndOfInputTakesTheFocusedButton) {
  EXPECT_EQ(run_on_pty(yes_no, {}, true).answer, 4);
  EXPECT_EQ(run_on_pty(yes_no, {"\t"}, true).answer, 2);
}

TEST(TtyBackend, DrawsCaptionTextIconAndButtons) {
  const PtyRun run = run_on_pty(russian_yes_no, {"\r"});
  EXPECT_EQ(run.answer, 4);
  EXPECT_NE(run.screen.find("\u250c\u2500 Внимание "), std::string::npos) << run.screen;
  EXPECT_NE(run.screen.find("Повторить?"), std::string::npos) << run.screen;
  EXPECT_NE(run.screen.find("\x1b[4mД\x1b[24mа"), std::string::npos) << run.screen;
  // The focused default is drawn in reverse video.
  EXPECT_NE(run.screen.find("\x1b[7m[ \x1b[4mН\x1b[24mет ]\x1b[27m"), std::string::npos)
      << run.screen;

  const PtyRun with_icon = run_on_pty(retry_cancel, {"\x1b"});
  EXPECT_EQ(with_icon.answer, 8 * 8);
  EXPECT_NE(with_icon.screen.find("\u2502 (!)  Locked."), std::string::npos) << with_icon.screen;
}

}  // namespace
}  // namespace vtn
