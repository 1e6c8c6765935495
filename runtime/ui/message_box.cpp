#include "runtime/ui/message_box.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/dialog_backend.hpp"

namespace vtn {

uint32_t DialogModel::effective_buttons() const {
  uint32_t all_rows = 0;
  for (const DialogButton& row : table) all_rows |= row.value;
  if ((buttons & all_rows) != 0) return buttons;
  return table.empty() ? kButtonOk : table.front().value;
}

std::vector<DialogButton> DialogModel::shown_buttons() const {
  std::vector<DialogButton> shown;
  const uint32_t set = effective_buttons();
  for (const DialogButton& row : table) {
    if ((row.value & set) != 0) shown.push_back(row);
  }
  return shown;
}

size_t DialogModel::default_index() const {
  const std::vector<DialogButton> shown = shown_buttons();
  size_t chosen = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    if ((shown[i].value & default_value) != 0) chosen = i;
  }
  return chosen;
}

uint32_t DialogModel::result_for(int32_t identifier) const {
  const uint32_t set = effective_buttons();
  for (const DialogButton& row : table) {
    if (row.identifier == identifier && (row.value & set) != 0) return row.value;
  }
  return 0;
}

std::vector<DialogButton> standard_button_rows(bool use_overrides) {
  std::vector<DialogButton> rows;
  for (size_t i = 0; i < kStandardButtons.size(); ++i) {
    const StandardButton& b = kStandardButtons[i];
    rows.push_back({b.identifier, b.value,
                    use_overrides ? standard_button_caption(i) : std::string(b.caption)});
  }
  return rows;
}

std::string strip_access_marks(std::string_view caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    // "&x" shows x (underlined on screen); "&&" shows one "&"; a final "&" shows nothing.
    if (caption[i] == '&' && ++i == caption.size()) break;
    out.push_back(caption[i]);
  }
  return out;
}

namespace {

struct PresetAnswers {
  bool loaded = false;
  std::deque<std::string> pending;
};

PresetAnswers& presets() {
  static PresetAnswers p;
  return p;
}

std::optional<std::string> next_preset_answer() {
  PresetAnswers& p = presets();
  if (!p.loaded) {
    p.loaded = true;
    if (const char* env = std::getenv("VTN_MSGBOX_ANSWERS")) {
      std::string_view all(env);
      while (!all.empty()) {
        size_t comma = all.find(',');
        std::string token(all.substr(0, comma));
        while (!token.empty() && std::isspace(static_cast<unsigned char>(token.front())))
          token.erase(token.begin());
        while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back())))
          token.pop_back();
        if (!token.empty()) p.pending.push_back(token);
        if (comma == std::string_view::npos) break;
        all.remove_prefix(comma + 1);
      }
    }
  }
  if (p.pending.empty()) return std::nullopt;
  std::string answer = p.pending.front();
  p.pending.pop_front();
  return answer;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The identifier of the shown button that an answer names, if any. Standard boxes take a value
// (1, 2, 4, ...) or a name (OK, Yes, No, ...); custom boxes take the button's number from 1.
std::optional<int32_t> identifier_for_answer(const DialogModel& model, const std::string& answer) {
  const std::vector<DialogButton> shown = model.shown_buttons();
  char* end = nullptr;
  const long number = std::strtol(answer.c_str(), &end, 10);
  const bool numeric = end != answer.c_str() && *end == '\0';
  for (const DialogButton& row : shown) {
    if (numeric) {
      const uint32_t wanted = model.custom ? (number >= 1 && number <= 32 ? 1u << (number - 1) : 0)
                                           : static_cast<uint32_t>(number);
      if (number > 0 && row.value == wanted) return row.identifier;
    } else if (!model.custom) {
      for (const StandardButton& b : kStandardButtons) {
        if (b.value == row.value && equal_ignoring_case(b.name, answer)) return row.identifier;
      }
    }
  }
  return std::nullopt;
}

std::string display(std::string_view ansi) {
  return platform::ansi_to_utf8(ansi);
}

void append_to_log(const DialogModel& model, int32_t identifier, bool preset) {
  const char* path = std::getenv("VTN_MSGBOX_LOG");
  if (path == nullptr || *path == '\0') return;
  std::ofstream log(path, std::ios::app | std::ios::binary);
  if (!log) {
    std::fprintf(stderr, "vtn: cannot append to the message-box log %s\n", path);
    return;
  }
  const std::vector<DialogButton> shown = model.shown_buttons();
  log << "caption: " << display(model.caption) << "\n";
  log << "icon: " << describe_icon(model.icon) << "\n";
  std::string_view text = model.text;
  while (true) {
    size_t brk = text.find('\n');
    std::string_view line = text.substr(0, brk);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    log << "text: " << display(line) << "\n";
    if (brk == std::string_view::npos) break;
    text.remove_prefix(brk + 1);
  }
  log << "buttons:";
  for (size_t i = 0; i < shown.size(); ++i) {
    log << (i == 0 ? " " : ", ") << display(strip_access_marks(shown[i].caption));
  }
  log << "\n";
  log << "default: " << display(strip_access_marks(shown[model.default_index()].caption)) << "\n";
  std::string answer = "none";
  for (const DialogButton& row : shown) {
    if (row.identifier == identifier) {
      answer = display(strip_access_marks(row.caption));
      break;
    }
  }
  log << "answer: " << answer << (preset ? " (preset)" : "") << "\n\n";
}

}  // namespace

void reset_preset_answers() {
  presets() = PresetAnswers{};
}

uint32_t show_dialog(const DialogModel& model) {
  const std::vector<DialogButton> shown = model.shown_buttons();
  if (shown.empty()) return 0;  // a custom box whose list was empty: nothing to press
  DialogBackend& backend = select_backend();

  int32_t identifier = 0;
  bool preset = false;
  if (std::optional<std::string> answer = next_preset_answer()) {
    preset = true;
    if (std::optional<int32_t> id = identifier_for_answer(model, *answer)) {
      identifier = *id;
    } else {
      identifier = shown[model.default_index()].identifier;
      std::fprintf(stderr,
                   "vtn: the preset answer \"%s\" names no button of the box \"%s\"; "
                   "the default button is taken\n",
                   answer->c_str(), display(model.caption).c_str());
    }
    backend.report_preset(model, identifier);
  } else {
    identifier = backend.run(model);
  }
  append_to_log(model, identifier, preset);
  return model.result_for(identifier);
}

namespace {

DialogModel standard_model(std::string_view text, std::string_view caption, uint32_t buttons,
                           uint32_t default_value, IconSpec icon, bool use_overrides) {
  DialogModel model;
  model.caption = std::string(caption);
  model.text = std::string(text);
  model.icon = std::move(icon);
  model.table = standard_button_rows(use_overrides);
  model.buttons = buttons;
  model.default_value = default_value;
  return model;
}

}  // namespace

uint32_t message_box_core(std::string_view text, std::string_view caption, uint32_t buttons,
                          uint32_t default_value, IconSpec icon) {
  return show_dialog(standard_model(text, caption, buttons, default_value, std::move(icon), true));
}

uint32_t plain_message_box(std::string_view text, std::string_view caption, uint32_t buttons,
                           uint32_t default_value, IconSpec icon) {
  return show_dialog(standard_model(text, caption, buttons, default_value, std::move(icon), false));
}

}  // namespace vtn
