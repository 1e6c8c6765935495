// Conversions between numbers and text that never fail: text that is not a number reads as 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn {

// A number read by the decimal reader: sign, the significant digits as characters '0'..'9' (no
// leading zeros), and the power of ten of the digit after the last one, so that the value is
// digits x 10^exponent.
struct DecimalText {
  bool negative = false;
  std::string digits;
  int32_t exponent = 0;
};

// The decimal reader over at most the first 99 characters: leading spaces, an optional "-" ("+"
// ends the number), integer digits, "." or "," and fraction digits, and only after a point an
// exponent ("E"/"e", optional sign, digits). Anything else ends the number.
DecimalText read_decimal_text(std::string_view text);

// The same reading into a fixed buffer, for the callers that convert a number on every call: the
// reader takes at most 99 characters, so it never finds more than 99 digits.
struct DecimalTextDigits {
  static constexpr size_t kMaxDigits = 99;
  bool negative = false;
  uint8_t count = 0;
  int32_t exponent = 0;
  char digits[kMaxDigits];

  std::string_view view() const { return {digits, count}; }
};
void read_decimal_text(std::string_view text, DecimalTextDigits& number);

// Text to LONG through the decimal reader: the fraction is dropped toward zero and integer digits
// beyond 32 bits wrap.
int32_t text_to_long(std::string_view text);

// Text to REAL: at most the first 39 characters, read as leading white space, optional sign,
// digits, optional "." and fraction, optional exponent; 0 when there is no number.
double text_to_real(std::string_view text);

// Like text_to_real, but also tells how many characters of the text the number took up.
double text_to_real_prefix(std::string_view text, size_t* used);

// A REAL as text: the general form with at most 14 significant digits, no trailing point
// ("100", "0.1", "-1.5E+20"); a negative zero is "0". The result has at most 20 characters.
std::string real_to_text(double value);

// A LONG as its decimal digits with a leading "-" when negative.
std::string long_to_text(int32_t value);

}  // namespace vtn
