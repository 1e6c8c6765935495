// A REAL's significant digits as the run-time shows them, and its text written straight into a
// caller's buffer.
//
// The run-time shows a REAL with at most 14 significant digits, rounded to nearest with an exact
// tie going to the even digit (the rounding of printf). The digits come from integer arithmetic:
// exactly, through a 128-bit product, where that holds the value (magnitudes from about 1e-14 to
// 1e13, the numbers programs mostly show); elsewhere through a 128-bit power of ten, close enough
// to decide all but the values within a hair of a tie; those, and subnormals, take a
// full-precision conversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtn {

// A REAL's magnitude rounded to 14 significant digits: digits x 10^(exponent - 13).
struct RealDigits {
  static constexpr int kCount = 14;
  uint64_t digits = 0;  // 10^13 <= digits < 10^14
  int exponent = 0;     // the power of ten of the first digit
};

// REQUIRES: magnitude is finite and greater than zero.
RealDigits real_digits(double magnitude);

// Writes the 14 digits of `digits` as characters into out[0..13].
void write_real_digits(uint64_t digits, char* out);

// The longest text a REAL becomes: an inline StringStack entry.
constexpr size_t kRealTextLimit = 20;

// A REAL as text, written into out (room for kRealTextLimit characters); returns the length. The
// general form with at most 14 significant digits: fixed notation for exponents -4 to 13, else
// d.dddE+XX; no trailing zeros or point ("100", "0.1", "-1.5E+20"); a zero of either sign is "0";
// infinities and NaN are "INF", "-INF", "NAN", "-NAN". The one form that would be longer, a
// negative value with 14 digits and a three-digit exponent, keeps 13 digits.
size_t real_to_chars(double value, char* out);

}  // namespace vtn
