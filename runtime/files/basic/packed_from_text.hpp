// Numbers read from a line straight into the packed storage of a DECIMAL or PDECIMAL field.
//
// The result is the one the decimal stack gives for the same text (the decimal reader, then a
// store rounded half away from zero to the field's places, with the digits above its capacity
// dropped), without the stack's working values: a number of up to 18 digits, as a line nearly
// always holds, is converted in one 64-bit integer; longer numbers and those with an exponent
// take the stack.
#pragma once

#include <cstdint>
#include <string_view>

namespace vtn::basic {

enum class PackedLayout : uint8_t {
  kSignFirst,  // DECIMAL: the high nibble of the first byte is the sign (0 or 0xF), digits follow
  kSignLast,   // PDECIMAL: digits first, the low nibble of the last byte is the sign (0xF or 0xD)
};

// Stores the number `text` as the decimal reader reads it (leading blanks, "-", digits, "." or
// "," and fraction digits, an exponent only after a point; anything else ends it) into `bytes`
// bytes of packed storage with `places` decimal places.
void store_packed_text(std::string_view text, PackedLayout layout, uint8_t* storage, uint32_t bytes,
                       uint32_t places);

// A number whose digits have been read: `digits` holds its first `count` digits (at most 18), the
// last `fraction` of them after the point.
struct ScannedDecimal {
  uint64_t digits = 0;
  uint32_t count = 0;
  uint32_t fraction = 0;
  bool negative = false;
};

// Stores `number` as store_packed_text stores its text. False, with nothing stored, when the
// number needs the decimal stack (more places than a word can scale it to): the caller then hands
// the text to store_packed_text.
bool store_packed_digits(const ScannedDecimal& number, PackedLayout layout, uint8_t* storage,
                         uint32_t bytes, uint32_t places);

// Pops the top of the decimal stack into packed storage.
void pop_packed(PackedLayout layout, uint8_t* storage, uint32_t bytes, uint32_t places);

}  // namespace vtn::basic
