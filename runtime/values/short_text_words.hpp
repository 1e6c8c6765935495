// Reading a short text as words: the bytes of a text shorter than sixteen bytes, read as two
// overlapping words rather than through a copy, without reading anything past the text's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vtn {

// The n bytes at p (n <= 15) as a little-endian 16-byte value in `low` and `high`, zeros above;
// nothing at or past p + n is read.
inline void load_short_words(const char* p, size_t n, uint64_t& low, uint64_t& high) {
  low = 0;
  high = 0;
  if (n >= 8) {
    std::memcpy(&low, p, 8);
    if (n > 8) {
      std::memcpy(&high, p + n - 8, 8);
      high >>= 8 * (16 - n);  // the bytes below p + 8 are in `low` already
    }
  } else if (n >= 4) {
    uint32_t first = 0;
    uint32_t last = 0;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    low = first | (uint64_t{last} << (8 * (n - 4)));
  } else if (n > 0) {
    // One to three bytes: the first, the middle and the last cover them all.
    const auto byte = [p](size_t i) { return uint64_t{static_cast<uint8_t>(p[i])} << (8 * i); };
    low = byte(0) | byte(n / 2) | byte(n - 1);
  }
}

}  // namespace vtn
