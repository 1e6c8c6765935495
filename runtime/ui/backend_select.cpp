// Which backend shows the next box. The choice is made per box from the environment, so a
// program (or a test) can switch by setting VTN_MSGBOX between boxes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "runtime/ui/dialog_backend.hpp"

namespace vtn {

#ifndef VTN_HAVE_GUI
DialogBackend* gui_backend() {
  return nullptr;
}
#endif

namespace {

bool terminals_available() {
  return isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
}

void warn_once(bool& warned, const char* text) {
  if (warned) return;
  warned = true;
  std::fprintf(stderr, "vtn: %s\n", text);
}

DialogBackend& automatic_choice(bool allow_gui) {
  const char* display = std::getenv("DISPLAY");
  if (allow_gui && display != nullptr && *display != '\0') {
    if (DialogBackend* gui = gui_backend()) return *gui;
  }
  if (terminals_available()) return tty_backend();
  return stderr_backend();
}

}  // namespace

DialogBackend& select_backend() {
  static bool warned_gui = false;
  static bool warned_tty = false;
  static bool warned_unknown = false;
  const char* env = std::getenv("VTN_MSGBOX");
  const std::string_view choice = env != nullptr ? env : "";
  if (choice == "stderr") return stderr_backend();
  if (choice == "tty") {
    if (terminals_available()) return tty_backend();
    warn_once(warned_tty,
              "VTN_MSGBOX=tty needs a terminal on standard input and error; "
              "message boxes go to standard error");
    return stderr_backend();
  }
  if (choice == "gui") {
    if (DialogBackend* gui = gui_backend()) return *gui;
    warn_once(warned_gui,
              "VTN_MSGBOX=gui: no window can be opened (no display, or built without the GUI "
              "toolkit); using the terminal or standard error instead");
    return automatic_choice(false);
  }
  if (!choice.empty()) {
    warn_once(warned_unknown, "VTN_MSGBOX should be gui, tty or stderr; choosing by itself");
  }
  return automatic_choice(true);
}

}  // namespace vtn
