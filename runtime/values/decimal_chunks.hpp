// Coefficients as chunks of sixteen decimal digits: chunk i, a number below 10^16, counts units of
// 10^(16 i), so that a coefficient below 10^64 takes four. The product of two packed coefficients
// comes out in this form straight from four 64-bit multiplies, and so does a quotient below
// 2^104: a store then finds the digits it keeps by cutting chunks at a decimal place, with
// multiplies by reciprocals instead of long divisions. A value in this form is neither wrapped to
// the 32 integer places nor normalised: both happen when it turns binary, and a store keeps only
// digits that neither changes.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/values/decimal_bcd.hpp"
#include "runtime/values/decimal_nibbles.hpp"
#include "runtime/values/decimal_value.hpp"
#include "runtime/values/decimal_wide.hpp"

namespace vtn::decimal::chunks {

inline constexpr uint64_t kChunk = kTenTo16;
inline constexpr int kChunkDigits = 16;
inline constexpr uint32_t kMostPlaces = 32;

// floor(n / 10^k) for n < 2^54 (every chunk) as the high half of n x magic shifted right by
// `shift`: magic = ceil(2^(64 + shift) / 10^k) with 10^k <= 2^(10 + shift), so that the error of
// the reciprocal, below 2^(10 + shift) / 2^(64 + shift) per unit of n, never reaches the next
// multiple of 10^k.
struct ChunkDivisor {
  uint64_t magic;
  int shift;
};

inline constexpr std::array<ChunkDivisor, kChunkDigits + 1> kChunkDivisors = [] {
  std::array<ChunkDivisor, kChunkDigits + 1> table{};  // entry 0 unused
  uint64_t power = 1;
  for (int k = 1; k <= kChunkDigits; ++k) {
    power *= 10;
    int shift = 0;
    while ((static_cast<uint128>(1) << (10 + shift)) < power) ++shift;
    const uint128 scale = static_cast<uint128>(1) << (64 + shift);
    table[k] = {static_cast<uint64_t>((scale + power - 1) / power), shift};
  }
  return table;
}();

// n / 10^k and n % 10^k for n < 10^16 and 1 <= k <= 16.
inline uint64_t split(uint64_t n, int k, uint64_t& remainder) {
  const ChunkDivisor& d = kChunkDivisors[k];
  const uint64_t q = static_cast<uint64_t>((static_cast<uint128>(n) * d.magic) >> 64) >> d.shift;
  remainder = n - q * kPowersOfTen[k][0];
  return q;
}

// n / 10^16 and n % 10^16 for n < 10^16 x 2^64, by one step of the reciprocal division.
inline uint64_t split_chunk(uint128 n, uint64_t& remainder) {
  const PowerDivisor& p = kPowerDivisors[kChunkDigits];
  const uint64_t high = static_cast<uint64_t>(n >> 64);
  const uint64_t low = static_cast<uint64_t>(n);
  const uint64_t q =
      divide_wide_by((high << p.shift) | (low >> (64 - p.shift)), low << p.shift, p, remainder);
  remainder >>= p.shift;
  return q;
}

// The product of two coefficients of two chunks each (a = a1 x 10^16 + a0, b likewise).
inline std::array<uint64_t, 4> product(uint64_t a0, uint64_t a1, uint64_t b0, uint64_t b1) {
  std::array<uint64_t, 4> c;
  const uint128 low = static_cast<uint128>(a0) * b0;
  const uint128 middle = static_cast<uint128>(a0) * b1 + static_cast<uint128>(a1) * b0;
  const uint128 high = static_cast<uint128>(a1) * b1;
  // Each partial product is below 2 x 10^32, so each carry below 2 x 10^16 + 1.
  const uint64_t carry0 = split_chunk(low, c[0]);
  const uint64_t carry1 = split_chunk(middle + carry0, c[1]);
  c[3] = split_chunk(high + carry1, c[2]);
  return c;
}

// a = a x b for two values in packed form whose product's exponent lies in -32..31 (outside it the
// general multiplication cuts or drops digits); the result in chunk form.
inline bool multiply_packed(DecimalNumber& a, const DecimalNumber& b) {
  const int exponent = a.exponent + b.exponent;
  if (exponent < -static_cast<int>(kMostPlaces) || exponent >= 32) return false;
  a.coefficient = product(nibbles_to_number(a.coefficient[0]), nibbles_to_number(a.coefficient[1]),
                          nibbles_to_number(b.coefficient[0]), nibbles_to_number(b.coefficient[1]));
  a.exponent = static_cast<int8_t>(exponent);
  a.sign ^= b.sign;
  return true;
}

// The chunks of a binary coefficient (below 10^64).
inline std::array<uint64_t, 4> from_binary(const Limbs& coefficient) {
  Limbs c = coefficient;
  if ((c[2] | c[3]) == 0 && c[1] < kChunk) {
    uint64_t c0;
    const uint64_t rest = split_chunk(static_cast<uint128>(c[1]) << 64 | c[0], c0);
    return {c0, rest % kChunk, rest / kChunk, 0};
  }
  std::array<uint64_t, 4> chunks;
  for (int i = 0; i < 3; ++i) chunks[i] = divide_by_power(c.data(), 4, kChunkDigits);
  chunks[3] = c[0];
  return chunks;
}

// The binary coefficient of chunks.
inline Limbs to_binary(const std::array<uint64_t, 4>& chunks) {
  Limbs c = {chunks[3], 0, 0, 0};
  for (int i = 2; i >= 0; --i) {
    multiply_by(c, kChunk);
    const Limbs chunk = {chunks[i], 0, 0, 0};
    add_to(c, chunk);
  }
  return c;
}

// Stores a value whose coefficient is in chunks into a field of up to 16 bytes with at most 32
// places, with its sign, rounded to the field's places half away from zero: the lowest
// 2 x bytes - 1 digits of the rounded value, those above the field dropped, minus only when one
// of them is not zero. REQUIRES: the value's exponent is at least -32.
inline bool store(const std::array<uint64_t, 4>& chunks, int exponent, bool negative,
                  uint8_t* storage, uint32_t bytes, uint32_t places, int first_nibble) {
  if (bytes == 0 || bytes > kShortFieldBytes || places > kMostPlaces) return false;
  const int cut = -static_cast<int>(places) - exponent;  // digits below the field: at most 32
  const int shift = cut < 0 ? -cut : 0;                  // places the field has beyond the value
  uint64_t low = chunks[0];
  uint64_t high = chunks[1];
  bool round_up = false;
  if (cut > 0) {
    const int skip = cut / kChunkDigits;
    const int k = cut % kChunkDigits;
    const uint64_t c[6] = {chunks[0], chunks[1], chunks[2], chunks[3], 0, 0};
    if (k == 0) {
      low = c[skip];
      high = c[skip + 1];
      round_up = c[skip - 1] >= 5 * kPowersOfTen[kChunkDigits - 1][0];
    } else {
      // Chunk i of the quotient: the top 16 - k digits of c[skip + i] above the low k digits of
      // c[skip + i + 1]. The digits cut from c[skip] decide the rounding.
      uint64_t cut_digits, r1, r2;
      low = split(c[skip], k, cut_digits);
      high = split(c[skip + 1], k, r1);
      split(c[skip + 2], k, r2);
      const uint64_t scale = kPowersOfTen[kChunkDigits - k][0];
      low += r1 * scale;
      high += r2 * scale;
      round_up = cut_digits >= 5 * kPowersOfTen[k - 1][0];
    }
  }
  DecimalNumber digits;
  digits.coefficient = {number_to_nibbles(low), number_to_nibbles(high), 0, 0};
  if (round_up) {
    uint64_t carry;
    digits.coefficient[0] = bcd::add_digits(digits.coefficient[0], 0, 1, carry);
    digits.coefficient[1] = bcd::add_digits(digits.coefficient[1], 0, carry, carry);
  }
  digits.exponent = static_cast<int8_t>(-static_cast<int>(places) + shift);
  digits.sign = negative ? 1 : 0;
  return bcd::pack(digits, storage, bytes, places, first_nibble);
}

}  // namespace vtn::decimal::chunks
