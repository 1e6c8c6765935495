#include "runtime/core/fatal_error.hpp"

#include <cstdlib>
#include <string>

#include "runtime/core/process_exit.hpp"
#include "runtime/ui/diagnostic_trace.hpp"
#include "runtime/ui/message_box.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {

std::string fatal_error_text(int32_t code, const char* extra_text) {
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
  if (text.size() > kFatalTextLimit) text.resize(kFatalTextLimit);
  return text;
}

namespace {

// Shows the box and ends the program; `text` is the box's text before its question.
void raise_fatal_error(const std::string& text) {
  const uint32_t answer =
      plain_message_box(text + "\nDo you want to GPF?", "Runtime error", kButtonYes | kButtonNo,
                        kButtonNo, IconSpec::system(kIconHand));
  run_final_hook();
  set_halting();
  if (answer == kButtonYes) {
    // The person asked for the fault: abort, so that a debugger or a core dump takes over.
    std::abort();
  }
  if (program_running()) process_exit(2);
}

}  // namespace

// Not inlined, so that the calling chain starts in the code that raised the error.
__attribute__((noinline)) void fatal_runtime_error(int32_t code, const char* extra_text) {
  const std::string text = fatal_error_text(code, extra_text);
  if (code >= kFirstInternalError && code <= kLastInternalError) {
    trace_error_with_chain(text, calling_chain());
  }
  raise_fatal_error(text);
}

__attribute__((noinline)) void fatal_diagnostic(int32_t code, const char* text) {
  trace_error_with_chain(text == nullptr ? "" : text, calling_chain());
  raise_fatal_error(fatal_error_text(code, text));
}

}  // namespace vtn
