#include "runtime/ui/icon.hpp"

#include <cctype>

namespace vtn {

IconSpec parse_icon_text(std::string_view text) {
  if (text.empty()) return {};
  auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
  if (byte(0) == 0xFF && (byte(1) == 0x01 || byte(1) == 0x02)) {
    int32_t number = (byte(2) | (byte(3) << 8)) - 1;
    return {byte(1) == 0x01 ? IconKind::kSystem : IconKind::kResourceNumber, number, {}};
  }
  if (text.front() == '~') return {IconKind::kResourceName, 0, std::string(text.substr(1))};

  // "name[index]": the index is the digits inside a closing pair of brackets.
  IconSpec file{IconKind::kFile, 0, std::string(text)};
  if (text.back() == ']') {
    size_t open = text.rfind('[');
    if (open != std::string_view::npos && open + 2 <= text.size() - 1) {
      std::string_view digits = text.substr(open + 1, text.size() - open - 2);
      bool all_digits = !digits.empty() && digits.size() <= 6;
      for (char c : digits) all_digits = all_digits && std::isdigit(static_cast<unsigned char>(c));
      if (all_digits) {
        file.name = std::string(text.substr(0, open));
        file.number = std::stoi(std::string(digits));
      }
    }
  }
  return file;
}

std::string describe_icon(const IconSpec& icon) {
  switch (icon.kind) {
    case IconKind::kNone:
      return "none";
    case IconKind::kSystem:
      switch (icon.number) {
        case kIconHand:
          return "stop";
        case kIconQuestion:
          return "question";
        case kIconExclamation:
          return "exclamation";
        case kIconAsterisk:
          return "information";
        case kIconApplication:
          return "application";
        default:
          return "system " + std::to_string(icon.number);
      }
    case IconKind::kResourceNumber:
      return "resource " + std::to_string(icon.number);
    case IconKind::kResourceName:
      return "resource ~" + icon.name;
    case IconKind::kFile:
      return "file " + icon.name + "[" + std::to_string(icon.number) + "]";
  }
  return "none";
}

}  // namespace vtn
