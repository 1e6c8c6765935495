// What icon a message box shows, decoded from the icon text of MessageDialog:
//   FF 01 lo hi   a system icon; the 16-bit number is the icon identifier plus 1
//   FF 02 lo hi   an icon resource of the program by number, again plus 1
//   "~name"       a named icon resource of the program
//   "file[n]"     an icon file, optionally with the index of the icon inside it
// An empty text means no icon.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn {

// Windows system icon identifiers.
inline constexpr int32_t kIconApplication = 32512;
inline constexpr int32_t kIconHand = 32513;  // the stop icon
inline constexpr int32_t kIconQuestion = 32514;
inline constexpr int32_t kIconExclamation = 32515;
inline constexpr int32_t kIconAsterisk = 32516;  // information

enum class IconKind : uint8_t {
  kNone,
  kSystem,          // number: the system icon identifier
  kResourceNumber,  // number: the program's resource number
  kResourceName,    // name: without the "~"
  kFile,            // name: the file; number: the index (0 when none is given)
};

struct IconSpec {
  IconKind kind = IconKind::kNone;
  int32_t number = 0;
  std::string name;

  static IconSpec system(int32_t identifier) { return {IconKind::kSystem, identifier, {}}; }
  bool operator==(const IconSpec&) const = default;
};

IconSpec parse_icon_text(std::string_view text);

// A short description for logs: "stop", "question", "exclamation", "information",
// "application", "system 32517", "resource 12", "resource ~NAME", "file x.ico[2]", "none".
std::string describe_icon(const IconSpec& icon);

}  // namespace vtn
