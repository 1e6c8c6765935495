// The common case of the decimal stack's busiest operations on binary values, inline:
// coefficients below 2^128 and packed fields of up to 16 bytes (31 digits). Each function returns
// false, having changed nothing, when its operands fall outside that case; the general function
// then runs instead and gives the same result.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/values/decimal.hpp"
#include "runtime/values/decimal_nibbles.hpp"
#include "runtime/values/decimal_number.hpp"
#include "runtime/values/decimal_packed.hpp"
#include "runtime/values/decimal_wide.hpp"

namespace vtn::decimal::fast {

inline constexpr int kMaxPower128 = 38;  // 10^38 < 2^128 < 10^39
inline constexpr int kMostPlaces = 32;

inline bool fits_128(const DecimalNumber& v) {
  return (v.coefficient[2] | v.coefficient[3]) == 0;
}

inline uint128 low_128(const DecimalNumber& v) {
  return (static_cast<uint128>(v.coefficient[1]) << 64) | v.coefficient[0];
}

// A result: zero is canonical.
inline void set(DecimalNumber& v, uint128 c, int exponent, uint8_t sign) {
  v.coefficient[0] = static_cast<uint64_t>(c);
  v.coefficient[1] = static_cast<uint64_t>(c >> 64);
  v.coefficient[2] = 0;
  v.coefficient[3] = 0;
  v.exponent = static_cast<int8_t>(c == 0 ? 0 : exponent);
  v.sign = c == 0 ? 0 : sign;
}

// 10^k for k <= 38.
inline uint128 power_128(int k) {
  return (static_cast<uint128>(kPowersOfTen[k][1]) << 64) | kPowersOfTen[k][0];
}

// Whether c is below 10^k.
inline bool below_power(uint128 c, int k) {
  return k > kMaxPower128 || c < power_128(k);
}

// c / 10^16 and c % 10^16 for c < 10^31: a floating-point estimate within one of the quotient
// (the quotient is below 2^50, far inside a double's precision), set right by the remainder.
inline uint64_t split_16(uint128 c, uint64_t& low) {
  const uint64_t high_limb = static_cast<uint64_t>(c >> 64);
  const uint64_t low_limb = static_cast<uint64_t>(c);
  const double estimate =
      (static_cast<double>(high_limb) * 18446744073709551616.0 + static_cast<double>(low_limb)) *
      1e-16;
  uint64_t q = static_cast<uint64_t>(estimate);
  int64_t r = static_cast<int64_t>(low_limb - q * kTenTo16);
  while (r < 0) {
    --q;
    r += static_cast<int64_t>(kTenTo16);
  }
  while (r >= static_cast<int64_t>(kTenTo16)) {
    ++q;
    r -= static_cast<int64_t>(kTenTo16);
  }
  low = static_cast<uint64_t>(r);
  return q;
}

// Stores a value already rounded to the field's places when its coefficient, moved to the
// field's last place, fits the field. Sets `nonzero` to whether a digit stored is not zero.
inline bool pack(const DecimalNumber& v, uint8_t* storage, uint32_t bytes, uint32_t places,
                 int first_nibble, bool& nonzero) {
  if (bytes == 0 || bytes > kShortFieldBytes || places > kMostPlaces || !fits_128(v)) return false;
  const int digits = 2 * static_cast<int>(bytes) - 1;
  const int shift = v.exponent + static_cast<int>(places);
  if (shift < 0 || shift >= digits) return false;
  uint128 c = low_128(v);
  if (c >= power_128(digits - shift)) return false;
  if (shift > 0) c *= power_128(shift);
  uint64_t low;
  const uint64_t high = split_16(c, low);
  uint64_t w0 = number_to_nibbles(low);
  uint64_t w1 = number_to_nibbles(high);
  if (first_nibble == kPDecimalFirstNibble) {
    w1 = (w1 << 4) | (w0 >> 60);
    w0 <<= 4;
  }
  store_short_field(storage, bytes, w0, w1);
  nonzero = c != 0;
  return true;
}

inline bool add(DecimalNumber& a, const DecimalNumber& b) {
  if (a.exponent != b.exponent || !fits_128(a) || !fits_128(b)) return false;
  const uint128 x = low_128(a);
  const uint128 y = low_128(b);
  uint128 r;
  uint8_t sign = a.sign;
  if (a.sign == b.sign) {
    if (__builtin_add_overflow(x, y, &r) || !below_power(r, 32 - a.exponent)) return false;
  } else if (x >= y) {
    r = x - y;
  } else {
    r = y - x;
    sign = b.sign;
  }
  set(a, r, a.exponent, sign);
  return true;
}

inline bool multiply(DecimalNumber& a, const DecimalNumber& b) {
  if (!fits_128(a) || !fits_128(b)) return false;
  const int exponent = a.exponent + b.exponent;
  if (exponent < -kMostPlaces || exponent >= 32) return false;
  const uint64_t a0 = a.coefficient[0], a1 = a.coefficient[1];
  const uint64_t b0 = b.coefficient[0], b1 = b.coefficient[1];
  if ((a0 | a1) == 0 || (b0 | b1) == 0) return false;
  const uint128 p00 = static_cast<uint128>(a0) * b0;
  const uint128 p01 = static_cast<uint128>(a0) * b1;
  const uint128 p10 = static_cast<uint128>(a1) * b0;
  const uint128 p11 = static_cast<uint128>(a1) * b1;
  const uint128 middle = (p00 >> 64) + static_cast<uint64_t>(p01) + static_cast<uint64_t>(p10);
  const uint128 high = p11 + (p01 >> 64) + (p10 >> 64) + (middle >> 64);
  const Limbs product = {static_cast<uint64_t>(p00), static_cast<uint64_t>(middle),
                         static_cast<uint64_t>(high), static_cast<uint64_t>(high >> 64)};
  if (compare(product, kPowersOfTen[32 - exponent]) >= 0) return false;
  a.coefficient = product;
  a.exponent = static_cast<int8_t>(exponent);
  a.sign = a.sign ^ b.sign;
  if (last_digit(product) == 0) normalise(a);
  return true;
}

}  // namespace vtn::decimal::fast
