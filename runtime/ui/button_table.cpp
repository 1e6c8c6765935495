#include "runtime/ui/button_table.hpp"

#include "runtime/values/error_messages.hpp"

namespace vtn {

std::string standard_button_caption(size_t position) {
  const StandardButton& row = kStandardButtons.at(position);
  if (auto text = find_message_override(kButtonOverrideBase + static_cast<int32_t>(position))) {
    return std::string(*text);
  }
  return std::string(row.caption);
}

}  // namespace vtn
