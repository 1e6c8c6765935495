#include "runtime/values/error_state.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/platform/system_error.hpp"

namespace vtn {
namespace {

constexpr int32_t kFileSystemError = 90;
constexpr int32_t kSystemErrorBase = 300;

template <size_t N>
void fill_padded(char (&field)[N], std::string_view text) {
  const size_t n = std::min(text.size(), N);
  if (n != 0) std::memcpy(field, text.data(), n);
  std::memset(field + n, ' ', N - n);
}

// The field's text up to its first NUL, trailing blanks removed.
template <size_t N>
std::string clipped(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  while (n > 0 && field[n - 1] == ' ') --n;
  return std::string(field, n);
}

}  // namespace

constinit thread_local ErrorState detail::t_error_state;

// True while the state is known to be cleared: code 0, no file, all three texts blank. Whatever
// may write the state (a post, a restore, a caller that takes the state itself) makes the flag
// false; only clearing makes it true.
constinit thread_local bool detail::t_error_cleared = false;

ErrorState& current_error_state() {
  detail::t_error_cleared = false;  // the caller may change the texts
  return detail::t_error_state;
}

void post_error(int32_t code) {
  ErrorState& s = detail::t_error_state;
  detail::t_error_cleared = false;
  s.os_error = platform::last_error();
  if (code == 0) code = kSystemErrorBase + static_cast<int32_t>(s.os_error);
  std::string_view text = error_message(code);
  s.file = nullptr;
  s.code = code;
  const size_t first = std::min(text.find_first_not_of(' '), text.size());
  text.remove_prefix(first);
  fill_padded(s.error_text, text.substr(0, sizeof s.error_text - 1));
  s.os_error = platform::last_error();
}

void set_error_file(FileBlock* file) {
  if (file != nullptr) detail::t_error_cleared = false;
  detail::t_error_state.file = file;
}

void detail::clear_error_state() {
  ErrorState& s = detail::t_error_state;
  s.file = nullptr;
  s.code = 0;
  fill_padded(s.error_text, {});
  fill_padded(s.driver_code, {});
  fill_padded(s.driver_message, {});
  detail::t_error_cleared = true;
}

void post_driver_error(std::string_view driver_code, std::optional<std::string_view> message) {
  ErrorState& s = detail::t_error_state;
  detail::t_error_cleared = false;
  fill_padded(s.driver_code, driver_code.substr(0, sizeof s.driver_code));
  std::string text;
  if (message) {
    text = std::string(*message);
  } else {
    text = error_message(kFileSystemError);
    text += " : ";
    text += driver_code;
  }
  const size_t n = std::min(text.size(), sizeof s.driver_message - 1);
  std::memcpy(s.driver_message, text.data(), n);
  s.driver_message[n] = '\0';
}

void save_error(ErrorState& record) {
  record = detail::t_error_state;
}

void restore_error(const ErrorState& record) {
  detail::t_error_cleared = false;
  detail::t_error_state = record;
}

std::string ERRORTEXT() {
  return clipped(detail::t_error_state.error_text);
}

std::string DRIVERERRORCODE() {
  return clipped(detail::t_error_state.driver_code);
}

std::string DRIVERERROR() {
  return clipped(detail::t_error_state.driver_message);
}

FileBlock* error_source_file() {
  return detail::t_error_state.file;
}

}  // namespace vtn
