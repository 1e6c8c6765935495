// The message box's eight standard buttons: Windows control identifier, value bit, built-in
// caption, and the override number under which the locale keeps a replacement caption
// (VTNBUTTON sets 7F00h + position).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vtn {

inline constexpr uint32_t kButtonOk = 1;
inline constexpr uint32_t kButtonYes = 2;
inline constexpr uint32_t kButtonNo = 4;
inline constexpr uint32_t kButtonAbort = 8;
inline constexpr uint32_t kButtonRetry = 16;
inline constexpr uint32_t kButtonIgnore = 32;
inline constexpr uint32_t kButtonCancel = 64;
inline constexpr uint32_t kButtonHelp = 128;

// Control identifiers with a meaning of their own: Escape sends kIdCancel.
inline constexpr int32_t kIdOk = 1;
inline constexpr int32_t kIdCancel = 2;
// Custom buttons whose text is no built-in caption are numbered from here.
inline constexpr int32_t kFirstCustomId = 100;

inline constexpr int32_t kButtonOverrideBase = 0x7F00;

struct StandardButton {
  int32_t identifier;
  uint32_t value;
  std::string_view caption;  // built-in, 1251 (ASCII)
  std::string_view name;     // plain name for logs and answers
};

inline constexpr std::array<StandardButton, 8> kStandardButtons{{
    {1, kButtonOk, "OK", "OK"},
    {6, kButtonYes, "&Yes", "Yes"},
    {7, kButtonNo, "&No", "No"},
    {3, kButtonAbort, "&Abort", "Abort"},
    {4, kButtonRetry, "&Retry", "Retry"},
    {5, kButtonIgnore, "&Ignore", "Ignore"},
    {2, kButtonCancel, "Cancel", "Cancel"},
    {9, kButtonHelp, "&Help", "Help"},
}};

// The caption of standard button `position` (0..7): the locale's override when one is set,
// otherwise the built-in caption.
std::string standard_button_caption(size_t position);

}  // namespace vtn
