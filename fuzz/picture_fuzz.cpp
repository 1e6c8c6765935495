// Compiles arbitrary picture texts and shows arbitrary values through them, then reads the
// results and arbitrary texts back. Input: one length byte, that many bytes of picture text, and
// the rest as the value (text, digits, a REAL and a serial are all taken from it).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/format/picture.hpp"
#include "runtime/format/picture_format.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Every formatted text is exactly as wide as the picture shows.
void check_width(const std::string& shown, const vtn::CompiledPicture& p) {
  check(shown.size() == static_cast<size_t>(p.display_width()));
}

void exercise(const vtn::CompiledPicture& p, std::string_view value) {
  double real = 0;
  if (value.size() >= sizeof real) std::memcpy(&real, value.data(), sizeof real);
  int32_t serial = 0;
  if (value.size() >= sizeof serial) std::memcpy(&serial, value.data(), sizeof serial);

  vtn::NumberDigits digits;
  for (size_t i = 1; i < value.size() && digits.digits.size() < 64; ++i) {
    digits.digits += static_cast<char>('0' + static_cast<uint8_t>(value[i]) % 10);
  }
  if (digits.digits.empty()) digits.digits = "0";
  digits.integer_digits = value.empty() ? 1 : static_cast<int8_t>(value[0]);
  digits.negative = !value.empty() && (value[0] & 1);

  const std::string shown[] = {
      vtn::format_real(real, p),
      vtn::format_real(static_cast<double>(serial), p),
      vtn::format_text(value, p),
      vtn::format_number(digits, p),
  };
  for (const std::string& s : shown) {
    check_width(s, p);
    vtn::deformat(s, p);
  }
  vtn::deformat(value, p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t length = std::min<size_t>(data[0], size - 1);
  const std::string picture_text(reinterpret_cast<const char*>(data + 1), length);
  const std::string_view value(reinterpret_cast<const char*>(data + 1 + length), size - 1 - length);

  vtn::CompiledPicture p;
  const bool compiled = vtn::compile_picture(picture_text, p);
  check(compiled || p.empty());
  check(p.cell_count <= vtn::CompiledPicture::kMaxCells);
  exercise(p, value);

  // The locale builders read settings texts of any shape.
  if (!value.empty() && (value[0] & 2)) {
    const vtn::CompiledPicture long_date = vtn::build_long_date_picture(picture_text);
    const vtn::CompiledPicture short_date = vtn::build_short_date_picture(picture_text);
    exercise(long_date, value);
    exercise(short_date, value);
  }
  return 0;
}
