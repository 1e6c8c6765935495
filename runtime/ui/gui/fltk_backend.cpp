// The window backend of the message box, on FLTK under X11.
//
// The box is laid out by layout_dialog() from the metrics of an 8-point sans serif at the
// screen's resolution (DejaVu Sans or whatever fontconfig gives for "sans", which covers
// Cyrillic), with the texts converted from 1251 to UTF-8. The default button has the focus and
// a dark frame; Enter or Space presses the focused button, a button's access letter presses it,
// Tab and the arrow keys move the focus. Escape presses Cancel when Cancel is shown and does
// nothing otherwise, and the window manager is asked for a frame without a close box (only
// Move in its menu), so the box ends only through one of its buttons.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_PNG_Image.H>
#include <FL/Fl_Shared_Image.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/dialog_backend.hpp"
#include "runtime/ui/dialog_layout.hpp"
#include "runtime/ui/icon_file.hpp"
#include "runtime/ui/window_library.hpp"

namespace vtn {
namespace {

constexpr int kSystemIconSize = 32;

std::string utf8(std::string_view ansi) {
  return platform::ansi_to_utf8(ansi);
}

// FLTK reads a leading "@" in a label as a symbol; doubling it shows the character.
std::string label_text(std::string_view ansi) {
  std::string out;
  for (char c : utf8(ansi)) {
    out.push_back(c);
    if (c == '@') out.push_back('@');
  }
  return out;
}

// The process-wide icon slot: the image loaded for the last box, kept until the next box
// replaces it or the window library releases its resources.
struct IconSlot {
  std::unique_ptr<Fl_Image> image;
  int32_t system_icon = 0;  // a system icon drawn by hand, when no image
  bool registered = false;
};

IconSlot& icon_slot() {
  static IconSlot slot;
  return slot;
}

void release_icon_slot() {
  icon_slot().image.reset();
  icon_slot().system_icon = 0;
}

// Loads the box's icon into the slot; false when there is none or it cannot be loaded.
bool load_icon(const IconSpec& icon) {
  IconSlot& slot = icon_slot();
  release_icon_slot();
  if (!slot.registered) {
    register_window_resource(&release_icon_slot);
    slot.registered = true;
  }
  switch (icon.kind) {
    case IconKind::kSystem:
      if (icon.number >= kIconApplication && icon.number <= kIconAsterisk) {
        slot.system_icon = icon.number;
        return true;
      }
      return false;
    case IconKind::kFile: {
      if (std::optional<IconImage> icon_image = load_icon_file(icon.name, icon.number)) {
        std::unique_ptr<Fl_Image> decoded;
        if (!icon_image->png.empty()) {
          decoded = std::make_unique<Fl_PNG_Image>(nullptr, icon_image->png.data(),
                                                   static_cast<int>(icon_image->png.size()));
        } else {
          decoded = std::make_unique<Fl_RGB_Image>(icon_image->rgba.data(), icon_image->width,
                                                   icon_image->height, 4);
        }
        // The copy owns its pixels; the decoded image only borrows them.
        if (decoded->w() > 0 && decoded->h() > 0) {
          slot.image.reset(decoded->copy(kSystemIconSize, kSystemIconSize));
        }
        return slot.image != nullptr;
      }
      // Other picture formats FLTK reads (PNG, BMP, GIF, XPM, JPEG) hold one image only.
      if (icon.number != 0) return false;
      fl_register_images();
      Fl_Shared_Image* shared = Fl_Shared_Image::get(icon.name.c_str());
      if (shared == nullptr) return false;
      slot.image.reset(shared->copy(kSystemIconSize, kSystemIconSize));
      shared->release();
      return slot.image != nullptr && slot.image->w() > 0;
    }
    default:
      // This program carries no icon resources.
      return false;
  }
}

class IconView : public Fl_Widget {
 public:
  IconView(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}

  void draw() override {
    const IconSlot& slot = icon_slot();
    if (slot.image) {
      slot.image->draw(x(), y(), w(), h());
      return;
    }
    const int cx = x() + w() / 2;
    const int cy = y() + h() / 2;
    const int r = std::min(w(), h()) / 2 - 1;
    switch (slot.system_icon) {
      case kIconHand:
        fl_color(fl_rgb_color(208, 32, 32));
        fl_pie(cx - r, cy - r, 2 * r, 2 * r, 0, 360);
        fl_color(FL_WHITE);
        fl_line_style(FL_SOLID | FL_CAP_ROUND, 4);
        fl_line(cx - r / 2, cy - r / 2, cx + r / 2, cy + r / 2);
        fl_line(cx - r / 2, cy + r / 2, cx + r / 2, cy - r / 2);
        fl_line_style(0);
        break;
      case kIconExclamation:
        fl_color(fl_rgb_color(250, 204, 20));
        fl_polygon(cx, y() + 1, x() + 1, y() + h() - 2, x() + w() - 2, y() + h() - 2);
        fl_color(FL_BLACK);
        fl_loop(cx, y() + 1, x() + 1, y() + h() - 2, x() + w() - 2, y() + h() - 2);
        draw_glyph("!", FL_BLACK, 4);
        break;
      case kIconQuestion:
      case kIconAsterisk:
        fl_color(fl_rgb_color(32, 96, 208));
        fl_pie(cx - r, cy - r, 2 * r, 2 * r, 0, 360);
        draw_glyph(slot.system_icon == kIconQuestion ? "?" : "i", FL_WHITE, 0);
        break;
      case kIconApplication:
        fl_color(FL_WHITE);
        fl_rectf(x() + 2, y() + 4, w() - 4, h() - 8);
        fl_color(fl_rgb_color(0, 0, 128));
        fl_rectf(x() + 2, y() + 4, w() - 4, 6);
        fl_color(FL_BLACK);
        fl_rect(x() + 2, y() + 4, w() - 4, h() - 8);
        break;
      default:
        break;
    }
  }

 private:
  void draw_glyph(const char* glyph, Fl_Color color, int drop) {
    fl_color(color);
    fl_font(FL_HELVETICA_BOLD, h() * 2 / 3);
    const int gw = static_cast<int>(fl_width(glyph));
    fl_draw(glyph, x() + (w() - gw) / 2, y() + (h() + fl_height()) / 2 - fl_descent() + drop / 2);
  }
};

// The text block: lines already wrapped, drawn as they are ("&" and "@" are plain characters).
class TextView : public Fl_Widget {
 public:
  TextView(int x, int y, int w, int h, std::vector<std::string> lines, Fl_Font font, int size)
      : Fl_Widget(x, y, w, h), lines_(std::move(lines)), font_(font), size_(size) {}

  void draw() override {
    fl_font(font_, size_);
    fl_color(FL_BLACK);
    int baseline = y() + fl_height() - fl_descent();
    for (const std::string& line : lines_) {
      fl_draw(line.c_str(), x(), baseline);
      baseline += fl_height();
    }
  }

 private:
  std::vector<std::string> lines_;
  Fl_Font font_;
  int size_;
};

class DialogButtonView : public Fl_Button {
 public:
  DialogButtonView(int x, int y, int w, int h, bool is_default)
      : Fl_Button(x, y, w, h), is_default_(is_default) {}

  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
      do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }

  void draw() override {
    Fl_Button::draw();
    if (is_default_ || Fl::focus() == this) {
      fl_color(FL_BLACK);
      fl_rect(x(), y(), w(), h());
    }
  }

 private:
  bool is_default_;
};

struct RunState {
  int32_t result = 0;
  bool has_cancel = false;
};

void button_pressed(Fl_Widget* widget, void* data) {
  auto* state = static_cast<RunState*>(widget->window()->user_data());
  state->result = static_cast<int32_t>(reinterpret_cast<intptr_t>(data));
}

// The window's callback runs for Escape and for a close request of the window manager; only
// Escape with Cancel shown ends the box.
void window_closing(Fl_Widget*, void* data) {
  auto* state = static_cast<RunState*>(data);
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape && state->has_cancel) {
    state->result = kIdCancel;
  }
}

// Asks the window manager for a frame with a title and a menu that only moves (no close box,
// no resizing, no minimising or maximising).
void restrict_frame(Fl_Window& window) {
  struct MotifHints {
    unsigned long flags, functions, decorations;
    long input_mode;
    unsigned long status;
  };
  constexpr unsigned long kFunctions = 1, kDecorations = 2, kFuncMove = 4;
  constexpr unsigned long kDecorBorder = 2, kDecorTitle = 8, kDecorMenu = 16;
  MotifHints hints{kFunctions | kDecorations, kFuncMove, kDecorBorder | kDecorTitle | kDecorMenu, 0,
                   0};
  // Window managers re-read these hints when they change, so setting them on the mapped window
  // is enough. One that ignores them still cannot close the box: the close request is dropped.
  Atom property = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, fl_xid(&window), property, property, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&hints), 5);
}

class GuiBackend final : public DialogBackend {
 public:
  std::string_view name() const override { return "gui"; }

  int32_t run(const DialogModel& model) override {
    const std::vector<DialogButton> shown = model.shown_buttons();
    const size_t default_index = model.default_index();

    float hdpi = 96, vdpi = 96;
    Fl::screen_dpi(hdpi, vdpi);
    if (vdpi < 50 || vdpi > 400) vdpi = 96;
    const Fl_Font font = three_d_look() ? FL_HELVETICA : FL_HELVETICA_BOLD;
    const int size = std::max(6, static_cast<int>((8 * vdpi + 36) / 72));
    fl_font(font, size);
    const FontMetrics m = font_metrics_from(
        static_cast<int>(fl_width(std::string(kMetricAlphabet).c_str())), fl_height());
    auto measure = [](std::string_view ansi) {
      return static_cast<int>(fl_width(utf8(ansi).c_str()));
    };
    WrappedText text = wrap_text(model.text, dialog_x(200, m), measure, fl_height());

    const bool with_icon = load_icon(model.icon);
    const int icon_size = with_icon ? kSystemIconSize : 0;
    const DialogLayout layout = layout_dialog(m, text.width, text.height, icon_size, icon_size,
                                              static_cast<int>(shown.size()));
    const int width = dialog_x(layout.width_units, m);
    const int height = dialog_y(layout.height_units, m);

    RunState state;
    for (const DialogButton& b : shown) state.has_cancel |= b.identifier == kIdCancel;

    Fl_Double_Window window(width, height);
    window.copy_label(utf8(model.caption).c_str());
    window.user_data(&state);
    window.callback(window_closing, &state);
    window.color(FL_BACKGROUND_COLOR);
    if (layout.icon) {
      new IconView(layout.icon->x, layout.icon->y, layout.icon->width, layout.icon->height);
    }
    std::vector<std::string> lines;
    for (const std::string& line : text.lines) lines.push_back(utf8(line));
    new TextView(layout.text.x, layout.text.y, layout.text.width, layout.text.height,
                 std::move(lines), font, size);
    std::vector<DialogButtonView*> buttons;
    for (size_t i = 0; i < shown.size(); ++i) {
      const Rect& r = layout.buttons[i];
      auto* button = new DialogButtonView(r.x, r.y, r.width, r.height, i == default_index);
      button->copy_label(label_text(shown[i].caption).c_str());
      button->labelfont(font);
      button->labelsize(size);
      button->callback(button_pressed,
                       reinterpret_cast<void*>(static_cast<intptr_t>(shown[i].identifier)));
      buttons.push_back(button);
    }
    window.end();
    window.set_modal();

    int sx = 0, sy = 0, sw = 0, sh = 0;
    Fl::screen_work_area(sx, sy, sw, sh);
    int x = sx + (sw - width) / 2;
    int y = sy + (sh - height) / 2;
    x = std::max(sx, std::min(x, sx + sw - width));
    y = std::max(sy, std::min(y, sy + sh - height));
    window.position(x, y);

    Fl_Widget* previous_focus = Fl::focus();
    window.show();
    restrict_frame(window);
    buttons[default_index]->take_focus();
    while (state.result == 0 && window.shown()) Fl::wait();
    window.hide();
    Fl::flush();
    if (previous_focus != nullptr && previous_focus->window() != nullptr) {
      previous_focus->take_focus();
    }
    return state.result;
  }
};

}  // namespace

DialogBackend* gui_backend() {
  // Open the display ourselves: FLTK ends the process when it cannot, and a program without a
  // display should fall back to the terminal instead.
  static int state = 0;  // 0 untried, 1 open, -1 unavailable
  if (state == 0) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
      state = -1;
    } else {
      fl_open_display(display);
      Fl::visible_focus(1);
      state = 1;
    }
  }
  if (state < 0) return nullptr;
  static GuiBackend backend;
  return &backend;
}

}  // namespace vtn
