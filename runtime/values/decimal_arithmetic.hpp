// The arithmetic on single decimal working values that the decimal stack is built from. Every
// function keeps the invariants of a working value: 0 <= lo <= hi <= 63, digits 0..9 in lo..hi,
// and an all-zero result as the canonical zero (lo = hi = 32, sign 0).
#pragma once

#include <cstdint>

#include "runtime/values/decimal.hpp"

namespace vtn::decimal {

inline constexpr int kUnits = 32;  // index of the units digit
inline constexpr int kTop = 63;    // highest digit index
inline constexpr int kQuotientPlaces = 31;

inline void set_zero(DecimalValue& v) {
  v.digit[kUnits] = 0;
  v.sign = 0;
  v.lo = kUnits;
  v.hi = kUnits;
}
bool is_zero(const DecimalValue& v);
// Moves hi down past leading zeros (the canonical zero when nothing is left).
void trim_high(DecimalValue& v);
// Moves hi down past leading zeros and lo up past trailing ones.
void normalise(DecimalValue& v);

// Rounds the magnitude to `places` decimal places, half away from zero.
void round_places(DecimalValue& v, int64_t places);

// a = a + b (digits carried beyond index 63 are lost).
void add(DecimalValue& a, const DecimalValue& b);
// a = a x b, cut below index 0 and above index 63.
void multiply(DecimalValue& a, const DecimalValue& b);
// a = a / b rounded to 31 places; a divisor of zero gives zero.
void divide(DecimalValue& a, const DecimalValue& b);
// v = v x 10^n: digits moved above index 63 are lost; a negative n rounds the result to 31 places
// as a division would.
void scale_by_power_of_ten(DecimalValue& v, int64_t n);

// -1, 0 or 1 for a against b; an all-zero value counts as zero whatever its sign.
int compare(const DecimalValue& a, const DecimalValue& b);

}  // namespace vtn::decimal
