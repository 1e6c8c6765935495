// Packed fields to and from binary working values. A field of up to 32 bytes is read as four
// 64-bit words of sixteen digit nibbles each, right-aligned (the last digit in the lowest nibble
// of word 0, the sign nibble cleared); each word becomes a number below 10^16 in four
// multiply-adds on all its lanes at once, and four such numbers make the coefficient. Storing runs
// the other way: the coefficient is cut into numbers below 10^16, each spread into sixteen nibbles
// by multiplies with reciprocals that are exact for the lane's range. Longer fields go through the
// digit form.
#include <cstring>

#include "runtime/values/decimal_arithmetic.hpp"
#include "runtime/values/decimal_nibbles.hpp"
#include "runtime/values/decimal_number.hpp"
#include "runtime/values/decimal_packed.hpp"

namespace vtn::decimal {
namespace {

constexpr uint32_t kMaxBinaryBytes = 32;
constexpr int kFieldWords = 4;
using FieldWords = uint64_t[kFieldWords];

// The field's bytes right-aligned in four words (word 0 the lowest), sign nibble included.
void load_field(const uint8_t* storage, uint32_t bytes, FieldWords& w) {
  if (bytes == 16) {
    w[0] = load_big_endian(storage + 8);
    w[1] = load_big_endian(storage);
    w[2] = w[3] = 0;
    return;
  }
  uint8_t buffer[8 * kFieldWords] = {};
  std::memcpy(buffer + sizeof buffer - bytes, storage, bytes);
  for (int k = 0; k < kFieldWords; ++k) w[k] = load_big_endian(buffer + 8 * (kFieldWords - 1 - k));
}

void store_field(uint8_t* storage, uint32_t bytes, const FieldWords& w) {
  if (bytes == 16) {
    store_big_endian(storage, w[1]);
    store_big_endian(storage + 8, w[0]);
    return;
  }
  uint8_t buffer[8 * kFieldWords];
  for (int k = 0; k < kFieldWords; ++k) store_big_endian(buffer + 8 * (kFieldWords - 1 - k), w[k]);
  std::memcpy(storage, buffer + sizeof buffer - bytes, bytes);
}

// Moves the words one nibble down (a PDECIMAL's digits end one nibble above its last).
void shift_nibble_down(FieldWords& w) {
  for (int k = 0; k < kFieldWords; ++k) {
    w[k] = (w[k] >> 4) | (k + 1 < kFieldWords ? w[k + 1] << 60 : 0);
  }
}

// Moves the words up by `count` < 64 nibbles.
void shift_nibbles_up(FieldWords& w, int count) {
  const int words = count / 16;
  const int bits = 4 * (count % 16);
  for (int k = kFieldWords - 1; k >= 0; --k) {
    const int from = k - words;
    const uint64_t high = from >= 0 ? w[from] : 0;
    const uint64_t low = from - 1 >= 0 ? w[from - 1] : 0;
    w[k] = bits == 0 ? high : (high << bits) | (low >> (64 - bits));
  }
}

// Zeroes every nibble from `count` up.
void keep_nibbles(FieldWords& w, int count) {
  for (int k = 0; k < kFieldWords; ++k) {
    const int in_word = count - 16 * k;
    if (in_word <= 0) {
      w[k] = 0;
    } else if (in_word < 16) {
      w[k] &= ~(~0ull << (4 * in_word));
    }
  }
}

}  // namespace

void unpack(DecimalNumber& v, const uint8_t* storage, uint32_t bytes, uint32_t places,
            int first_nibble) {
  set_zero(v);
  if (bytes == 0) return;
  if (bytes > kMaxBinaryBytes) {
    DecimalValue digits;
    unpack(digits, storage, bytes, places, first_nibble);
    to_number(digits, v);
    return;
  }
  const int digits = 2 * static_cast<int>(bytes) - 1;
  FieldWords w;
  load_field(storage, bytes, w);
  if (first_nibble == kDecimalFirstNibble) {
    w[digits / 16] &= ~(0xFull << (4 * (digits % 16)));
  } else {
    w[0] &= ~0xFull;
    shift_nibble_down(w);
  }
  Limbs& c = v.coefficient;
  if (bytes <= 16) {
    const uint128 n =
        static_cast<uint128>(nibbles_to_number(zero_non_digit_nibbles(w[1]))) * kTenTo16 +
        nibbles_to_number(zero_non_digit_nibbles(w[0]));
    c = {static_cast<uint64_t>(n), static_cast<uint64_t>(n >> 64), 0, 0};
  } else {
    for (int k = (digits - 1) / 16; k >= 0; --k) {
      multiply_by(c, kTenTo16);
      const Limbs chunk = {nibbles_to_number(zero_non_digit_nibbles(w[k])), 0, 0, 0};
      add_to(c, chunk);
    }
  }
  // Digits below the 32nd place are dropped, and so are those above the 32 integer places.
  int64_t exponent = -static_cast<int64_t>(places);
  if (exponent < -kUnits) {
    const int64_t cut = -kUnits - exponent;
    if (cut >= digits) {
      set_zero(v);
      return;
    }
    divide_by_power_of_ten(c, static_cast<int>(cut));
    exponent = -kUnits;
  }
  v.exponent = static_cast<int8_t>(exponent);
  wrap(v);
}

bool pack(const DecimalNumber& v, uint8_t* storage, uint32_t bytes, uint32_t places,
          int first_nibble) {
  if (bytes == 0) return false;
  if (bytes > kMaxBinaryBytes) {
    DecimalValue digits;
    to_digits(v, digits);
    return pack(digits, storage, bytes, places, first_nibble);
  }
  const int digits = 2 * static_cast<int>(bytes) - 1;
  // The field's digits: the coefficient's, moved up by the places the field has beyond the
  // value's (or cut by those it lacks), those above the field dropped.
  Limbs c = v.coefficient;
  int64_t shift = v.exponent + static_cast<int64_t>(places);
  if (shift < 0) {
    if (-shift > kMaxPower) {
      c = {};
    } else {
      divide_by_power_of_ten(c, static_cast<int>(-shift));
    }
    shift = 0;
  }
  FieldWords w = {};
  if (shift < digits) {
    const int kept = digits - static_cast<int>(shift);
    int n = used_limbs(c.data(), 4);
    for (int k = 0; 16 * k < kept && n > 0; ++k) {
      w[k] = number_to_nibbles(divide_by_power(c.data(), n, 16));
      n = used_limbs(c.data(), n);
    }
    shift_nibbles_up(w, static_cast<int>(shift));
    keep_nibbles(w, digits);
  }
  const bool nonzero = (w[0] | w[1] | w[2] | w[3]) != 0;
  if (first_nibble == kPDecimalFirstNibble) shift_nibbles_up(w, 1);
  store_field(storage, bytes, w);
  return nonzero;
}

}  // namespace vtn::decimal
