#include "runtime/values/conversions.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vtn {
namespace {

constexpr size_t kDecimalReaderLimit = 99;
constexpr size_t kRealReaderLimit = 39;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

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
  const size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t mantissa_digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++mantissa_digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) {
    if (used != nullptr) *used = 0;
    return 0.0;
  }
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && is_digit(text[j])) {
      while (j < text.size() && is_digit(text[j])) ++j;
      i = j;
    }
  }
  // The validated span holds only characters that strtod reads the same way.
  char buffer[kRealReaderLimit + 1];
  const size_t n = i - start;
  std::memcpy(buffer, text.data() + start, n);
  buffer[n] = '\0';
  if (used != nullptr) *used = i;
  return std::strtod(buffer, nullptr);
}

double text_to_real(std::string_view text) { return text_to_real_prefix(text, nullptr); }

std::string real_to_text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.14G", value);
  return buffer;
}

std::string long_to_text(int32_t value) { return std::to_string(value); }

}  // namespace vtn
