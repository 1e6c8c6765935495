// Working values in digit form: the trims and the rounding that the readers of text and REAL
// use. Every function keeps the invariants of a working value: 0 <= lo <= hi <= 63, digits 0..9
// in lo..hi, and an all-zero result as the canonical zero (lo = hi = 32, sign 0). The arithmetic
// itself runs on the binary form (decimal_number.hpp).
#pragma once

#include <cstdint>

#include "runtime/values/decimal.hpp"

namespace vtn::decimal {

inline constexpr int kUnits = 32;  // index of the units digit
inline constexpr int kTop = 63;    // highest digit index

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

}  // namespace vtn::decimal
