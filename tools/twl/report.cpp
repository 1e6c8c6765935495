#include <cstdio>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_messages.hpp"
#include "tools/twl/commands.hpp"

namespace twl {

int report_error(const std::string& name, int32_t code, const std::string& detail) {
  std::string text = vtn::platform::ansi_to_utf8(vtn::error_message(code));
  if (!detail.empty()) text += " (" + detail + ")";
  std::fprintf(stderr, "twl: %s: error %d: %s\n", name.c_str(), code, text.c_str());
  return kExitRefused;
}

}  // namespace twl
