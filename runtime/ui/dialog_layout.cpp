#include "runtime/ui/dialog_layout.hpp"

#include <algorithm>

namespace vtn {

FontMetrics font_metrics_from(int alphabet_width, int font_height) {
  return {(alphabet_width / 26 + 1) / 2, font_height};
}

int dialog_x(int units, FontMetrics m) {
  return (units * m.base_x + 3) / 4;
}
int dialog_y(int units, FontMetrics m) {
  return (units * m.base_y + 7) / 8;
}
int pixels_to_dialog_x(int pixels, FontMetrics m) {
  return m.base_x > 0 ? 4 * pixels / m.base_x : 0;
}
int pixels_to_dialog_y(int pixels, FontMetrics m) {
  return m.base_y > 0 ? 8 * pixels / m.base_y : 0;
}

namespace {

constexpr int kTabColumns = 8;

std::string expand_tabs(std::string_view line) {
  std::string out;
  for (char c : line) {
    if (c == '\t') {
      do {
        out.push_back(' ');
      } while (out.size() % kTabColumns != 0);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Wraps one source line (no line breaks inside) into `out`.
void wrap_line(const std::string& line, int max_width,
               const std::function<int(std::string_view)>& measure, std::vector<std::string>& out) {
  size_t start = 0;  // start of the output line being built
  while (true) {
    // Take words while the line still fits.
    size_t end = start;  // end of the last word that fits
    size_t pos = start;
    while (pos < line.size()) {
      size_t word_end = line.find(' ', pos);
      if (word_end == std::string::npos) word_end = line.size();
      std::string_view candidate(line.data() + start, word_end - start);
      if (end > start && measure(candidate) > max_width) break;
      end = word_end;
      if (measure(candidate) > max_width) break;  // a lone over-long word
      pos = word_end;
      while (pos < line.size() && line[pos] == ' ') ++pos;
    }
    if (end == start) end = pos;  // nothing but blanks
    out.emplace_back(line.substr(start, end - start));
    // Blanks at a break vanish.
    size_t next = end;
    while (next < line.size() && line[next] == ' ') ++next;
    if (next >= line.size()) return;
    start = next;
  }
}

}  // namespace

WrappedText wrap_text(std::string_view text, int max_width,
                      const std::function<int(std::string_view)>& measure, int line_height) {
  WrappedText result;
  size_t pos = 0;
  while (true) {
    size_t brk = text.find_first_of("\r\n", pos);
    std::string_view source = text.substr(pos, brk == std::string_view::npos ? brk : brk - pos);
    wrap_line(expand_tabs(source), max_width, measure, result.lines);
    if (brk == std::string_view::npos) break;
    pos = brk + 1;
    if (text[brk] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  for (const std::string& line : result.lines) {
    result.width = std::max(result.width, measure(line));
  }
  result.height = static_cast<int>(result.lines.size()) * line_height;
  return result;
}

DialogLayout layout_dialog(FontMetrics m, int measured_width, int text_height, int icon_width,
                           int icon_height, int button_count) {
  DialogLayout layout;
  const int margin = dialog_x(5, m);
  const int w = measured_width + 10;
  const int h = text_height;

  int content_height = std::max(h + 2 * margin, dialog_y(45, m));
  int width = w + 2 * margin;
  int text_left = margin;
  if (icon_width > 0 && icon_height > 0) {
    text_left = 2 * margin + icon_width;
    width += text_left;
    layout.icon = Rect{margin, (content_height - icon_height) / 2, icon_width, icon_height};
  }
  layout.text = Rect{text_left, (content_height - h) / 2, w, h};

  const int n = std::max(button_count, 0);
  const int button_width = dialog_x(50, m);
  const int row_width = n * button_width + (n > 0 ? (n - 1) * margin : 0);
  if (row_width > width - text_left) width = text_left + row_width + 2 * margin;
  int x = (width - row_width) / 2;
  for (int i = 0; i < n; ++i) {
    layout.buttons.push_back(Rect{x, content_height, button_width, dialog_y(14, m)});
    x += button_width + margin;
  }

  layout.width = width;
  layout.height = content_height + dialog_y(5, m) + dialog_y(14, m);
  layout.width_units = pixels_to_dialog_x(layout.width, m);
  layout.height_units = pixels_to_dialog_y(layout.height, m);
  return layout;
}

}  // namespace vtn
