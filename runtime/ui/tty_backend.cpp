// The terminal backend: the box is drawn with line-drawing characters on standard error and a
// button is chosen from standard input. Enter or Space presses the focused button (the default
// one at first); Tab and the arrow keys move the focus; a button's access letter or its number
// presses it; Escape (or Ctrl+C) presses Cancel when Cancel is shown and is ignored otherwise.
// End of input takes the focused button, so a closed terminal never hangs the program.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/dialog_backend.hpp"
#include "runtime/ui/dialog_layout.hpp"
#include "runtime/values/char_tables.hpp"

namespace vtn {
namespace {

constexpr int kWrapColumns = 60;

void write_out(const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(STDERR_FILENO, s.data() + done, s.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string repeat(std::string_view piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

const char* icon_marker(const IconSpec& icon) {
  if (icon.kind != IconKind::kSystem) return icon.kind == IconKind::kNone ? "" : "(*)";
  switch (icon.number) {
    case kIconHand:
      return "(X)";
    case kIconQuestion:
      return "(?)";
    case kIconExclamation:
      return "(!)";
    case kIconAsterisk:
      return "(i)";
    default:
      return "(*)";
  }
}

// Upper case in 1251 as the terminal user means it, whatever the locale's case tables say:
// access keys match without regard to case, as they do in a window.
uint8_t fold_1251(uint8_t c) {
  constexpr std::pair<uint8_t, uint8_t> kPairs[] = {
      {0x90, 0x80}, {0x83, 0x81}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
      {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xBC, 0xA3}, {0xB4, 0xA5},
      {0xB8, 0xA8}, {0xBA, 0xAA}, {0xBF, 0xAF}, {0xB3, 0xB2}, {0xBE, 0xBD}};
  if ((c >= 'a' && c <= 'z') || c >= 0xE0) return static_cast<uint8_t>(c - 0x20);
  for (const auto& [lower, upper] : kPairs) {
    if (c == lower) return upper;
  }
  return c;
}

bool same_letter(uint8_t a, uint8_t b) {
  return to_upper_char(a) == to_upper_char(b) || fold_1251(a) == fold_1251(b);
}

// The access letter of a caption (the character after a single "&"); 0 for none.
uint8_t access_letter(std::string_view caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (caption[i + 1] == '&') {
        ++i;
        continue;
      }
      return static_cast<uint8_t>(caption[i + 1]);
    }
  }
  return 0;
}

// "[ Caption ]" with the access letter underlined, in reverse video when focused. Returns the
// visible width through `width`.
std::string button_label(std::string_view caption, bool focused, int& width) {
  std::string out = focused ? "\x1b[7m[ " : "[ ";
  width = 4;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) {
      ++i;
      if (caption[i] != '&') {
        out += "\x1b[4m" + platform::ansi_to_utf8(caption.substr(i, 1)) + "\x1b[24m";
        ++width;
        continue;
      }
    }
    out += platform::ansi_to_utf8(caption.substr(i, 1));
    ++width;
  }
  out += focused ? " ]\x1b[27m" : " ]";
  return out;
}

class RawMode {
 public:
  RawMode() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0;
  }
  ~RawMode() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

// One byte of input; -1 at the end of input or on an error; -2 when `timeout_ms` passed.
int read_byte(int timeout_ms) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int ready = ::poll(&p, 1, timeout_ms);
  if (ready == 0) return -2;
  if (ready < 0) return -1;
  unsigned char c = 0;
  return ::read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
}

class TtyBackend final : public DialogBackend {
 public:
  std::string_view name() const override { return "tty"; }

  int32_t run(const DialogModel& model) override {
    // Raw mode first: it drops keys typed before the box was drawn, so that none answers it.
    RawMode raw;
    const std::vector<DialogButton> shown = model.shown_buttons();
    size_t focus = model.default_index();
    const std::string marker = icon_marker(model.icon);

    auto measure = [](std::string_view s) { return static_cast<int>(s.size()); };
    WrappedText text = wrap_text(model.text, kWrapColumns, measure, 1);
    const int indent = marker.empty() ? 0 : static_cast<int>(marker.size()) + 2;
    int buttons_width = 0;
    for (const DialogButton& b : shown) {
      int w = 0;
      button_label(b.caption, false, w);
      buttons_width += w + 2;
    }
    const int caption_width = static_cast<int>(model.caption.size()) + 4;
    int inner = std::max({text.width + indent, buttons_width, caption_width, 20}) + 2;

    std::string out = "\n\u250c\u2500 " + platform::ansi_to_utf8(model.caption) + " " +
                      repeat("\u2500", inner - caption_width + 1) + "\u2510\n";
    for (size_t i = 0; i < text.lines.size(); ++i) {
      std::string lead = i == 0 ? marker + "  " : std::string(static_cast<size_t>(indent), ' ');
      if (marker.empty()) lead.clear();
      int pad = inner - indent - static_cast<int>(text.lines[i].size()) - 1;
      out += "\u2502 " + lead + platform::ansi_to_utf8(text.lines[i]) +
             std::string(static_cast<size_t>(std::max(pad, 0)), ' ') + "\u2502\n";
    }
    out += "\u2502" + std::string(static_cast<size_t>(inner), ' ') + "\u2502\n";
    write_out(out);
    draw_buttons(shown, focus, inner);
    write_out("\n\u2514" + repeat("\u2500", inner) + "\u2518\x1b[1A\r");

    int32_t chosen = 0;
    while (chosen == 0) {
      int c = read_byte(-1);
      if (c == -1) {
        chosen = shown[focus].identifier;
      } else if (c == '\r' || c == '\n' || c == ' ') {
        chosen = shown[focus].identifier;
      } else if (c == '\t') {
        focus = (focus + 1) % shown.size();
      } else if (c == 3 || c == 0x1b) {
        int next = c == 0x1b ? read_byte(50) : -2;
        if (next == '[' || next == 'O') {
          int key = read_byte(50);
          if (key == 'C' || key == 'B') focus = (focus + 1) % shown.size();
          if (key == 'D' || key == 'A' || key == 'Z')
            focus = (focus + shown.size() - 1) % shown.size();
        } else if (next == -2 || next == -1) {
          for (const DialogButton& b : shown) {
            if (b.identifier == kIdCancel) chosen = kIdCancel;
          }
        }
      } else {
        chosen = key_choice(shown, c);
      }
      draw_buttons(shown, focus, inner);
    }
    write_out("\x1b[1B\r\n");
    return chosen;
  }

 private:
  static void draw_buttons(const std::vector<DialogButton>& shown, size_t focus, int inner) {
    std::string row;
    int width = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
      int w = 0;
      if (i > 0) {
        row += "  ";
        width += 2;
      }
      row += button_label(shown[i].caption, i == focus, w);
      width += w;
    }
    int left = std::max((inner - width) / 2, 0);
    std::string line = "\r\u2502" + std::string(static_cast<size_t>(left), ' ') + row +
                       std::string(static_cast<size_t>(std::max(inner - left - width, 0)), ' ') +
                       "\u2502";
    write_out(line);
  }

  // A button chosen by its access letter or by its number; 0 for none.
  static int32_t key_choice(const std::vector<DialogButton>& shown, int first_byte) {
    std::string utf8(1, static_cast<char>(first_byte));
    int extra = (first_byte & 0xE0) == 0xC0 ? 1 : (first_byte & 0xF0) == 0xE0 ? 2 : 0;
    for (int i = 0; i < extra; ++i) {
      int c = read_byte(50);
      if (c < 0) return 0;
      utf8.push_back(static_cast<char>(c));
    }
    const std::string ansi = platform::utf8_to_ansi(utf8);
    if (ansi.size() != 1) return 0;
    const uint8_t key = static_cast<uint8_t>(ansi[0]);
    for (const DialogButton& b : shown) {
      const uint8_t letter = access_letter(b.caption);
      if (letter != 0 && same_letter(letter, key)) return b.identifier;
    }
    if (key >= '1' && key <= '9' && static_cast<size_t>(key - '0') <= shown.size()) {
      return shown[key - '1'].identifier;
    }
    return 0;
  }
};

}  // namespace

DialogBackend& tty_backend() {
  static TtyBackend backend;
  return backend;
}

}  // namespace vtn
