#include "runtime/format/environment.hpp"

#include "runtime/format/date_names.hpp"
#include "runtime/format/environment_key.hpp"
#include "runtime/format/intl_settings.hpp"
#include "runtime/format/picture.hpp"
#include "runtime/platform/process_path.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

constexpr size_t kKeyOrFileLimit = 259;
constexpr size_t kValueLimit = 299;

bool& initialised() {
  static bool done = false;
  return done;
}

// A text of ENVSET: cut, then clipped of trailing blanks.
std::string_view cut_and_clip(std::string_view text, size_t limit) {
  text = text.substr(0, limit);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string pop_clipped(size_t limit) {
  std::string text = string_stack().pop_string();
  text.resize(cut_and_clip(text, limit).size());
  return text;
}

}  // namespace

void InitializeEnvironment() {
  if (initialised()) return;
  initialised() = true;
  intl_settings() = read_intl_settings();
  build_locale_pictures();
  CharTables& tables = char_tables();
  tables.collation_oem = tables.collation_ansi;
  const std::string executable = platform::executable_path();
  if (!executable.empty()) LoadEnvironmentFile(environment_file_for(executable));
  clear_error();
}

std::string environment_file_for(std::string_view executable_path) {
  const size_t slash = executable_path.rfind('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = executable_path.rfind('.');
  // Only a dot inside the file name starts an extension, and a leading dot marks a hidden file.
  const bool has_extension = dot != std::string_view::npos && dot > name_start;
  std::string path(executable_path.substr(0, has_extension ? dot : executable_path.size()));
  path += ".ENV";
  return path;
}

void envset_key_from_stack() {
  const std::string key = pop_clipped(kKeyOrFileLimit);
  const std::string value = pop_clipped(kValueLimit);
  SetEnvironmentKey(key, value);
}

void envset_file_from_stack() {
  LoadEnvironmentFile(pop_clipped(kKeyOrFileLimit));
}

// The C++ forms apply the same cuts without a round trip through the string stack, so that they
// work whatever the stack holds.
void ENVSET(std::string_view key, std::string_view value) {
  SetEnvironmentKey(cut_and_clip(key, kKeyOrFileLimit), cut_and_clip(value, kValueLimit));
}

void ENVSET(std::string_view file) {
  LoadEnvironmentFile(cut_and_clip(file, kKeyOrFileLimit));
}

void reset_environment() {
  reset_char_tables();
  reset_date_names();
  clear_message_overrides();
  detail::long_file_name_switch() = true;
  intl_settings() = IntlSettings{};
  build_locale_pictures();
  initialised() = false;
}

}  // namespace vtn
