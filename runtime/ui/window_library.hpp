// The parts of the window library that a program without windows of its own still meets: the
// keystroke aliases (KEYALIAS), the global properties (the character set of the fonts the
// library creates), the handlers a program installs at start-up, and the clean-up at the end
// of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace vtn {

// A key code: the virtual-key code in the low byte, plus 100h with Shift and 200h with Ctrl.
inline constexpr uint32_t kKeyShift = 0x100;
inline constexpr uint32_t kKeyCtrl = 0x200;

struct KeyAlias {
  uint32_t pressed = 0;
  uint32_t delivered = 0;
};

// KEYALIAS(pressed, delivered): key `pressed` is delivered as `delivered` from now on. Aliasing a
// key to itself removes its alias.
void KEYALIAS(uint32_t pressed, uint32_t delivered);
// The key a press of `pressed` delivers.
uint32_t aliased_key(uint32_t pressed);
std::span<const KeyAlias> key_aliases();
void clear_key_aliases();

// Global properties of the window library, by number.
inline constexpr uint32_t kPropFontCharSet = 0x7A39;
inline constexpr int32_t kAnsiCharSet = 0;
inline constexpr int32_t kCyrillicCharSet = 204;

void set_global_property(uint32_t property, int32_t value);
std::optional<int32_t> global_property(uint32_t property);
// The character set of the fonts the library creates (0, ANSI, until set).
int32_t font_char_set();

// Windows the library keeps open; the end-of-program clean-up closes each one by its own close
// operation. (The message box is modal and never outlives its call.)
using CloseWindow = void (*)(void* window);
void register_open_window(void* window, CloseWindow close);
void unregister_open_window(void* window);

// The start-up entry of the window and control library. This run-time has no window classes
// beyond the message box, so there is nothing to hook yet; the call only records that start-up
// reached the library (the clean-up below depends on nothing else).
void install_window_library_handlers();
bool window_library_handlers_installed();

// End of program: closes every window still open (most recent first) and releases the
// library's resources (the icon slot of the message box among them). There is no library timer
// to stop in this run-time.
void window_library_cleanup();

// A resource the library releases at clean-up (the message box registers its icon slot).
using ReleaseResource = void (*)();
void register_window_resource(ReleaseResource release);

}  // namespace vtn

namespace vtn {

// The three-dimensional look of dialogs: on, the message box uses an 8-point regular sans
// serif; off, the older bold one. On by default.
void set_three_d_look(bool on);
bool three_d_look();

}  // namespace vtn
