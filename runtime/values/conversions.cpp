#include "runtime/values/conversions.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace vtn {
namespace {

constexpr size_t kDecimalReaderLimit = 99;
constexpr size_t kRealReaderLimit = 39;
constexpr size_t kRealTextLimit = 20;  // an inline StringStack entry

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

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

double text_to_real(std::string_view text) {
  return text_to_real_prefix(text, nullptr);
}

std::string real_to_text(double value) {
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

std::string long_to_text(int32_t value) {
  return std::to_string(value);
}

}  // namespace vtn
