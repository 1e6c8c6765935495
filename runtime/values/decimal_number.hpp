// The arithmetic of the decimal stack on binary working values (DecimalNumber), and the turns
// between the binary and the digit form. Every function gives what the digit-by-digit arithmetic
// gives: the same digits, the same lowest digit that counts and the same sign.
#pragma once

#include <cstdint>

#include "runtime/values/decimal.hpp"
#include "runtime/values/decimal_wide.hpp"

namespace vtn::decimal {

inline void set_zero(DecimalNumber& v) {
  v.coefficient = {};
  v.exponent = 0;
  v.sign = 0;
}

inline bool is_zero(const DecimalNumber& v) {
  return is_zero(v.coefficient);
}

// The digit form and back. A zero keeps its lo and its sign both ways.
void to_number(const DecimalValue& digits, DecimalNumber& v);
void to_digits(const DecimalNumber& v, DecimalValue& digits);

// Drops the digits above the 32 integer places; a zero left becomes the canonical zero.
void wrap(DecimalNumber& v);
// Moves the exponent up past trailing zero digits: the lowest digit that counts is the lowest
// non-zero one, as after a multiplication or a division.
void normalise(DecimalNumber& v);

// Rounds the magnitude to `places` decimal places, half away from zero.
void round_places(DecimalNumber& v, int64_t places);

// a = a + b (digits carried beyond the 32 integer places are lost).
void add(DecimalNumber& a, const DecimalNumber& b);
// a = a x b, cut below the 32nd place and above the 32 integer places.
void multiply(DecimalNumber& a, const DecimalNumber& b);
// a = a / b rounded to 31 places; a divisor of zero gives zero.
void divide(DecimalNumber& a, const DecimalNumber& b);
// v = v x 10^n: digits moved above the 32 integer places are lost; a negative n rounds the result
// to 31 places as a division would.
void scale_by_power_of_ten(DecimalNumber& v, int64_t n);

// -1, 0 or 1 for a against b; a zero counts as zero whatever its sign.
int compare(const DecimalNumber& a, const DecimalNumber& b);

// The integer digits as a number modulo 2^32 (the fraction dropped, the sign ignored).
uint32_t integer_part_wrapped(const DecimalNumber& v);

}  // namespace vtn::decimal
