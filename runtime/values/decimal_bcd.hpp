// Coefficients of up to 32 digits kept as packed digit nibbles, as they come from a field: word 0
// holds the lowest sixteen digits (the lowest digit in the lowest nibble), word 1 the next
// sixteen. A value loaded from a field stays in this form until an operation needs another one,
// so that adding, subtracting and storing fields of the same places never convert at all: the 32
// digits add in one 128-bit addition with decimal carries.
#pragma once

#include <cstdint>

#include "runtime/values/decimal_nibbles.hpp"
#include "runtime/values/decimal_packed.hpp"
#include "runtime/values/decimal_value.hpp"
#include "runtime/values/decimal_wide.hpp"

namespace vtn::decimal::bcd {

inline constexpr uint32_t kMostPlaces = 32;
inline constexpr uint64_t kSixes = 0x6666666666666666ull;
inline constexpr uint64_t kOnes = 0x1111111111111111ull;
inline constexpr uint128 kSixes128 = static_cast<uint128>(kSixes) << 64 | kSixes;
inline constexpr uint128 kOnes128 = static_cast<uint128>(kOnes) << 64 | kOnes;

inline uint128 digits(const DecimalNumber& v) {
  return static_cast<uint128>(v.coefficient[1]) << 64 | v.coefficient[0];
}

inline bool is_zero(const DecimalNumber& v) {
  return (v.coefficient[0] | v.coefficient[1]) == 0;
}

// 6 x x for x of 0/1 nibbles: each nibble 0 or 6, no carry between them.
inline uint128 times_six(uint128 x) {
  const uint64_t low = static_cast<uint64_t>(x) * 6;
  const uint64_t high = static_cast<uint64_t>(x >> 64) * 6;
  return static_cast<uint128>(high) << 64 | low;
}

// a + b + carry_in on sixteen digits; carry_out is the carry out of the top digit. Every digit is
// biased by 6 so that a sum of ten or more carries out of its nibble as a binary carry does; the
// bias is then taken back from the digits that did not carry.
inline uint64_t add_digits(uint64_t a, uint64_t b, uint64_t carry_in, uint64_t& carry_out) {
  const uint64_t biased = a + kSixes;
  unsigned long long sum;
  const bool c1 = __builtin_uaddll_overflow(biased, b, &sum);
  const bool c2 = __builtin_uaddll_overflow(sum, carry_in, &sum);
  carry_out = c1 || c2;
  // Bit 4k of biased ^ b ^ sum is the carry into digit k, so the carry out of digit k - 1.
  const uint64_t carried = ((biased ^ b ^ sum) >> 4) | (carry_out << 60);
  const uint64_t kept = ~carried & kOnes;
  return sum - kept * 6;
}

// Whether a nibble of x is above 9, for x whose top nibble is zero: adding 6 to every nibble then
// carries out of exactly the nibbles above 9 (and out of those the carry reaches).
inline bool has_non_digit(uint128 x) {
  return (((x + kSixes128) ^ x ^ kSixes128) & (kOnes128 << 4)) != 0;
}

// The digit nibbles of a field of up to 16 bytes (31 digits), the last digit lowest, with the
// sign nibble cleared and every nibble that is no digit read as 0. REQUIRES: 1 <= bytes <= 16.
[[gnu::always_inline]] inline uint128 load(const uint8_t* storage, uint32_t bytes,
                                           int first_nibble) {
  uint64_t w0, w1;
  load_short_field(storage, bytes, w0, w1);
  uint128 x = static_cast<uint128>(w1) << 64 | w0;
  if (first_nibble == kDecimalFirstNibble) {
    x &= ~(static_cast<uint128>(0xF) << (4 * (2 * bytes - 1)));
  } else {
    x >>= 4;
  }
  if (has_non_digit(x)) [[unlikely]] {
    x = static_cast<uint128>(zero_non_digit_nibbles(static_cast<uint64_t>(x >> 64))) << 64 |
        zero_non_digit_nibbles(static_cast<uint64_t>(x));
  }
  return x;
}

// Sets a value in this form: zero canonical.
inline void set(DecimalNumber& v, uint128 digits, int exponent, uint8_t sign) {
  const bool zero = digits == 0;
  v.coefficient = {static_cast<uint64_t>(digits), static_cast<uint64_t>(digits >> 64), 0, 0};
  v.exponent = static_cast<int8_t>(zero ? 0 : exponent);
  v.sign = zero ? 0 : sign;
}

// The binary form of a coefficient in this form.
inline void to_binary(DecimalNumber& v) {
  const uint128 c =
      static_cast<uint128>(nibbles_to_number(v.coefficient[1])) * kTenTo16 +
      nibbles_to_number(v.coefficient[0]);
  v.coefficient = {static_cast<uint64_t>(c), static_cast<uint64_t>(c >> 64), 0, 0};
}

// a = a + b for two values of the same exponent whose sum keeps to 32 digits and to the 32
// integer places.
[[gnu::always_inline]] inline bool add(DecimalNumber& a, const DecimalNumber& b) {
  // Values from fields have no exponent above 0; a 32-digit sum then always fits.
  if (a.exponent != b.exponent || a.exponent > 0) return false;
  const uint128 x = digits(a);
  const uint128 y = digits(b);
  uint128 result;
  uint8_t sign = a.sign;
  if (a.sign == b.sign) {
    const uint128 biased = x + kSixes128;
    uint128 sum;
    if (__builtin_add_overflow(biased, y, &sum)) return false;  // a 33rd digit: the general
                                                                // addition wraps it
    // Bit 4k of biased ^ y ^ sum is the carry out of digit k - 1; the bias leaves the others.
    const uint128 kept = ~((biased ^ y ^ sum) >> 4) & kOnes128;
    result = sum - times_six(kept);
  } else {
    // The smaller magnitude from the larger: a digit that borrowed from the next one took 16
    // where 10 was due.
    const bool a_larger = x >= y;
    const uint128 larger = a_larger ? x : y;
    const uint128 smaller = a_larger ? y : x;
    const uint128 difference = larger - smaller;
    const uint128 borrowed = ((larger ^ smaller ^ difference) >> 4) & kOnes128;
    result = difference - times_six(borrowed);
    sign = a_larger ? a.sign : b.sign;
  }
  set(a, result, a.exponent, sign);
  return true;
}

// Writes 32 digit nibbles (the last digit lowest) into a field of up to 16 bytes with its sign,
// minus only when a digit stored is not zero; the digits above the field are dropped. Returns
// whether a digit stored is not zero.
[[gnu::always_inline]] inline bool store(uint128 digits, bool negative, uint8_t* storage,
                                         uint32_t bytes, int first_nibble) {
  const uint32_t count = 2 * bytes - 1;  // at most 31
  digits &= (static_cast<uint128>(1) << (4 * count)) - 1;
  const bool nonzero = digits != 0;
  const bool minus = negative && nonzero;
  if (first_nibble == kDecimalFirstNibble) {
    digits |= static_cast<uint128>(minus ? 0xF : 0) << (4 * count);
  } else {
    digits = digits << 4 | (minus ? 0xD : 0xF);
  }
  store_short_field(storage, bytes, static_cast<uint64_t>(digits),
                    static_cast<uint64_t>(digits >> 64));
  return nonzero;
}

// Stores a value in this form that needs no rounding for the field (exponent >= -places) when its
// digits, moved to the field's last place, leave fewer than 32 nibbles: the digits above the field
// are dropped. Writes the sign too.
[[gnu::always_inline]] inline bool pack(const DecimalNumber& v, uint8_t* storage, uint32_t bytes,
                                        uint32_t places, int first_nibble) {
  if (bytes == 0 || bytes > kShortFieldBytes || places > kMostPlaces) return false;
  const int shift = v.exponent + static_cast<int>(places);
  const int count = 2 * static_cast<int>(bytes) - 1;
  if (shift < 0 || shift >= count) return false;
  uint128 x = digits(v);
  if (shift != 0) x <<= 4 * shift;
  store(x, v.sign != 0, storage, bytes, first_nibble);
  return true;
}

}  // namespace vtn::decimal::bcd
