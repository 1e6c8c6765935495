#include "runtime/values/paths.hpp"

#include <optional>

#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/paths.hpp"
#include "runtime/platform/system_error.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

// The system errors that the run-time has its own codes for, with the same meaning.
void post_path_error() {
  const uint32_t error = platform::last_error();
  const bool own = error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound ||
                   error == platform::kErrorAccessDenied;
  post_error(own ? static_cast<int32_t>(error) : 0);
}

template <typename Ask>
std::string path_form(std::string_view path, Ask ask) {
  const std::string_view text = clip(path);
  const std::optional<std::string> answer = ask(platform::ansi_to_utf8(text));
  if (!answer) {
    post_path_error();
    return std::string(text);
  }
  return platform::utf8_to_ansi(*answer);
}

template <typename Form>
void replace_top(Form form) {
  StringStack& stack = string_stack();
  const std::string result = form(stack.peek());
  stack.release();
  stack.push_copy(result);
}

}  // namespace

std::string path_short(std::string_view path) {
  return path_form(path, [](const std::string& p) { return platform::short_path(p); });
}

std::string path_long(std::string_view path) {
  return path_form(path, [](const std::string& p) { return platform::long_path(p); });
}

void PATHSHORT() {
  replace_top(path_short);
}
void PATHLONG() {
  replace_top(path_long);
}

}  // namespace vtn
