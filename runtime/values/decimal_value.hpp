// The two forms of a decimal working value (see decimal.hpp).
#pragma once

#include <array>
#include <cstdint>

namespace vtn {

// One working value: digit[32] is the units digit, digit[32 + k] the digit of 10^k, digit[32 - k]
// the digit of 10^-k. Digits outside lo..hi count as zero. Zero is lo = hi = 32, digit 0, sign 0.
struct DecimalValue {
  uint8_t digit[64];
  uint8_t sign;  // 1 negative, 0 positive
  uint8_t lo;
  uint8_t hi;
};
static_assert(sizeof(DecimalValue) == 67);

// The binary form of a working value: the magnitude is coefficient x 10^exponent, where exponent +
// 32 is the digit form's lo (the position of the lowest digit that counts, so that 1.50 and 1.5
// stay apart) and the coefficient is below 10^(32 - exponent): the value has at most 32 integer
// digits. A zero result is canonical (coefficient 0, exponent 0, sign 0).
struct DecimalNumber {
  std::array<uint64_t, 4> coefficient;  // least significant limb first
  int8_t exponent;                      // -32..31
  uint8_t sign;                         // 1 negative, 0 positive
};

}  // namespace vtn
