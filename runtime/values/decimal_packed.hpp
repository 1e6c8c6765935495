// Packed decimal storage to and from a working value. A field of n bytes holds 2n - 1 digit
// nibbles, most significant first, with p places: its digits sit at working-value positions
// 2n - p + 30 down to 32 - p. DECIMAL keeps the sign in the high nibble of byte 0 (the digits
// start at nibble 1); PDECIMAL keeps it in the low nibble of the last byte (digits from nibble 0).
// The signs are the caller's. The digit-form codecs move four storage bytes (eight digits) per
// step; the binary codecs turn sixteen digits at a time into a number and back.
#pragma once

#include <cstdint>

#include "runtime/values/decimal_value.hpp"

namespace vtn::decimal {

inline constexpr int kDecimalFirstNibble = 1;
inline constexpr int kPDecimalFirstNibble = 0;

// Reads the digit nibbles into v (positive, high zeros trimmed). Positions outside the working
// value are dropped, and a nibble that is no decimal digit reads as 0.
void unpack(DecimalValue& v, const uint8_t* storage, uint32_t bytes, uint32_t places,
            int first_nibble);

// Writes every byte of the storage: the digits of v (already rounded; zero outside lo..hi) at
// their nibbles and zero in the sign nibble. Returns whether any digit written is not zero.
bool pack(const DecimalValue& v, uint8_t* storage, uint32_t bytes, uint32_t places,
          int first_nibble);

// The same for the binary form: v gets the field's digits as its coefficient, in units of the
// field's last place (or of the 32nd place when the field has more), positive.
void unpack(DecimalNumber& v, const uint8_t* storage, uint32_t bytes, uint32_t places,
            int first_nibble);
bool pack(const DecimalNumber& v, uint8_t* storage, uint32_t bytes, uint32_t places,
          int first_nibble);

}  // namespace vtn::decimal
