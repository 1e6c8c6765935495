// The digits of a working value eight at a time. Digit i of a working value lives in byte i % 8 of
// word i / 8, so that word w, read as a number, is limb w of the value in base 10^8: the value is
// the sum of limb(w) x 10^(8w - 32). The arithmetic converts the words it needs into limbs, works
// in binary and converts the result back, each conversion a handful of multiplies on the whole
// word instead of eight steps on single digits.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/values/decimal.hpp"
#include "runtime/values/decimal_nibbles.hpp"

namespace vtn::decimal {

inline constexpr int kWords = 8;
inline constexpr uint32_t kLimbBase = 100000000;  // 10^8
inline constexpr uint64_t kLowBytes = 0x0101010101010101ull;

// The bytes of word w that lie inside lo..hi kept, the others zero.
inline uint64_t digit_word(const DecimalValue& v, int w) {
  const int below = v.lo - 8 * w;    // bytes [0, below) lie under lo
  const int end = v.hi - 8 * w + 1;  // bytes [end, 8) lie above hi
  uint64_t x;
  std::memcpy(&x, v.digit + 8 * w, 8);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  const uint64_t from_below = below <= 0 ? ~0ull : below >= 8 ? 0 : ~0ull << (8 * below);
  const uint64_t under_end = end >= 8 ? ~0ull : end <= 0 ? 0 : ~(~0ull << (8 * end));
  return x & from_below & under_end;
}

// All eight words of v with every digit outside lo..hi zero: sixteen bytes at a time, each byte
// kept when its index lies in lo..hi.
inline void digit_words(const DecimalValue& v, uint64_t (&words)[kWords]) {
  using Bytes = int8_t __attribute__((vector_size(16)));
  constexpr Bytes kIndex = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Bytes lo = Bytes{} + static_cast<int8_t>(v.lo);
  const Bytes hi = Bytes{} + static_cast<int8_t>(v.hi);
  for (int k = 0; k < 4; ++k) {
    // Bytes outside lo..hi are not even read: they may still be in flight from a store.
    Bytes d = {};
    if (16 * k <= v.hi && 16 * k + 15 >= v.lo) std::memcpy(&d, v.digit + 16 * k, 16);
    const Bytes index = kIndex + static_cast<int8_t>(16 * k);
    d &= (index >= lo) & (index <= hi);
    std::memcpy(&words[2 * k], &d, 16);
  }
  if constexpr (std::endian::native == std::endian::big) {
    for (uint64_t& x : words) x = __builtin_bswap64(x);
  }
}

inline void set_digit_word(DecimalValue& v, int w, uint64_t x) {
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  std::memcpy(v.digit + 8 * w, &x, 8);
}

// Eight digit bytes (the lowest digit in the lowest byte) as a number below 10^8.
inline uint32_t word_to_limb(uint64_t x) {
  x = (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull) * 10;
  x = (x & 0x0000FFFF0000FFFFull) + ((x >> 16) & 0x0000FFFF0000FFFFull) * 100;
  return static_cast<uint32_t>((x & 0xFFFFFFFFull) + (x >> 32) * 10000);
}

// A number below 10^8 as eight digit bytes.
inline uint64_t limb_to_word(uint32_t limb) {
  return split_two_digit_lanes(two_digit_lanes(limb), 256);
}

}  // namespace vtn::decimal
