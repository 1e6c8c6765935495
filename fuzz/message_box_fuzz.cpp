// Message-box arguments and icon files of any content: the dialog model, the word wrap and the
// icon decoder must stay inside their input and give a box that can be shown.
//
// Input: byte 0 chooses the reader (even: the four texts of a box, split at NUL bytes, with bytes
// 1 and 2 as the buttons value and the default; odd: an icon file, image index from byte 1).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "runtime/ui/dialog_layout.hpp"
#include "runtime/ui/icon.hpp"
#include "runtime/ui/icon_file.hpp"
#include "runtime/ui/message_dialog.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::string_view next_text(std::string_view& rest) {
  const size_t end = rest.find('\0');
  const std::string_view text = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  if ((data[0] & 1) != 0) {
    const std::span<const uint8_t> file(data + 2, size - 2);
    if (auto image = vtn::decode_icon_file(file, data[1] % 4)) {
      check(image->png.empty() ? image->rgba.size() == static_cast<size_t>(image->width) *
                                                           static_cast<size_t>(image->height) * 4
                               : image->rgba.empty());
    }
    return 0;
  }
  std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string_view text = next_text(rest);
  const std::string_view caption = next_text(rest);
  const std::string_view icon = next_text(rest);
  const std::string_view buttons = next_text(rest);
  const vtn::DialogModel model =
      vtn::build_message_dialog(text, caption, icon, buttons, data[1], data[2]);
  check(!model.shown_buttons().empty());
  check(model.default_index() < model.shown_buttons().size());
  vtn::parse_icon_text(icon);

  const auto measure = [](std::string_view run) { return static_cast<int>(run.size()) * 6; };
  const vtn::WrappedText wrapped = vtn::wrap_text(model.text, 300, measure, 13);
  check(wrapped.height == static_cast<int>(wrapped.lines.size()) * 13);
  for (const std::string& line : wrapped.lines) check(measure(line) <= wrapped.width);
  return 0;
}
