// FORMAT: the value, whatever its form, is brought to the form the picture's kind shows (a digit
// string for numbers, a serial for dates and times, text for @S and @K) and handed to the kind's
// formatter.
#include "runtime/format/picture_format.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "runtime/format/picture_detail.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using picture_detail::blank_output;

bool is_number_kind(PictureKind kind) {
  return kind == PictureKind::kNumeric || kind == PictureKind::kScientific ||
         kind == PictureKind::kPattern;
}

bool is_text_kind(PictureKind kind) {
  return kind == PictureKind::kString || kind == PictureKind::kKeyIn;
}

bool is_zero(const NumberDigits& number) {
  return number.digits.find_first_not_of('0') == std::string::npos;
}

// A serial from the integer part of a number; values beyond 32 bits are no date or time.
int32_t number_to_serial(const NumberDigits& number) {
  int64_t value = 0;
  for (int k = 0; k < number.integer_digits; ++k) {
    const char digit = k < static_cast<int>(number.digits.size()) ? number.digits[k] : '0';
    value = value * 10 + (digit - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(number.negative ? -value : value);
}

int32_t real_to_serial(double value) {
  if (!std::isfinite(value) || value >= 2147483648.0 || value <= -2147483649.0) return 0;
  return static_cast<int32_t>(value);  // toward zero, as every REAL stored into an integer
}

// A digit string as the plain text of the number: "-12.5", "0.05", "3".
std::string number_to_text(const NumberDigits& number) {
  const int size = static_cast<int>(number.digits.size());
  const int n = std::max(-400, std::min(number.integer_digits, 400));
  std::string integer;
  std::string fraction;
  for (int k = 0; k < n; ++k) integer += k < size ? number.digits[k] : '0';
  if (n < 0) fraction.assign(static_cast<size_t>(-n), '0');
  if (n < size) fraction.append(number.digits, static_cast<size_t>(std::max(n, 0)));
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  const size_t last = fraction.find_last_not_of('0');
  fraction.resize(last == std::string::npos ? 0 : last + 1);
  if (integer.empty()) integer = "0";
  std::string text = number.negative && (integer != "0" || !fraction.empty()) ? "-" : "";
  text += integer;
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

std::string copy_text(std::string_view text, const CompiledPicture& p) {
  std::string out(text.substr(0, p.cell_count));
  out.resize(p.cell_count, ' ');
  return out;
}

std::string format_serial(int32_t serial, const CompiledPicture& p) {
  if (p.blank && serial == 0) return blank_output(p);
  return p.kind == PictureKind::kDate ? picture_detail::format_date(serial, p)
                                      : picture_detail::format_time(serial, p);
}

NumberDigits text_to_number_digits(std::string_view text) {
  const DecimalText d = read_decimal_text(text);
  NumberDigits n;
  if (d.digits.empty()) {
    n.digits = "0";
    return n;
  }
  n.digits = d.digits;
  n.negative = d.negative;
  n.integer_digits = static_cast<int>(d.digits.size()) + d.exponent;
  return n;
}

// The pictures that FORMAT and DEFORMAT get as text are mostly the same few: the last ones
// compiled are kept, keyed by their text, per thread. Pictures that copy the locale's date and
// time pictures (@D17, @D18, @T7, @T8) are compiled on every call, so that a change of the locale
// shows at once; so are texts longer than any ordinary picture.
class PictureCache {
 public:
  const CompiledPicture* find(std::string_view text) const {
    for (const Entry& e : entries_) {
      if (e.used && e.length == text.size() && std::memcmp(e.text, text.data(), text.size()) == 0) {
        return &e.picture;
      }
    }
    return nullptr;
  }

  const CompiledPicture& keep(std::string_view text, const CompiledPicture& picture) {
    Entry& e = entries_[next_];
    next_ = (next_ + 1) % kEntries;
    std::memcpy(e.text, text.data(), text.size());
    e.length = static_cast<uint8_t>(text.size());
    e.used = true;
    e.picture = picture;
    e.picture.source = std::string_view(e.text, e.length);
    return e.picture;
  }

  static constexpr size_t kMaxText = 64;

 private:
  static constexpr int kEntries = 8;
  struct Entry {
    char text[kMaxText];
    uint8_t length = 0;
    bool used = false;
    CompiledPicture picture;
  };
  Entry entries_[kEntries];
  int next_ = 0;
};

bool follows_locale(const CompiledPicture& p) {
  return (p.kind == PictureKind::kDate && (p.number == 17 || p.number == 18)) ||
         (p.kind == PictureKind::kTime && (p.number == 7 || p.number == 8));
}

// The compiled form of `text`: from the cache, or compiled into `scratch` (and kept).
const CompiledPicture& compiled(std::string_view text, CompiledPicture& scratch) {
  thread_local PictureCache cache;
  if (const CompiledPicture* hit = cache.find(text)) return *hit;
  compile_picture(text, scratch);
  if (text.size() > PictureCache::kMaxText || follows_locale(scratch)) return scratch;
  return cache.keep(text, scratch);
}

}  // namespace

std::string format_number(const NumberDigits& number, const CompiledPicture& p) {
  if (is_text_kind(p.kind)) return copy_text(number_to_text(number), p);
  if (!is_number_kind(p.kind)) return format_serial(number_to_serial(number), p);
  if (p.blank && is_zero(number)) return blank_output(p);
  return picture_detail::format_numeric(number, p, false);
}

std::string format_real(double value, const CompiledPicture& p) {
  if (is_text_kind(p.kind)) return copy_text(real_to_text(value), p);
  if (!is_number_kind(p.kind)) return format_serial(real_to_serial(value), p);
  if (p.blank && value == 0) return blank_output(p);
  return picture_detail::format_numeric(real_to_number_digits(value), p, !std::isfinite(value));
}

std::string format_text(std::string_view text, const CompiledPicture& p) {
  if (is_text_kind(p.kind)) return copy_text(text, p);
  if (!is_number_kind(p.kind)) return format_serial(text_to_long(text), p);
  return format_number(text_to_number_digits(text), p);
}

std::string format_picture(double value, std::string_view picture) {
  CompiledPicture scratch;
  return format_real(value, compiled(picture, scratch));
}

std::string format_picture(const NumberDigits& number, std::string_view picture) {
  CompiledPicture scratch;
  return format_number(number, compiled(picture, scratch));
}

std::string format_picture_text(std::string_view text, std::string_view picture) {
  CompiledPicture scratch;
  return format_text(text, compiled(picture, scratch));
}

std::string deformat_picture(std::string_view text, std::string_view picture) {
  CompiledPicture scratch;
  return deformat(text, compiled(picture, scratch));
}

void FORMAT(double value, std::string_view picture) {
  string_stack().push_copy(format_picture(value, picture));
}

void FORMAT_TEXT(std::string_view text, std::string_view picture) {
  string_stack().push_copy(format_picture_text(text, picture));
}

void DEFORMAT(std::string_view text, std::string_view picture) {
  string_stack().push_copy(deformat_picture(text, picture));
}

}  // namespace vtn
