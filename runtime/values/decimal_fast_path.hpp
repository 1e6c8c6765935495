// The common case of the decimal stack's busiest operations on binary values, inline:
// coefficients below 2^128 and packed fields of up to 16 bytes (31 digits). Each function returns
// false, having changed nothing, when its operands fall outside that case; the general function
// then runs instead and gives the same result.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/values/decimal.hpp"
#include "runtime/values/decimal_bcd.hpp"
#include "runtime/values/decimal_chunks.hpp"
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

// Stores v into a field of up to 16 bytes with at most 32 places, with its sign, rounded to the
// field's places as the general store does.
inline bool store(const DecimalNumber& v, uint8_t* storage, uint32_t bytes, uint32_t places,
                  int first_nibble) {
  if (bytes > kShortFieldBytes || places > kMostPlaces) return false;
  return chunks::store(chunks::from_binary(v.coefficient), v.exponent, v.sign != 0, storage, bytes,
                       places, first_nibble);
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

// x x y in four limbs.
inline Limbs product(uint128 x, uint128 y) {
  const uint64_t x0 = static_cast<uint64_t>(x), x1 = static_cast<uint64_t>(x >> 64);
  const uint64_t y0 = static_cast<uint64_t>(y), y1 = static_cast<uint64_t>(y >> 64);
  const uint128 p00 = static_cast<uint128>(x0) * y0;
  const uint128 p01 = static_cast<uint128>(x0) * y1;
  const uint128 p10 = static_cast<uint128>(x1) * y0;
  const uint128 p11 = static_cast<uint128>(x1) * y1;
  const uint128 middle = (p00 >> 64) + static_cast<uint64_t>(p01) + static_cast<uint64_t>(p10);
  const uint128 high = p11 + (p01 >> 64) + (p10 >> 64) + (middle >> 64);
  return {static_cast<uint64_t>(p00), static_cast<uint64_t>(middle), static_cast<uint64_t>(high),
          static_cast<uint64_t>(high >> 64)};
}

// A result of a multiplication or division: normalised like the general ones.
inline void set_normalised(DecimalNumber& v, const Limbs& c, int exponent, uint8_t sign) {
  v.coefficient = c;
  v.exponent = static_cast<int8_t>(exponent);
  v.sign = sign;
  if (last_digit(c) == 0) normalise(v);
}

inline bool multiply(DecimalNumber& a, const DecimalNumber& b) {
  if (!fits_128(a) || !fits_128(b)) return false;
  const int exponent = a.exponent + b.exponent;
  if (exponent < -kMostPlaces || exponent >= 32) return false;
  const uint128 x = low_128(a), y = low_128(b);
  if (x == 0 || y == 0) return false;
  const Limbs p = product(x, y);
  if (compare(p, kPowersOfTen[32 - exponent]) >= 0) return false;
  set_normalised(a, p, exponent, a.sign ^ b.sign);
  return true;
}

// The quotient in units of 10^-31 is N / D rounded, with N = a x 10^shift and D = b.
inline bool divide(DecimalNumber& a, const DecimalNumber& b) {
  if (!fits_128(a) || !fits_128(b)) return false;
  const int shift = a.exponent - b.exponent + 31;
  if (shift < 0 || shift > kMaxPower128) return false;
  const uint128 x = low_128(a), d = low_128(b);
  if (x == 0 || d == 0) return false;
  Limbs q = product(x, power_128(shift));
  const uint128 r = divide_by_wide(q.data(), 4, d);
  if (r >= d - r) {  // half a unit of the 31st place or more
    const Limbs one = {1, 0, 0, 0};
    add_to(q, one);
  }
  if (compare(q, kPowersOfTen[63]) >= 0) return false;  // beyond the 32 integer places
  if (is_zero(q)) {
    set_zero(a);
    return true;
  }
  set_normalised(a, q, -31, a.sign ^ b.sign);
  return true;
}

// a = a / b rounded to 31 places as `divide` does, for a quotient below 10^16 x 2^64, left in
// chunk form (not yet normalised).
inline bool divide_to_chunks(DecimalNumber& a, const DecimalNumber& b) {
  if (!fits_128(a) || !fits_128(b)) return false;
  const int shift = a.exponent - b.exponent + 31;
  if (shift < 0 || shift > kMaxPower128) return false;
  const uint128 x = low_128(a), d = low_128(b);
  if (x == 0 || d == 0) return false;
  const Limbs n = product(x, power_128(shift));
  // A quotient below 2^128 and, with its rounding, below 10^16 x 2^64.
  if ((static_cast<uint128>(n[3]) << 64 | n[2]) >= d) return false;
  uint128 r;
  uint128 q = divide_256_by_128(n, d, r);
  if ((q >> 64) >= chunks::kChunk) return false;
  if (r >= d - r) ++q;  // half a unit of the 31st place or more
  if ((q >> 64) >= chunks::kChunk) return false;
  uint64_t c0;
  const uint64_t rest = chunks::split_chunk(q, c0);
  a.coefficient = {c0, rest % chunks::kChunk, rest / chunks::kChunk, 0};
  a.exponent = -31;
  a.sign ^= b.sign;
  return true;
}

}  // namespace vtn::decimal::fast
