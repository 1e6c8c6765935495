// The message box: one optional icon, a block of text and a row of push buttons, shown modally;
// the answer is the value of the button pressed.
//
// A box is described by a DialogModel (texts in 1251) and shown by one of three backends:
//   gui     a real window (built when the toolkit is available; the default when DISPLAY is set)
//   tty     a box drawn on the terminal, buttons chosen by key (the default on a terminal)
//   stderr  the box printed to standard error and its default button taken (otherwise)
// VTN_MSGBOX names the backend. VTN_MSGBOX_ANSWERS (comma-separated button values, names, or
// numbers of custom buttons) answers the next boxes in order without asking anyone, and
// VTN_MSGBOX_LOG names a file to which every box is appended in UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ui/button_table.hpp"
#include "runtime/ui/icon.hpp"

namespace vtn {

struct DialogButton {
  int32_t identifier = 0;
  uint32_t value = 0;
  std::string caption;  // 1251; "&" marks the access key
};

struct DialogModel {
  std::string caption;  // 1251
  std::string text;     // 1251; lines separated by CR LF
  IconSpec icon;
  std::vector<DialogButton> table;  // all rows, in table order
  uint32_t buttons = 0;             // the value set B: rows whose value is in it are shown
  uint32_t default_value = 0;       // D
  bool system_modal = false;
  bool custom = false;  // the rows are custom buttons (answers are numbered from 1)

  // The rows shown, in table order (B = 0 shows the first row, OK).
  std::vector<DialogButton> shown_buttons() const;
  // The index among the shown rows of the default button: the last row in both B and D, or the
  // first shown row.
  size_t default_index() const;
  // The value of the row whose identifier is `identifier` and whose value is in B, or 0.
  uint32_t result_for(int32_t identifier) const;
  // B with 0 read as OK. A set that names no row at all is read the same way (as the first row):
  // a box without buttons could never be closed, since it has no close box and Escape works only
  // with Cancel.
  uint32_t effective_buttons() const;
};

// The eight standard rows with their captions: the locale's overrides when `use_overrides`.
std::vector<DialogButton> standard_button_rows(bool use_overrides);

// Shows the box through the chosen backend (or answers it from VTN_MSGBOX_ANSWERS), logs it,
// and returns the value of the button pressed, or 0.
uint32_t show_dialog(const DialogModel& model);

// The run-time's own box (HALT, the warnings): standard buttons with the override captions.
uint32_t message_box_core(std::string_view text, std::string_view caption, uint32_t buttons,
                          uint32_t default_value, IconSpec icon);

// The system's plain box (the version check, the fatal error): built-in captions, which the
// locale does not change.
uint32_t plain_message_box(std::string_view text, std::string_view caption, uint32_t buttons,
                           uint32_t default_value, IconSpec icon);

// Forgets the answers read from VTN_MSGBOX_ANSWERS so that the next box reads the variable
// again (tests).
void reset_preset_answers();

}  // namespace vtn
