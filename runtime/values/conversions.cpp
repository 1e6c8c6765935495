#include "runtime/values/conversions.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "runtime/values/number_text.hpp"

namespace vtn {
namespace {

constexpr size_t kDecimalReaderLimit = 99;
constexpr size_t kRealReaderLimit = 39;

// 10^0 to 10^22: every one exactly a double.
constexpr double kExactPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A space, or one of \t \n \v \f \r (9 to 13).
bool is_space(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

// Whether a number out of a double's range (digits, point, fraction, exponent) is too large
// rather than too small: the power of ten of its leading non-zero digit is positive.
bool overflows(std::string_view number) {
  int64_t magnitude = 0;
  bool seen_nonzero = false;
  size_t i = 0;
  for (; i < number.size() && is_digit(number[i]); ++i) {
    if (seen_nonzero) ++magnitude;
    seen_nonzero = seen_nonzero || number[i] != '0';
  }
  if (i < number.size() && number[i] == '.') {
    for (++i; i < number.size() && is_digit(number[i]); ++i) {
      if (!seen_nonzero) --magnitude;
      seen_nonzero = seen_nonzero || number[i] != '0';
    }
  }
  if (i < number.size() && (number[i] == 'E' || number[i] == 'e')) {
    ++i;
    bool negative_exponent = false;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) {
      negative_exponent = number[i++] == '-';
    }
    int64_t exponent = 0;
    for (; i < number.size() && is_digit(number[i]); ++i) {
      if (exponent < 100000) exponent = exponent * 10 + (number[i] - '0');
    }
    magnitude += negative_exponent ? -exponent : exponent;
  }
  return seen_nonzero && magnitude > 0;
}

// Whether the eight characters at p are all digits: every byte is 0x30 to 0x39 when its high
// nibble is 3 both before and after adding 6. (A byte of 0xFA or more carries into the next one,
// but fails the test itself.)
bool eight_digits(const char* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull;
  return ((x & kHigh) | (((x + 0x0606060606060606ull) & kHigh) >> 4)) == 0x3333333333333333ull;
}

// The number that eight digit values 0..9, one per byte with the first (the most significant) in
// the lowest, spell: pairs, then fours, then all eight, each step one multiply on every lane.
uint32_t digit_bytes_value(uint64_t x) {
  x = (x * 10) + (x >> 8);
  x = (((x & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((x >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  return static_cast<uint32_t>(x);
}

// Eight characters at p as a word, the first in the lowest byte.
uint64_t load_word(const char* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

// The number that eight digit characters at p spell.
uint32_t eight_digit_value(const char* p) {
  return digit_bytes_value(load_word(p) - 0x3030303030303030ull);
}

// The characters text[i..i+8) as a word, the first in the lowest byte, zero bytes where the text
// has ended; nothing outside the text is read. REQUIRES: i < text size.
uint64_t text_word(std::string_view text, size_t i) {
  const size_t left = text.size() - i;
  if (left >= 8) return load_word(text.data() + i);
  if (text.size() >= 8) return load_word(text.data() + text.size() - 8) >> (8 * (8 - left));
  uint64_t x = 0;
  for (size_t k = 0; k < left; ++k) x |= uint64_t{static_cast<uint8_t>(text[i + k])} << (8 * k);
  return x;
}

// 10^0 to 10^15.
constexpr auto kDigitPowersOfTen = [] {
  struct Table {
    uint64_t v[16];
    constexpr uint64_t operator[](size_t k) const { return v[k]; }
  } t{};
  t.v[0] = 1;
  for (int k = 1; k < 16; ++k) t.v[k] = t.v[k - 1] * 10;
  return t;
}();

// How many of the word's bytes, from the lowest, are digit characters: a byte is a digit when its
// high nibble is 3 both before and after adding 6. (A byte of 0xFA or more carries into the next
// one, but is no digit itself, and only the bytes below the first non-digit count.)
int leading_digits(uint64_t x) {
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull;
  const uint64_t off = ((x & kHigh) ^ 0x3030303030303030ull) |
                       (((x + 0x0606060606060606ull) & kHigh) ^ 0x3030303030303030ull);
  return off == 0 ? 8 : std::countr_zero(off) >> 3;
}

// Reads the run of digits at text[i] into the number, eight at a time where it can; zeros before
// the first significant digit are passed over. Returns the index after the run.
size_t read_digits(std::string_view text, size_t i, DecimalTextDigits& number) {
  if (number.count == 0) {
    while (i < text.size() && text[i] == '0') ++i;
  }
  const size_t start = i;
  while (i + 8 <= text.size() && eight_digits(text.data() + i)) i += 8;
  while (i < text.size() && is_digit(text[i])) ++i;
  std::memcpy(number.digits + number.count, text.data() + start, i - start);
  number.count = static_cast<uint8_t>(number.count + (i - start));
  return i;
}

constexpr uint64_t kZeros = 0x3030303030303030ull;

// The value of the first n digit characters of a word (n <= 8); the bytes above them fall off
// the top, and the digits become the low end of the value.
uint64_t word_digits_value(uint64_t word, int n) {
  return n == 0 ? 0 : digit_bytes_value((word - kZeros) << (8 * (8 - n)));
}

// The value of the first n digit characters (n <= 15) of the sixteen in low, high.
uint64_t window_digits_value(uint64_t low, uint64_t high, int n) {
  if (n <= 8) return word_digits_value(low, n);
  return digit_bytes_value(low - kZeros) * kDigitPowersOfTen[n - 8] +
         word_digits_value(high, n - 8);
}

// How many of the sixteen characters in low, high are digits, from the first.
int window_leading_digits(uint64_t low, uint64_t high) {
  const int n = leading_digits(low);
  return n < 8 ? n : 8 + leading_digits(high);
}

__extension__ typedef unsigned __int128 Window;

// The common number, at most fifteen digits with or without a point among the sixteen characters
// at text[i] and no exponent after them, read from two words at once: where the digits and the
// point lie comes from one test of the words, so that the two digit runs convert side by side
// rather than one after the other. Its digits and its power of ten are exact doubles, so that one
// divide rounds it correctly, as the general reading would. False, with nothing set, for any other
// number. REQUIRES: text[i] is a digit, or a point before a digit.
[[gnu::always_inline]] inline bool read_window_number(std::string_view text, size_t i,
                                                      double& value, size_t& used) {
  const uint64_t low = text_word(text, i);
  const uint64_t high = i + 8 < text.size() ? text_word(text, i + 8) : 0;
  const int integers = window_leading_digits(low, high);
  if (integers >= 16) return false;
  // The character at k, or a zero past the text's end.
  const auto at = [text, i](int k) {
    return i + static_cast<size_t>(k) < text.size() ? text[i + static_cast<size_t>(k)] : '\0';
  };
  uint64_t mantissa = window_digits_value(low, high, integers);
  int fractions = 0;
  int end = integers;  // the character after the number
  if (at(integers) == '.') {
    const Window window = low | (static_cast<Window>(high) << 64);
    // The fraction's characters moved down to the start; zeros come in above the window's end.
    const Window rest = integers == 15 ? 0 : window >> (8 * (integers + 1));
    const auto rest_low = static_cast<uint64_t>(rest);
    const auto rest_high = static_cast<uint64_t>(rest >> 64);
    fractions = window_leading_digits(rest_low, rest_high);
    end = integers + 1 + fractions;
    // Digits up to the window's end may go on past it, unless the text ends there.
    if (end == 16 && i + 16 < text.size()) return false;
    mantissa = mantissa * kDigitPowersOfTen[fractions] +
               window_digits_value(rest_low, rest_high, fractions);
  }
  const char after = at(end);
  if (after == 'E' || after == 'e') return false;
  value = static_cast<double>(mantissa);
  if (fractions != 0) value /= kExactPowersOfTen[fractions];
  used = i + static_cast<size_t>(end);
  return true;
}

}  // namespace

void read_decimal_text(std::string_view text, DecimalTextDigits& number) {
  text = text.substr(0, kDecimalReaderLimit);
  number.negative = false;
  number.count = 0;
  number.exponent = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == '-') {
    number.negative = true;
    ++i;
  }
  int32_t fraction_digits = 0;
  i = read_digits(text, i, number);
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    const size_t fraction_start = ++i;
    i = read_digits(text, i, number);
    fraction_digits = static_cast<int32_t>(i - fraction_start);
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
      ++i;
      bool negative_exponent = false;
      if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative_exponent = text[i] == '-';
        ++i;
      }
      int32_t exponent = 0;
      for (; i < text.size() && is_digit(text[i]); ++i) {
        if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
      }
      number.exponent = negative_exponent ? -exponent : exponent;
    }
  }
  number.exponent -= fraction_digits;
  if (number.count == 0) {
    number.negative = false;
    number.exponent = 0;
  }
}

DecimalText read_decimal_text(std::string_view text) {
  DecimalTextDigits number;
  read_decimal_text(text, number);
  DecimalText result;
  result.negative = number.negative;
  result.digits.assign(number.view());
  result.exponent = number.exponent;
  return result;
}

int32_t text_to_long(std::string_view text) {
  // The common form, spaces, an optional "-" and digits that nothing numeric follows, is read in
  // one pass; a point, a comma or a number longer than 32 digits takes the decimal reader below.
  {
    const std::string_view head = text.substr(0, kDecimalReaderLimit);
    size_t i = 0;
    while (i < head.size() && head[i] == ' ') ++i;
    const bool negative = i < head.size() && head[i] == '-';
    if (negative) ++i;
    const size_t first_digit = i;
    uint32_t value = 0;
    // Eight digits at a time where they come in a run; the products wrap as the single steps do.
    for (; i + 8 <= head.size() && eight_digits(head.data() + i); i += 8) {
      value = value * 100000000u + eight_digit_value(head.data() + i);
    }
    for (; i < head.size() && is_digit(head[i]); ++i) value = value * 10u + (head[i] - '0');
    const bool point = i < head.size() && (head[i] == '.' || head[i] == ',');
    if (!point && i - first_digit <= 32) return static_cast<int32_t>(negative ? 0u - value : value);
  }
  DecimalTextDigits d;
  read_decimal_text(text, d);
  // Only the integer digits count; at most 32 of them survive in a decimal working value.
  const int64_t integer_digits = static_cast<int64_t>(d.count) + d.exponent;
  uint32_t value = 0;
  const int64_t first = integer_digits > 32 ? integer_digits - 32 : 0;
  for (int64_t k = first; k < integer_digits; ++k) {
    const uint32_t digit = k < d.count ? static_cast<uint32_t>(d.digits[k] - '0') : 0;
    value = value * 10u + digit;
  }
  if (d.negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

namespace {

// The magnitude of any other number at text[i]; `used` becomes the index after it. Out of line,
// so that the common number passes through a small frame.
[[gnu::noinline]] double read_long_number(std::string_view text, size_t i, size_t& used) {
  const char* const end = text.data() + text.size();
  const size_t number_start = i;
  // A longer number, or one with an exponent, of at most 15 significant digits scaled by at most
  // 10^22 either way, is read here in one pass: the digits and the power of ten are both exact
  // doubles, so one multiply or divide rounds correctly, as from_chars would.
  // Zeros before the first significant digit only move the point; beyond 15 significant digits
  // the mantissa is of no use (the careful reading below takes over), so it may wrap.
  uint64_t mantissa = 0;
  int64_t significant = 0;
  int64_t scale = 0;
  const auto digit_run = [&](bool fraction) {
    if (mantissa == 0) {
      const size_t zeros = i;
      while (i < text.size() && text[i] == '0') ++i;
      if (fraction) scale -= static_cast<int64_t>(i - zeros);
    }
    const size_t start = i;
    // Up to eight digits per step, read as one word.
    for (int n = 8; n == 8 && i < text.size(); i += static_cast<size_t>(n)) {
      const uint64_t word = text_word(text, i);
      n = leading_digits(word);
      if (n == 0) break;
      // The bytes above the digits fall off the top; the digits become the low end of the value.
      const uint64_t values = (word - 0x3030303030303030ull) << (8 * (8 - n));
      mantissa = mantissa * kDigitPowersOfTen[n] + digit_bytes_value(values);
    }
    significant += static_cast<int64_t>(i - start);
    if (fraction) scale -= static_cast<int64_t>(i - start);
  };
  digit_run(false);
  if (i < text.size() && text[i] == '.') {
    ++i;
    digit_run(true);
  }
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    size_t k = i + 1;
    bool negative_exponent = false;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) negative_exponent = text[k++] == '-';
    if (k < text.size() && is_digit(text[k])) {
      int64_t exponent = 0;
      for (; k < text.size() && is_digit(text[k]); ++k) {
        if (exponent < 100000) exponent = exponent * 10 + (text[k] - '0');
      }
      scale += negative_exponent ? -exponent : exponent;
      i = k;
    }
  }
  if (significant <= 15 && scale >= -22 && scale <= 22) {
    used = i;
    double value = static_cast<double>(mantissa);
    if (scale >= 0) {
      value *= kExactPowersOfTen[scale];
    } else {
      value /= kExactPowersOfTen[-scale];
    }
    return value;
  }
  double value = 0.0;
  const auto [stop, error] =
      std::from_chars(text.data() + number_start, end, value, std::chars_format::general);
  used = static_cast<size_t>(stop - text.data());
  if (error == std::errc::result_out_of_range) {
    value = overflows(std::string_view(text.data() + number_start,
                                       static_cast<size_t>(stop - text.data()) - number_start))
                ? HUGE_VAL
                : 0.0;
  }
  return value;
}

// Both faces of the REAL reader, inline in each, so that text_to_real carries no count.
[[gnu::always_inline]] inline double read_real(std::string_view text, size_t* used) {
  text = text.substr(0, kRealReaderLimit);
  size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A number starts with a digit, or with a point and a digit; from_chars then reads the longest
  // number there (digits, point, fraction, an exponent only when it has digits) the same way in
  // every locale. Its other forms (inf, nan) never get this far.
  const bool starts_number =
      i < text.size() &&
      (is_digit(text[i]) || (text[i] == '.' && i + 1 < text.size() && is_digit(text[i + 1])));
  if (!starts_number) {
    if (used != nullptr) *used = 0;
    return 0.0;
  }
  double value = 0.0;
  size_t end = 0;
  if (!read_window_number(text, i, value, end)) value = read_long_number(text, i, end);
  if (used != nullptr) *used = end;
  return negative ? -value : value;
}

}  // namespace

double text_to_real_prefix(std::string_view text, size_t* used) {
  return read_real(text, used);
}

double text_to_real(std::string_view text) {
  return read_real(text, nullptr);
}

std::string real_to_text(double value) {
  char text[kRealTextLimit];
  return std::string(text, real_to_chars(value, text));
}

std::string long_to_text(int32_t value) {
  return std::to_string(value);
}

}  // namespace vtn
