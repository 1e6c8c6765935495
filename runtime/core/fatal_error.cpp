#include "runtime/core/fatal_error.hpp"

#include <cstdio>
#include <cstdlib>

#include "runtime/values/error_state.hpp"

namespace vtn {

// Provisional body: posts the code, prints the message and ends the process with exit code 2.
// The message-box version replaces it.
void fatal_runtime_error(int32_t code, const char* extra_text) {
  std::string text;
  if (code != 0) {
    post_error(code);
    text = error_message(code);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (extra_text != nullptr) {
      text += " : ";
      text += extra_text;
    }
  } else if (extra_text != nullptr) {
    text = extra_text;
  }
  if (text.size() > 255) text.resize(255);
  std::fprintf(stderr, "Runtime error: %s\n", text.c_str());
  std::fflush(stderr);
  std::_Exit(2);
}

}  // namespace vtn
