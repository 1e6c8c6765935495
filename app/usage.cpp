#include "app/usage.hpp"

#include <cstdio>
#include <string_view>

namespace ferrule {
namespace {

constexpr const char* kUsage =
    "Usage: ferrule [--help | --version]\n"
    "\n"
    "Registers the pack requested in Mossgate.ini in the current directory: records it in the\n"
    "pack table PACKNAME.TWL, makes it the current pack in the settings table SETUP.TWL and\n"
    "deletes the request. Messages appear as message boxes (in Russian); the exit code is 0\n"
    "after a normal run and after a warning that ends the program, 2 after a fatal run-time\n"
    "error.\n"
    "\n"
    "The request is one comma-delimited line in Windows-1251: the pack's name (up to 40\n"
    "characters) and its directory (up to 120), for example \"North\",\"/srv/packs/north\".\n"
    "A directory at or below the current one is stored relative to it. Missing tables are\n"
    "created; when a table cannot be opened or a record cannot be written, a warning says so\n"
    "and the request stays in place to be run again.\n"
    "\n"
    "Files: Mossgate.ini, PACKNAME.TWL and SETUP.TWL in the current directory; ferrule.ENV\n"
    "beside the executable (locale settings, lines of KEY=value); V5LOG.TXT, written only\n"
    "when the run-time meets an internal fault.\n"
    "\n"
    "Environment:\n"
    "  VTN_MSGBOX          how message boxes are shown: gui (a window; the default when DISPLAY\n"
    "                      is set), tty (on the terminal; the default on a terminal) or stderr\n"
    "                      (printed, the default button taken; the default otherwise)\n"
    "  VTN_MSGBOX_ANSWERS  answers for the next boxes, comma-separated: button values (1 OK,\n"
    "                      2 Yes, 4 No, 8 Abort, 16 Retry, 32 Ignore, 64 Cancel, 128 Help) or\n"
    "                      names (ok, yes, no, ...), or the number of a custom button\n"
    "  VTN_MSGBOX_LOG      a file to which every box is appended (UTF-8)\n"
    "  VTN_WININI          the settings file read in place of ~/.config/vortane/win.ini\n"
    "                      (in it, auxtrace=1 in section [Vortane 5 Tracing] copies the lines of\n"
    "                      V5LOG.TXT to standard error)\n";

}  // namespace

std::optional<int> handle_command_line(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("ferrule 0.1.0 (Vortane 5 run-time 5.002.00)");
      return 0;
    }
    std::fprintf(stderr, "ferrule: unknown argument '%s'\n\n", argv[i]);
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  return std::nullopt;
}

}  // namespace ferrule
