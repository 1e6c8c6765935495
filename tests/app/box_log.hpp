// Reads the message-box log (VTN_MSGBOX_LOG) back into boxes, so that tests can say exactly what a
// person would have seen.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace ferrule::testing_support {

struct LoggedBox {
  std::string caption, icon, text, buttons, default_button, answer;  // UTF-8
};

inline std::vector<LoggedBox> read_box_log(const std::string& path) {
  std::vector<LoggedBox> boxes;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  LoggedBox box;
  bool open = false;
  auto field = [&](const char* name, std::string& into) {
    const std::string prefix = std::string(name) + ": ";
    if (!line.starts_with(prefix)) return false;
    into = line.substr(prefix.size());
    open = true;
    return true;
  };
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (open) boxes.push_back(box);
      box = {};
      open = false;
      continue;
    }
    std::string text_line;
    if (field("text", text_line)) {
      box.text += (box.text.empty() ? "" : "\n") + text_line;
    } else if (line == "buttons:") {
      open = true;
    } else if (!field("caption", box.caption) && !field("icon", box.icon) &&
               !field("buttons", box.buttons) && !field("default", box.default_button)) {
      field("answer", box.answer);
    }
  }
  if (open) boxes.push_back(box);
  return boxes;
}

}  // namespace ferrule::testing_support
