#include "runtime/files/tarnwell/internal_error.hpp"

#include "runtime/core/fatal_error.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn::tarnwell {

namespace {
constexpr int32_t kFileSystemError = 90;
}

InternalError::InternalError(int32_t check)
    : check_(check), what_("record file internal error " + std::to_string(check)) {}

void raise_internal_error(int32_t check) {
  throw InternalError(check);
}

void post_internal_error(int32_t check, bool file_current) {
  post_error(kFileSystemError);
  post_driver_error(std::to_string(check), file_current ? kCorruptionText : kNoFileText);
}

std::string internal_error_message(int32_t check, bool file_current) {
  std::string text = file_current ? kCorruptionText : kNoFileText;
  text += " (";
  text += std::to_string(check);
  text += ")";
  return text;
}

void fatal_internal_error(int32_t check, bool file_current) {
  const std::string text = internal_error_message(check, file_current);
  fatal_runtime_error(0, text.c_str());
}

}  // namespace vtn::tarnwell
