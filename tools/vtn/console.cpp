#include "console.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"

#ifdef VTN_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace vtn::console {

std::string to_ansi(std::string_view utf8) {
  return platform::utf8_to_ansi(utf8);
}
std::string to_utf8(std::string_view ansi) {
  return platform::ansi_to_utf8(ansi);
}

LineReader::LineReader() : interactive_(isatty(STDIN_FILENO) != 0) {}

std::optional<std::string> LineReader::next() {
#ifdef VTN_HAVE_READLINE
  if (interactive_) {
    char* line = readline("vtn> ");
    if (line == nullptr) return std::nullopt;
    std::string text(line);
    std::free(line);
    if (!text.empty()) add_history(text.c_str());
    return text;
  }
#endif
  if (interactive_) {
    std::cout << "vtn> " << std::flush;
  }
  std::string text;
  if (!std::getline(std::cin, text)) return std::nullopt;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

void report(std::string_view message) {
  std::cerr << "vtn: " << message << '\n';
}

void report_error(std::string_view expression_ansi, const eval::CompileError* error) {
  std::cerr << "vtn: error " << ERRORNUMBER() << ": " << to_utf8(ERRORTEXT()) << '\n';
  if (error == nullptr || error->code == 0) return;
  // One 1251 byte is one character on the terminal, so the offset is the column.
  std::cerr << "  " << to_utf8(expression_ansi) << '\n'
            << "  " << std::string(error->offset, ' ') << "^ " << error->reason << '\n';
}

}  // namespace vtn::console
