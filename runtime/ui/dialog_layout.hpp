// The geometry of the message box: a pure computation on the dialog font's metrics and the
// measured size of the text, so that every backend places the icon, the text and the buttons in
// the same spots and the numbers can be checked without a window system.
//
//   +--------------------------------------+
//   | [icon]  text block (centred in H)    |  H = content height
//   |                                      |
//   |      [ btn ] [ btn ] [ btn ]         |  y = H, height Y(14), centred row
//   +--------------------------------------+  total height H + Y(5) + Y(14)
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtn {

// Base units of the dialog font, in pixels.
struct FontMetrics {
  int base_x = 0;
  int base_y = 0;
};

// base X = (width of the 52 letters "a".."z" "A".."Z" / 26 + 1) / 2, base Y = the font height.
FontMetrics font_metrics_from(int alphabet_width, int font_height);
inline constexpr std::string_view kMetricAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Dialog units to pixels and back (integer division throughout).
int dialog_x(int units, FontMetrics m);
int dialog_y(int units, FontMetrics m);
int pixels_to_dialog_x(int pixels, FontMetrics m);
int pixels_to_dialog_y(int pixels, FontMetrics m);

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// The text as it will be drawn: one entry per line, after word wrapping.
struct WrappedText {
  std::vector<std::string> lines;
  int width = 0;   // the widest line
  int height = 0;  // lines × line height
};

// Breaks `text` into lines at CR LF (or a lone CR or LF) and wraps each line at blanks so that
// it fits in `max_width`; a word wider than that stands alone on its line and overflows. Tabs
// expand to the next multiple of 8 columns; "&" is an ordinary character. `measure` gives the
// width of a run of text in pixels.
WrappedText wrap_text(std::string_view text, int max_width,
                      const std::function<int(std::string_view)>& measure, int line_height);

struct DialogLayout {
  std::optional<Rect> icon;
  Rect text;
  std::vector<Rect> buttons;  // one per shown button, in table order
  int width = 0;              // the box in pixels, as computed
  int height = 0;
  int width_units = 0;  // the box in dialog units
  int height_units = 0;
};

inline constexpr int kIconControlId = 2704;

// Lays out a box whose text measures `measured_width` by `text_height` pixels (as wrap_text
// found it within dialog_x(200)), with an icon of `icon_width` by `icon_height` (none when 0)
// and `button_count` buttons.
DialogLayout layout_dialog(FontMetrics m, int measured_width, int text_height, int icon_width,
                           int icon_height, int button_count);

}  // namespace vtn
