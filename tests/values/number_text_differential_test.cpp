// The number-text conversions against their former versions, kept here as the reference: the
// decimal reader, text to LONG, text to REAL (value and the characters it took), REAL to text,
// the REAL digits that FORMAT lays out and the working value a REAL pushes on the decimal stack.
// The inputs are random texts over the characters numbers are made of and random doubles of
// every magnitude, including values exactly halfway between two 15-digit decimals.
#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <system_error>

#include "runtime/format/picture_format.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/decimal_arithmetic.hpp"
#include "support/differential_cases.hpp"

namespace vtn {
namespace {

namespace reference {

constexpr size_t kDecimalReaderLimit = 99;
constexpr size_t kRealReaderLimit = 39;
constexpr size_t kRealTextLimit = 20;  // an inline StringStack entry

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

DecimalText read_decimal_text(std::string_view text) {
  text = text.substr(0, kDecimalReaderLimit);
  DecimalText result;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == '-') {
    result.negative = true;
    ++i;
  }
  int32_t fraction_digits = 0;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    if (!result.digits.empty() || text[i] != '0') result.digits += text[i];
  }
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    ++i;
    for (; i < text.size() && is_digit(text[i]); ++i) {
      if (!result.digits.empty() || text[i] != '0') result.digits += text[i];
      ++fraction_digits;
    }
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
      result.exponent = negative_exponent ? -exponent : exponent;
    }
  }
  result.exponent -= fraction_digits;
  if (result.digits.empty()) {
    result.negative = false;
    result.exponent = 0;
  }
  return result;
}

int32_t text_to_long(std::string_view text) {
  const DecimalText d = read_decimal_text(text);
  // Only the integer digits count; at most 32 of them survive in a decimal working value.
  const int64_t integer_digits = static_cast<int64_t>(d.digits.size()) + d.exponent;
  uint32_t value = 0;
  const int64_t first = integer_digits > 32 ? integer_digits - 32 : 0;
  for (int64_t k = first; k < integer_digits; ++k) {
    const uint32_t digit =
        k < static_cast<int64_t>(d.digits.size()) ? static_cast<uint32_t>(d.digits[k] - '0') : 0;
    value = value * 10u + digit;
  }
  if (d.negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

double text_to_real_prefix(std::string_view text, size_t* used) {
  text = text.substr(0, kRealReaderLimit);
  size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t number_start = i;
  size_t mantissa_digits = 0;
  // The power of ten of the leading non-zero digit, to tell overflow from underflow below.
  int64_t magnitude = 0;
  bool seen_nonzero = false;
  for (; i < text.size() && is_digit(text[i]); ++i, ++mantissa_digits) {
    if (seen_nonzero) ++magnitude;
    seen_nonzero = seen_nonzero || text[i] != '0';
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    for (; i < text.size() && is_digit(text[i]); ++i, ++mantissa_digits) {
      if (!seen_nonzero) --magnitude;
      seen_nonzero = seen_nonzero || text[i] != '0';
    }
  }
  if (mantissa_digits == 0) {
    if (used != nullptr) *used = 0;
    return 0.0;
  }
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    size_t j = i + 1;
    bool negative_exponent = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) negative_exponent = text[j++] == '-';
    if (j < text.size() && is_digit(text[j])) {
      int64_t exponent = 0;
      for (; j < text.size() && is_digit(text[j]); ++j) {
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      }
      magnitude += negative_exponent ? -exponent : exponent;
      i = j;
    }
  }
  if (used != nullptr) *used = i;
  // from_chars reads the validated span the same way in every locale.
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data() + number_start, text.data() + i, value,
                                            std::chars_format::general);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    value = seen_nonzero && magnitude > 0 ? HUGE_VAL : 0.0;
  }
  return negative ? -value : value;
}

std::string real_to_text(double value) {
  if (value == 0) return "0";  // a zero has no sign, as a decimal zero has none
  // At most 14 significant digits; the longest forms (a negative value with a three-digit
  // negative exponent) keep one digit fewer so that the text fits an inline stack entry.
  char buffer[40];
  for (int precision = 14;; --precision) {
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    const size_t length = static_cast<size_t>(result.ptr - buffer);
    if (length <= kRealTextLimit || precision == 1) {
      std::string text(buffer, length);
      for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return text;
    }
  }
}

NumberDigits real_to_number_digits(double value) {
  NumberDigits n;
  if (value == 0 || !std::isfinite(value)) {
    n.digits = "0";
    n.integer_digits = 1;
    return n;
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.13e", std::fabs(value));
  n.negative = value < 0;
  n.digits += buffer[0];
  n.digits.append(buffer + 2, 13);
  n.integer_digits = std::atoi(buffer + 16) + 1;
  return n;
}

int scientific_digits(double magnitude, int digits, char* text, size_t size) {
  std::snprintf(text, size, "%.*e", digits - 1, magnitude);
  return std::atoi(text + digits + 2);
}

bool is_halfway_at_16_digits(double magnitude) {
  char probe[40];
  std::snprintf(probe, sizeof probe, "%.20e", magnitude);
  if (std::strncmp(probe + 16, "500000", 6) != 0) return false;
  char exact[800];
  std::snprintf(exact, sizeof exact, "%.770e", magnitude);
  if (exact[16] != '5') return false;
  for (const char* p = exact + 17; *p != 'e'; ++p) {
    if (*p != '0') return false;
  }
  return true;
}

// The working value that pushing a REAL made, as the text the decimal stack pops.
std::string push_real_text(double value) {
  DecimalValue v;
  decimal::set_zero(v);
  if (std::isfinite(value) && value != 0.0) {
    const double magnitude = std::fabs(value);
    char text[40];
    int count = 15;
    int exponent = scientific_digits(magnitude, count, text, sizeof text);
    if (exponent + 32 >= 15 && is_halfway_at_16_digits(magnitude)) {
      count = 16;
      exponent = scientific_digits(magnitude, count, text, sizeof text);
    }
    const int first = exponent + 32;
    if (first <= 63 && first >= 0) {
      const int last = std::max(first - (count - 1), 0);
      for (int k = 0; first - k >= last; ++k) {
        v.digit[first - k] = static_cast<uint8_t>(text[k == 0 ? 0 : k + 1] - '0');
      }
      v.lo = static_cast<uint8_t>(last);
      v.hi = static_cast<uint8_t>(first);
      v.sign = value < 0 ? 1 : 0;
      if (first >= 15) decimal::round_places(v, 46 - first);
      decimal::normalise(v);
    }
  }
  DecimalStack& s = decimal_stack();
  s.push_long(0);
  s.entry(1) = v;
  return s.pop_text();
}

// The working value that pushing a text made, with its lo and hi, placed digit by digit.
std::string push_text_value(std::string_view text) {
  const DecimalText number = read_decimal_text(text);
  DecimalValue v;
  decimal::set_zero(v);
  const int64_t count = static_cast<int64_t>(number.digits.size());
  const int64_t top = count - 1 + number.exponent + 32;
  const int64_t hi = std::min<int64_t>(top, 63);
  const int64_t lo = std::max<int64_t>(number.exponent + 32, 0);
  if (count != 0 && lo <= hi) {
    for (int64_t pos = lo; pos <= hi; ++pos) {
      v.digit[pos] = static_cast<uint8_t>(number.digits[static_cast<size_t>(top - pos)] - '0');
    }
    v.lo = static_cast<uint8_t>(lo);
    v.hi = static_cast<uint8_t>(hi);
    v.sign = number.negative ? 1 : 0;
    decimal::trim_high(v);
  }
  std::string shown = v.sign ? "-" : "+";
  for (int i = v.hi; i >= v.lo; --i) shown += static_cast<char>('0' + v.digit[i]);
  return shown + " lo " + std::to_string(v.lo) + " hi " + std::to_string(v.hi);
}

}  // namespace reference

std::string top_value() {
  const DecimalValue& v = decimal_stack().entry(1);
  std::string shown = v.sign ? "-" : "+";
  for (int i = v.hi; i >= v.lo; --i) shown += static_cast<char>('0' + v.digit[i]);
  return shown + " lo " + std::to_string(v.lo) + " hi " + std::to_string(v.hi);
}

struct Generator {
  std::mt19937_64 random{27182818};

  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }

  // Mostly number-shaped: spaces, signs, digits (runs of zeros and nines), points, commas,
  // exponents; now and then any byte.
  std::string text() {
    static constexpr std::string_view kPieces[] = {
        " ",
        "  ",
        "\t",
        "-",
        "+",
        "0",
        "00",
        "9",
        "99999",
        "1",
        "5",
        "12345678901234567",
        ".",
        ",",
        "e",
        "E",
        "e+",
        "e-",
        "E308",
        "e-320",
        "400",
        "x",
        "inf",
        "nan",
        "1e",
        "123",
        "4567",
        "e22",
        "e-22",
        "e23",
        "9007199254740993",
        "0.000000000000000000001",
        "123456789012345678901234567890123456789012345678901",
        "31415926535897932384626433832795"};
    std::string t;
    const size_t pieces = below(8);
    for (size_t i = 0; i < pieces; ++i) {
      if (below(12) == 0) {
        t += static_cast<char>(below(256));
      } else {
        t += kPieces[below(std::size(kPieces))];
      }
    }
    return t;
  }

  // A plain number as most texts hold one: spaces, a sign, 0 to 18 integer digits (leading
  // zeros now and then), a point and 0 to 18 fraction digits, then the text's end, spaces, an
  // exponent or any byte; its length lands on every side of the sixteen characters read at once.
  std::string plain_number() {
    static constexpr std::string_view kAfter[] = {"",   "",  "",  " ", "E5", "e-3", "e",
                                                  "E+", "x", ".", ",", "-",  "5"};
    std::string t(below(3), ' ');
    if (below(3) == 0) t += below(2) ? '-' : '+';
    const size_t integers = below(19);
    for (size_t k = 0; k < integers; ++k) {
      t += static_cast<char>(k == 0 && below(4) == 0 ? '0' : '0' + below(10));
    }
    if (below(4) != 0) {
      t += '.';
      const size_t fractions = below(19);
      for (size_t k = 0; k < fractions; ++k) t += static_cast<char>('0' + below(10));
    }
    if (below(8) == 0) {
      t += static_cast<char>(below(256));
    } else {
      t += kAfter[below(std::size(kAfter))];
    }
    return t;
  }

  double real() {
    switch (below(4)) {
      case 0: {  // any bit pattern
        const uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
      }
      case 1:  // an integer of up to 16 digits ending in 5, scaled by a power of two: halfway
        return static_cast<double>(below(1'000'000'000'000'000) * 10 + 5) *
               std::ldexp(1.0, static_cast<int>(below(40)) - 20) * (below(2) ? -1 : 1);
      case 2:  // a decimal of 1 to 17 digits at any point
        return static_cast<double>(below(100'000'000'000'000'000)) *
               std::pow(10.0, static_cast<int>(below(80)) - 50);
      default:  // values near the decimal stack's limits
        return std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(below(260)) - 200);
    }
  }
};

// The doubles where a 14-digit conversion goes wrong if anywhere: exact ties between two
// 14-digit decimals and their neighbours, carries into a new power of ten, powers of ten,
// subnormals, the ends of the range, zeros of both signs, infinities and NaNs.
struct BoundaryGenerator {
  std::mt19937_64 random{31415926};

  uint64_t below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(random); }

  double signed_value(double magnitude) { return below(2) ? -magnitude : magnitude; }

  // An odd multiple of 2^-f with 15 - f integer digits: exactly 15 significant digits, the last
  // a 5, halfway between two 14-digit decimals.
  double tie() {
    const int f = 1 + static_cast<int>(below(14));
    const double low = std::ldexp(std::pow(10.0, 14 - f), f);
    const double high = std::ldexp(std::pow(10.0, 15 - f), f);
    const uint64_t m = static_cast<uint64_t>(low) + below(static_cast<uint64_t>(high - low));
    return std::ldexp(static_cast<double>(m | 1), -f);
  }

  double near(double value) {
    switch (below(3)) {
      case 0:
        return value;
      case 1:
        return std::nextafter(value, HUGE_VAL);
      default:
        return std::nextafter(value, -HUGE_VAL);
    }
  }

  double next() {
    switch (below(10)) {
      case 0:
        return signed_value(near(tie()));
      case 9: {  // negative, near a 13-digit tie, with a three-digit exponent: the 13-digit text
        const double digits = static_cast<double>(below(9'000'000'000'000) + 1'000'000'000'000);
        const int exponent = (below(2) ? 1 : -1) * (100 + static_cast<int>(below(200)));
        return -near((digits + 0.5) * std::pow(10.0, exponent - 12));
      }
      case 1:  // a 15- or 16-digit integer ending in 5 or 50: a tie when it is exact
        return signed_value(
            near(static_cast<double>((below(900'000'000'000'000) + 100'000'000'000'000) * 10 + 5) *
                 (below(2) ? 1.0 : 10.0) / 10.0));
      case 2:  // 99999999999999.5 scaled: rounds up into the next power of ten
        return signed_value(
            near(99999999999999.5 * std::pow(10.0, static_cast<int>(below(600)) - 300)));
      case 3:  // powers of ten across the whole range
        return signed_value(near(std::pow(10.0, static_cast<int>(below(632)) - 323)));
      case 4: {  // subnormals
        const uint64_t bits = random() & ((uint64_t{1} << 52) - 1);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return signed_value(d);
      }
      case 5:  // the largest and smallest exponents
        return signed_value(std::ldexp(
            1.0 + static_cast<double>(random() >> 12) * 0x1p-52,
            below(2) ? 1023 - static_cast<int>(below(8)) : -1022 + static_cast<int>(below(8))));
      case 6: {  // any exponent a double has, evenly
        const uint64_t bits = (random() & ((uint64_t{1} << 52) - 1)) | (below(2047) << 52);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return signed_value(d);
      }
      case 7: {  // few significant digits, as programs mostly store them
        return signed_value(static_cast<double>(below(100'000)) /
                            std::pow(10.0, static_cast<int>(below(12))));
      }
      default: {
        constexpr double kSpecial[] = {0.0,
                                       -0.0,
                                       HUGE_VAL,
                                       -HUGE_VAL,
                                       std::numeric_limits<double>::quiet_NaN(),
                                       -std::numeric_limits<double>::quiet_NaN(),
                                       std::numeric_limits<double>::denorm_min(),
                                       std::numeric_limits<double>::min(),
                                       std::numeric_limits<double>::max(),
                                       1e-14,
                                       1e13,
                                       1e14};
        return kSpecial[below(std::size(kSpecial))];
      }
    }
  }
};

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(NumberTextDifferential, TextReadersAgreeWithTheFormerReaders) {
  Generator g;
  const int64_t cases = testing::differential_cases(1'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    const std::string text = g.text();
    SCOPED_TRACE(text);
    const DecimalText expected = reference::read_decimal_text(text);
    const DecimalText actual = read_decimal_text(text);
    ASSERT_EQ(actual.negative, expected.negative);
    ASSERT_EQ(actual.digits, expected.digits);
    ASSERT_EQ(actual.exponent, expected.exponent);
    ASSERT_EQ(text_to_long(text), reference::text_to_long(text));
    size_t used = 0;
    size_t expected_used = 0;
    const double real = text_to_real_prefix(text, &used);
    const double expected_real = reference::text_to_real_prefix(text, &expected_used);
    ASSERT_TRUE(same_bits(real, expected_real)) << real << " against " << expected_real;
    ASSERT_EQ(used, expected_used);
    decimal_stack().push_text(text);
    ASSERT_EQ(top_value(), reference::push_text_value(text));
    decimal_stack().clear();
  }
}

TEST(NumberTextDifferential, PlainNumbersReadAsTheFormerReader) {
  Generator g;
  const int64_t cases = testing::differential_cases(1'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    const std::string text = g.plain_number();
    size_t used = 0;
    size_t expected_used = 0;
    const double real = text_to_real_prefix(text, &used);
    const double expected_real = reference::text_to_real_prefix(text, &expected_used);
    ASSERT_TRUE(same_bits(real, expected_real))
        << text << ": " << real << " against " << expected_real;
    ASSERT_EQ(used, expected_used) << text;
    ASSERT_EQ(text_to_long(text), reference::text_to_long(text)) << text;
  }
}

TEST(NumberTextDifferential, RealsToTextAgreeWithTheFormerWriters) {
  Generator g;
  const int64_t cases = testing::differential_cases(1'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    const double value = g.real();
    SCOPED_TRACE(::testing::Message() << std::hexfloat << value);
    ASSERT_EQ(real_to_text(value), reference::real_to_text(value));
    const NumberDigits digits = real_to_number_digits(value);
    const NumberDigits expected = reference::real_to_number_digits(value);
    ASSERT_EQ(digits.digits, expected.digits);
    ASSERT_EQ(digits.integer_digits, expected.integer_digits);
    ASSERT_EQ(digits.negative, expected.negative);
    DecimalStack& s = decimal_stack();
    s.push_real(value);
    ASSERT_EQ(s.pop_text(), reference::push_real_text(value));
  }
}

TEST(NumberTextDifferential, RealsAtRoundingBoundariesAgreeWithTheFormerWriters) {
  BoundaryGenerator g;
  const int64_t cases = testing::differential_cases(1'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    const double value = g.next();
    SCOPED_TRACE(::testing::Message() << std::hexfloat << value);
    ASSERT_EQ(real_to_text(value), reference::real_to_text(value));
    const NumberDigits digits = real_to_number_digits(value);
    const NumberDigits expected = reference::real_to_number_digits(value);
    ASSERT_EQ(digits.digits, expected.digits);
    ASSERT_EQ(digits.integer_digits, expected.integer_digits);
    ASSERT_EQ(digits.negative, expected.negative);
  }
}

}  // namespace
}  // namespace vtn
