#include "runtime/ui/dialog_layout.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vtn {
namespace {

// The metrics of an 8-point sans serif on a 96-dpi screen: base X 6, base Y 13.
constexpr FontMetrics kMetrics{6, 13};

TEST(DialogLayout, FontMetricsAndUnitConversions) {
  EXPECT_EQ(font_metrics_from(312, 13).base_x, 6);  // (312 / 26 + 1) / 2 = 13 / 2
  EXPECT_EQ(font_metrics_from(338, 16).base_x, 7);  // (13 + 1) / 2
  EXPECT_EQ(font_metrics_from(338, 16).base_y, 16);

  struct Case {
    int units, x, y;
  };
  for (const Case& c : {Case{5, 8, 9}, Case{14, 21, 23}, Case{45, 68, 74}, Case{50, 75, 82},
                        Case{200, 300, 325}, Case{0, 0, 0}}) {
    EXPECT_EQ(dialog_x(c.units, kMetrics), c.x) << c.units;
    EXPECT_EQ(dialog_y(c.units, kMetrics), c.y) << c.units;
  }
  EXPECT_EQ(pixels_to_dialog_x(126, kMetrics), 84);
  EXPECT_EQ(pixels_to_dialog_y(106, kMetrics), 65);
  EXPECT_EQ(pixels_to_dialog_x(10, FontMetrics{}), 0);  // no division by a zero metric
}

// Hand-computed boxes. X(5) = 8, X(50) = 75, Y(14) = 23, Y(5) = 9, Y(45) = 74.
TEST(DialogLayout, BoxesWithFixedMetrics) {
  struct Case {
    const char* name;
    int text_w, text_h, icon, buttons;
    Rect text;
    std::optional<Rect> icon_rect;
    std::vector<int> button_x;
    int button_y, width, height, width_units, height_units;
  };
  const Case cases[] = {
      // One line, one button: the content keeps its minimum height Y(45); the button is centred.
      {"plain", 100, 13, 0, 1, {8, 30, 110, 13}, std::nullopt, {25}, 74, 126, 106, 84, 65},
      // An icon moves the text right by 2 X(5) + 32 and widens the box; four buttons are wider
      // than what is left of it, so the box grows to fit the row.
      {"icon and four buttons",
       100,
       13,
       32,
       4,
       {48, 30, 110, 13},
       Rect{8, 21, 32, 32},
       {32, 115, 198, 281},
       74,
       388,
       106,
       258,
       65},
      // Ten lines: the content grows with the text, and the buttons move down with it.
      {"tall text",
       250,
       130,
       0,
       2,
       {8, 8, 260, 130},
       std::nullopt,
       {59, 142},
       146,
       276,
       178,
       184,
       109},
      // The widest text X(200) with an icon and Yes/No.
      {"wide text with icon",
       300,
       39,
       32,
       2,
       {48, 17, 310, 39},
       Rect{8, 21, 32, 32},
       {108, 191},
       74,
       374,
       106,
       249,
       65},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DialogLayout l = layout_dialog(kMetrics, c.text_w, c.text_h, c.icon, c.icon, c.buttons);
    EXPECT_EQ(l.text, c.text);
    EXPECT_EQ(l.icon, c.icon_rect);
    ASSERT_EQ(l.buttons.size(), c.button_x.size());
    for (size_t i = 0; i < l.buttons.size(); ++i) {
      EXPECT_EQ(l.buttons[i], (Rect{c.button_x[i], c.button_y, 75, 23})) << i;
    }
    EXPECT_EQ(l.width, c.width);
    EXPECT_EQ(l.height, c.height);
    EXPECT_EQ(l.width_units, c.width_units);
    EXPECT_EQ(l.height_units, c.height_units);
  }
}

int six_per_char(std::string_view s) {
  return static_cast<int>(s.size()) * 6;
}

TEST(DialogLayout, WrapsTextAtTheWidth) {
  struct Case {
    const char* text;
    int max_width;
    std::vector<std::string> lines;
    int width;
  };
  const Case cases[] = {
      {"aaaa bbbb cccc", 60, {"aaaa bbbb", "cccc"}, 54},
      {"short", 300, {"short"}, 30},
      // A word wider than the limit stands alone and overflows.
      {"abcdefghijkl mn", 60, {"abcdefghijkl", "mn"}, 72},
      // Blanks at a break vanish; blanks inside a line stay.
      {"aaaa      bbbbbb", 60, {"aaaa", "bbbbbb"}, 36},
      {"a  b", 60, {"a  b"}, 24},
      // Line breaks: CR LF, a lone LF, and an empty line between.
      {"x\r\n\r\ny\nz", 60, {"x", "", "y", "z"}, 6},
      // Tabs expand to the next multiple of 8 columns; "&" is an ordinary character.
      {"a\tb&c", 300, {"a       b&c"}, 66},
      {"", 60, {""}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const WrappedText w = wrap_text(c.text, c.max_width, six_per_char, 13);
    EXPECT_EQ(w.lines, c.lines);
    EXPECT_EQ(w.width, c.width);
    EXPECT_EQ(w.height, static_cast<int>(c.lines.size()) * 13);
  }
}

TEST(DialogLayout, LongTextWrapsWithinTwoHundredUnits) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "word ";
  const int limit = dialog_x(200, kMetrics);  // 300 pixels: 50 characters
  const WrappedText w = wrap_text(text, limit, six_per_char, 13);
  ASSERT_GT(w.lines.size(), 1u);
  for (const std::string& line : w.lines) EXPECT_LE(six_per_char(line), limit) << line;
  EXPECT_EQ(w.lines[0], "word word word word word word word word word word");
}

}  // namespace
}  // namespace vtn
