// Microsoft Binary Format (MBF) floating point, the BFLOAT4 and BFLOAT8 storage types.
//
// BFLOAT4, 4 bytes:                      BFLOAT8, 8 bytes: the same over 7 + 1 bytes
//   byte 0   mantissa bits 0-7             bytes 0-5  mantissa bits 0-47
//   byte 1   mantissa bits 8-15            byte 6     bit 7 sign, bits 0-6 mantissa bits 48-54
//   byte 2   bit 7 sign, bits 0-6          byte 7     exponent, bias 129
//            mantissa bits 16-22
//   byte 3   exponent, bias 129
// value = (-1)^sign x 1.mantissa x 2^(exponent - 129); the leading 1 bit is implied. A value whose
// sign/mantissa byte and exponent byte are both zero is 0.0.
//
// Conversion from a double cuts the mantissa (no rounding) and limits the exponent to 255; a
// double too small for the MBF range (and every double whose top 16 bits are zero) stores zero.
#pragma once

#include <cstdint>

namespace vtn {

void real_to_bfloat4(double value, uint8_t* bytes);  // writes 4 bytes
double bfloat4_to_real(const uint8_t* bytes);

void real_to_bfloat8(double value, uint8_t* bytes);  // writes 8 bytes
double bfloat8_to_real(const uint8_t* bytes);

}  // namespace vtn
