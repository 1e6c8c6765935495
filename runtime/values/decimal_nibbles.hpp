// Packed digits and binary numbers sixteen digits at a time: a 64-bit word of sixteen digit
// nibbles (the lowest digit in the lowest nibble) and a number below 10^16 turn into each other by
// a few multiplies on all lanes of the word at once.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vtn::decimal {

inline uint64_t load_big_endian(const uint8_t* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  return x;
}

inline void store_big_endian(uint8_t* p, uint64_t x) {
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  std::memcpy(p, &x, 8);
}

// Bit 4k + 3 set when nibble k is above 9: its bit 3 and bit 2 or 1 set (adding 6 to bits 2 and 1
// alone reaches bit 3 exactly when one of them is set, and never leaves the nibble).
inline uint64_t non_digit_nibbles(uint64_t x) {
  constexpr uint64_t kSixes = 0x6666666666666666ull;
  return ((x & kSixes) + kSixes) & x & 0x8888888888888888ull;
}

// Every nibble above 9 becomes 0.
inline uint64_t zero_non_digit_nibbles(uint64_t x) {
  return x & ~((non_digit_nibbles(x) >> 3) * 0xF);
}

// Sixteen digit nibbles (the lowest digit in the lowest nibble) as a number. REQUIRES: every
// nibble is a digit.
inline uint64_t nibbles_to_number(uint64_t x) {
  x = (x & 0x0F0F0F0F0F0F0F0Full) + ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) * 10;
  x = (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull) * 100;
  x = (x & 0x0000FFFF0000FFFFull) + ((x >> 16) & 0x0000FFFF0000FFFFull) * 10000;
  return (x & 0xFFFFFFFFull) + (x >> 32) * 100000000;
}

// Digits spread into lanes and gathered back, shared by the packed nibbles and the digit bytes
// of the digit form. Each split divides every lane at once with a multiply by a reciprocal that is
// exact for the lane's range.

// A number below 10^8 as four 16-bit lanes of two digits each (a number below 100), the lowest two
// digits in lane 0: two lanes of four digits in 32 bits, each split in two.
inline uint64_t two_digit_lanes(uint32_t n) {
  const uint64_t x = (n % 10000) | (static_cast<uint64_t>(n / 10000) << 32);
  return x + (((x * 10486) >> 20) & 0x0000007F0000007Full) * (65536 - 100);
}

// Each 16-bit lane of two digits as its units digit in place and its tens digit `unit` times
// higher: unit 16 makes a byte of two nibbles, unit 256 two digit bytes.
inline uint64_t split_two_digit_lanes(uint64_t x, uint64_t unit) {
  return x + (((x * 103) >> 10) & 0x000F000F000F000Full) * (unit - 10);
}

// The low bytes of the four 16-bit lanes of x as four bytes, lane k's in byte k.
inline uint32_t gather_lane_bytes(uint64_t x) {
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
  return static_cast<uint32_t>(x | (x >> 16));
}

// A number below 10^8 as eight digit nibbles.
inline uint32_t eight_digit_nibbles(uint32_t n) {
  return gather_lane_bytes(split_two_digit_lanes(two_digit_lanes(n), 16));
}

// A number below 10^16 as sixteen digit nibbles.
inline uint64_t number_to_nibbles(uint64_t n) {
  return static_cast<uint64_t>(eight_digit_nibbles(static_cast<uint32_t>(n / 100000000))) << 32 |
         eight_digit_nibbles(static_cast<uint32_t>(n % 100000000));
}

// A field of up to 16 bytes as two words of nibbles, right-aligned (w0 the lower), and back.
inline constexpr uint32_t kShortFieldBytes = 16;

inline void load_short_field(const uint8_t* storage, uint32_t bytes, uint64_t& w0, uint64_t& w1) {
  if (bytes == kShortFieldBytes) {
    w0 = load_big_endian(storage + 8);
    w1 = load_big_endian(storage);
    return;
  }
  uint8_t buffer[kShortFieldBytes] = {};
  std::memcpy(buffer + kShortFieldBytes - bytes, storage, bytes);
  w0 = load_big_endian(buffer + 8);
  w1 = load_big_endian(buffer);
}

inline void store_short_field(uint8_t* storage, uint32_t bytes, uint64_t w0, uint64_t w1) {
  if (bytes == kShortFieldBytes) {
    store_big_endian(storage, w1);
    store_big_endian(storage + 8, w0);
    return;
  }
  uint8_t buffer[kShortFieldBytes];
  store_big_endian(buffer, w1);
  store_big_endian(buffer + 8, w0);
  std::memcpy(storage, buffer + kShortFieldBytes - bytes, bytes);
}

}  // namespace vtn::decimal
