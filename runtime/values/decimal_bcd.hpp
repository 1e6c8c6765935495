// Coefficients of up to 32 digits kept as packed digit nibbles, as they come from a field: word 0
// holds the lowest sixteen digits (the lowest digit in the lowest nibble), word 1 the next
// sixteen. A value loaded from a field stays in this form until an operation needs another one,
// so that adding, subtracting and storing fields of the same places never convert at all:
// sixteen digits add in one 64-bit addition with decimal carries.
//
// A zero in this form may keep its exponent and sign: every reader of this form tells a zero by
// its digits, and turning it binary makes it canonical.
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

inline bool is_zero(const DecimalNumber& v) {
  return (v.coefficient[0] | v.coefficient[1]) == 0;
}

inline void set(DecimalNumber& v, uint64_t low, uint64_t high, int exponent, uint8_t sign) {
  v.coefficient = {low, high, 0, 0};
  v.exponent = static_cast<int8_t>(exponent);
  v.sign = sign;
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

// The digit nibbles of a field of up to 16 bytes (31 digits) as two words, the last digit lowest,
// with every nibble that is no digit read as 0; returns the sign nibble. REQUIRES:
// 1 <= bytes <= 16.
[[gnu::always_inline]] inline uint32_t load(const uint8_t* storage, uint32_t bytes,
                                            int first_nibble, uint64_t& w0, uint64_t& w1) {
  load_short_field(storage, bytes, w0, w1);
  uint32_t sign;
  if (first_nibble == kDecimalFirstNibble) {
    const uint32_t at = 2 * bytes - 1;  // the sign nibble
    uint64_t& word = at < 16 ? w0 : w1;
    sign = static_cast<uint32_t>(word >> (4 * (at % 16))) & 0xF;
    word &= ~(0xFull << (4 * (at % 16)));
  } else {
    sign = static_cast<uint32_t>(w0) & 0xF;
    w0 = (w0 >> 4) | (w1 << 60);
    w1 >>= 4;
  }
  if ((non_digit_nibbles(w0) | non_digit_nibbles(w1)) != 0) [[unlikely]] {
    w0 = zero_non_digit_nibbles(w0);
    w1 = zero_non_digit_nibbles(w1);
  }
  return sign;
}

// The binary form of a coefficient in this form, a zero made canonical.
inline void to_binary(DecimalNumber& v) {
  const uint128 c = static_cast<uint128>(nibbles_to_number(v.coefficient[1])) * kTenTo16 +
                    nibbles_to_number(v.coefficient[0]);
  v.coefficient = {static_cast<uint64_t>(c), static_cast<uint64_t>(c >> 64), 0, 0};
  if (c == 0) {
    v.exponent = 0;
    v.sign = 0;
  }
}

// a = a + b for two values of the same exponent whose sum keeps to 32 digits and to the 32
// integer places.
[[gnu::always_inline]] inline bool add(DecimalNumber& a, const DecimalNumber& b) {
  // Values from fields have no exponent above 0; a 32-digit sum then always fits.
  if (a.exponent != b.exponent || a.exponent > 0) return false;
  const uint64_t a0 = a.coefficient[0], a1 = a.coefficient[1];
  const uint64_t b0 = b.coefficient[0], b1 = b.coefficient[1];
  if (a.sign == b.sign) {
    uint64_t carry;
    const uint64_t r0 = add_digits(a0, b0, 0, carry);
    const uint64_t r1 = add_digits(a1, b1, carry, carry);
    if (carry != 0) return false;  // a 33rd digit: the general addition wraps it
    set(a, r0, r1, a.exponent, a.sign);
    return true;
  }
  // The smaller magnitude from the larger: a digit that borrowed from the next one took 16 where
  // 10 was due.
  const bool a_larger = a1 > b1 || (a1 == b1 && a0 >= b0);
  const uint64_t x0 = a_larger ? a0 : b0, x1 = a_larger ? a1 : b1;
  const uint64_t y0 = a_larger ? b0 : a0, y1 = a_larger ? b1 : a1;
  unsigned long long d0;
  const uint64_t borrow = __builtin_usubll_overflow(x0, y0, &d0);
  const uint64_t d1 = x1 - y1 - borrow;
  // Bit 4k of x ^ y ^ d is the borrow into digit k, so the borrow out of digit k - 1.
  const uint64_t borrowed0 = (((x0 ^ y0 ^ d0) >> 4) | (borrow << 60)) & kOnes;
  const uint64_t borrowed1 = ((x1 ^ y1 ^ d1) >> 4) & kOnes;
  set(a, d0 - borrowed0 * 6, d1 - borrowed1 * 6, a.exponent, a_larger ? a.sign : b.sign);
  return true;
}

// Writes 32 digit nibbles (two words, the last digit lowest) into a field of up to 16 bytes with
// its sign, minus only when a digit stored is not zero; the digits above the field are dropped.
// Returns whether a digit stored is not zero.
[[gnu::always_inline]] inline bool store(uint64_t w0, uint64_t w1, bool negative, uint8_t* storage,
                                         uint32_t bytes, int first_nibble) {
  const uint32_t count = 2 * bytes - 1;  // at most 31
  if (count < 16) {
    w0 &= ~(~0ull << (4 * count));
    w1 = 0;
  } else {
    w1 &= ~(~0ull << (4 * (count - 16)));
  }
  const bool nonzero = (w0 | w1) != 0;
  const bool minus = negative && nonzero;
  if (first_nibble == kDecimalFirstNibble) {
    (count < 16 ? w0 : w1) |= static_cast<uint64_t>(minus ? 0xF : 0) << (4 * (count % 16));
  } else {
    w1 = (w1 << 4) | (w0 >> 60);
    w0 = (w0 << 4) | (minus ? 0xD : 0xF);
  }
  store_short_field(storage, bytes, w0, w1);
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
  uint64_t w0 = v.coefficient[0], w1 = v.coefficient[1];
  if (shift >= 16) [[unlikely]] {
    w1 = w0 << (4 * (shift - 16));
    w0 = 0;
  } else if (shift > 0) [[unlikely]] {
    w1 = (w1 << (4 * shift)) | (w0 >> (64 - 4 * shift));
    w0 <<= 4 * shift;
  }
  store(w0, w1, v.sign != 0, storage, bytes, first_nibble);
  return true;
}

}  // namespace vtn::decimal::bcd
