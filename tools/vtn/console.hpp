// The console's side of the terminal: texts cross it as UTF-8 and live inside as 1251, input
// lines come with a prompt and line editing when a person types them, and errors are shown
// with the run-time's number and text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/eval/syntax_tree.hpp"

namespace vtn::console {

// UTF-8 from the terminal to 1251, and back.
std::string to_ansi(std::string_view utf8);
std::string to_utf8(std::string_view ansi);

// Reads lines from standard input: with a prompt and line editing (and a history) when it is a
// terminal, plainly otherwise.
class LineReader {
 public:
  LineReader();
  // The next line (without its end), or nothing at the end of the input.
  std::optional<std::string> next();
  bool interactive() const { return interactive_; }

 private:
  bool interactive_;
};

// Writes "vtn: error <n>: <text>" for the current error to standard error; for a text that did
// not compile also the text with a mark under the place and what was wrong there.
void report_error(std::string_view expression_ansi, const eval::CompileError* error);

// Writes "vtn: <message>" to standard error.
void report(std::string_view message);

}  // namespace vtn::console
