// MessageDialog: the language's message box. Text, caption, icon and buttons arrive on the
// string stack (the text on top); the buttons are either a number, the sum of the values of the
// standard buttons to show (1 OK, 2 Yes, 4 No, 8 Abort, 16 Retry, 32 Ignore, 64 Cancel, 128
// Help), or a list of up to eight custom captions separated by "|".
//
// A "|" in the text breaks the line. Standard boxes return the value of the button pressed;
// custom boxes return its number from 1 (and take their default as such a number). 0 means no
// button.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/ui/message_box.hpp"

namespace vtn {

inline constexpr size_t kMaxCustomButtons = 8;

// Pops text, caption, icon and buttons (in that order, text on top) and shows the box.
int32_t MessageDialog(uint32_t default_value, uint32_t style);

// Pushes the four texts and calls the above.
int32_t MessageDialog(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, uint32_t default_value, uint32_t style);

// The box that MessageDialog shows for these arguments (texts already popped).
DialogModel build_message_dialog(std::string_view text, std::string_view caption,
                                 std::string_view icon, std::string_view buttons,
                                 uint32_t default_value, uint32_t style);

// The answer MessageDialog returns for the value of the pressed button.
int32_t message_dialog_result(const DialogModel& model, uint32_t pressed_value);

}  // namespace vtn
