#include "runtime/ui/message_dialog.hpp"

#include <bit>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

std::string bars_to_line_breaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '|') {
      out += "\r\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

uint32_t parse_button_sum(std::string_view text) {
  uint32_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) break;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

std::vector<DialogButton> custom_rows(std::string_view list) {
  std::vector<DialogButton> rows;
  int32_t next_id = kFirstCustomId;
  while (rows.size() < kMaxCustomButtons) {
    const size_t bar = list.find('|');
    const std::string_view text = list.substr(0, bar);
    DialogButton row;
    row.value = 1u << rows.size();
    for (const StandardButton& b : kStandardButtons) {
      if (collated_compare(text, b.caption) == 0) {
        row.identifier = b.identifier;
        row.caption = std::string(b.caption);
        break;
      }
    }
    if (row.identifier == 0) {
      row.identifier = next_id++;
      row.caption = std::string(text);
    }
    rows.push_back(std::move(row));
    if (bar == std::string_view::npos) break;
    list.remove_prefix(bar + 1);
  }
  return rows;
}

}  // namespace

DialogModel build_message_dialog(std::string_view text, std::string_view caption,
                                 std::string_view icon, std::string_view buttons,
                                 uint32_t default_value, uint32_t style) {
  DialogModel model;
  model.text = bars_to_line_breaks(text);
  model.caption = std::string(caption);
  model.icon = parse_icon_text(icon);
  model.system_modal = style != 0;

  const bool custom = !buttons.empty() &&
                      (buttons.find('|') != std::string_view::npos || !is_digit(buttons.front()));
  if (custom) {
    model.custom = true;
    model.table = custom_rows(buttons);
    model.buttons = (1u << model.table.size()) - 1;
    model.default_value =
        default_value >= 1 && default_value <= model.table.size() ? 1u << (default_value - 1) : 0;
  } else {
    model.table = standard_button_rows(true);
    model.buttons = buttons.empty() ? 0 : parse_button_sum(buttons);
    model.default_value = default_value;
  }
  return model;
}

int32_t message_dialog_result(const DialogModel& model, uint32_t pressed_value) {
  if (!model.custom || pressed_value == 0) return static_cast<int32_t>(pressed_value);
  return std::countr_zero(pressed_value) + 1;
}

int32_t MessageDialog(uint32_t default_value, uint32_t style) {
  StringStack& stack = string_stack();
  const std::string text = stack.pop_string();
  const std::string caption = stack.pop_string();
  const std::string icon = stack.pop_string();
  const std::string buttons = stack.pop_string();
  const DialogModel model =
      build_message_dialog(text, caption, icon, buttons, default_value, style);
  return message_dialog_result(model, show_dialog(model));
}

int32_t MessageDialog(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, uint32_t default_value, uint32_t style) {
  StringStack& stack = string_stack();
  stack.push_copy(buttons);
  stack.push_copy(icon);
  stack.push_copy(caption);
  stack.push_copy(text);
  return MessageDialog(default_value, style);
}

}  // namespace vtn
