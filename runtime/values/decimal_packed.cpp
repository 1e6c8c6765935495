// Nibble n of a field holds the digit of position top - n, where top = hi + first_nibble is the
// position that nibble 0 would hold. So byte b holds two neighbouring positions, top - 2b (its
// high nibble) and top - 2b - 1 (its low nibble), and the storage read backwards is the working
// value's digits in ascending order, two per byte. Both codecs work on four bytes at a time: the
// bytes reversed into one 32-bit word, then spread into (or gathered from) eight digit bytes.
#include "runtime/values/decimal_packed.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/values/decimal_arithmetic.hpp"
#include "runtime/values/decimal_nibbles.hpp"
#include "runtime/values/decimal_words.hpp"

namespace vtn::decimal {
namespace {

constexpr uint64_t kLowNibbles = 0x000F000F000F000Full;
constexpr uint64_t kHighNibbles = 0x00F000F000F000F0ull;

// Four storage bytes as a word whose lowest byte is the last of them (storage[3]).
inline uint32_t load_reversed(const uint8_t* p) {
  uint32_t x;
  std::memcpy(&x, p, 4);
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap32(x);
  return x;
}

inline void store_reversed(uint8_t* p, uint32_t x) {
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap32(x);
  std::memcpy(p, &x, 4);
}

// Eight bytes in memory order as a number whose lowest byte is the first of them, and back.
inline uint64_t load_bytes(const uint8_t* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

inline void store_bytes(uint8_t* p, uint64_t x) {
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  std::memcpy(p, &x, 8);
}

// Byte k of x becomes the 16-bit lane k: its low nibble in the lane's low byte, its high nibble
// in the lane's high byte.
inline uint64_t spread_nibbles(uint32_t x) {
  uint64_t y = x;
  y = (y | (y << 16)) & 0x0000FFFF0000FFFFull;
  y = (y | (y << 8)) & 0x00FF00FF00FF00FFull;
  return (y & kLowNibbles) | ((y & kHighNibbles) << 4);
}

// The reverse: lane k (low byte a digit, high byte a digit) becomes byte k, the high byte's digit
// in its high nibble.
inline uint32_t gather_nibbles(uint64_t x) {
  return gather_lane_bytes((x | (x >> 4)) & 0x00FF00FF00FF00FFull);
}

// Every byte that holds 10 to 15 becomes 0 (each byte is at most 15, so adding 118 carries into
// bit 7 exactly for those, and never into the next byte).
inline uint64_t drop_non_digits(uint64_t x) {
  const uint64_t big = ((x + 0x7676767676767676ull) & 0x8080808080808080ull) >> 7;
  return x & ~(big * 0xFF);
}

}  // namespace

void unpack(DecimalValue& v, const uint8_t* storage, uint32_t bytes, uint32_t places,
            int first_nibble) {
  set_zero(v);
  if (bytes == 0) return;
  const int64_t count = 2 * static_cast<int64_t>(bytes) - 1;
  const int64_t hi = count - 1 + kUnits - static_cast<int64_t>(places);
  const int64_t lo = kUnits - static_cast<int64_t>(places);
  const int64_t first = std::max<int64_t>(lo, 0);
  const int64_t last = std::min<int64_t>(hi, kTop);
  if (first > last) return;
  const int64_t top = hi + first_nibble;
  const int64_t low_byte = (top - last) / 2;    // holds position `last`
  const int64_t high_byte = (top - first) / 2;  // holds position `first`
  // out[j] is the digit of position base + j, from the low nibble of high_byte upwards. The
  // positions written lie within first - 1 .. last + 1: straight into the value when they all
  // fit in it (every field of up to 31 digits), through a buffer otherwise.
  const int64_t base = top - (2 * high_byte + 1);
  const int64_t end = base + 2 * (high_byte - low_byte + 1);
  const bool direct = base >= 0 && end <= kTop + 1;
  uint8_t buffer[72];
  uint8_t* const out = direct ? v.digit + base : buffer;
  // The highest non-zero digit in first..last, found on the way.
  int64_t top_digit = -1;
  const auto note = [&](int64_t position, uint64_t digits, int n) {
    const int64_t below = first - position;     // bytes [0, below) lie under first
    const int64_t above = last - position + 1;  // bytes [above, n) lie over last
    if (below > 0) digits &= below >= 8 ? 0 : ~0ull << (8 * below);
    if (above < n) digits &= above <= 0 ? 0 : ~(~0ull << (8 * above));
    if (digits != 0) top_digit = position + 7 - __builtin_clzll(digits) / 8;
  };
  int64_t j = 0;
  int64_t b = high_byte;
  for (; b - 3 >= low_byte; b -= 4, j += 8) {
    const uint64_t digits = drop_non_digits(spread_nibbles(load_reversed(storage + b - 3)));
    store_bytes(out + j, digits);
    note(base + j, digits, 8);
  }
  for (; b >= low_byte; --b, j += 2) {
    const uint8_t low = storage[b] & 0x0F;
    const uint8_t high = static_cast<uint8_t>(storage[b] >> 4);
    out[j] = low <= 9 ? low : 0;
    out[j + 1] = high <= 9 ? high : 0;
    note(base + j, static_cast<uint64_t>(out[j + 1]) << 8 | out[j], 2);
  }
  if (top_digit < 0) {
    set_zero(v);  // every digit is zero (and the writes may have touched the units digit)
    return;
  }
  if (!direct) {
    std::memcpy(v.digit + first, buffer + (first - base),
                static_cast<size_t>(top_digit - first + 1));
  }
  v.lo = static_cast<uint8_t>(first);
  v.hi = static_cast<uint8_t>(top_digit);
}

bool pack(const DecimalValue& v, uint8_t* storage, uint32_t bytes, uint32_t places,
          int first_nibble) {
  std::memset(storage, 0, bytes);
  if (bytes == 0) return false;
  const int64_t count = 2 * static_cast<int64_t>(bytes) - 1;
  const int64_t top = count - 1 + kUnits - static_cast<int64_t>(places) + first_nibble;
  // Only the bytes that hold a position in lo..hi get digits: byte b holds top - 2b - 1 and
  // top - 2b.
  const int64_t first_byte = std::max<int64_t>(0, (top - v.hi) / 2);
  const int64_t last_byte = std::min<int64_t>(bytes - 1, (top - v.lo) >= 0 ? (top - v.lo) / 2 : -1);
  if (first_byte > last_byte) return false;
  // The value's digit words with two zero words below and two above: the eight positions from q
  // on are word (q + 16) / 8 of `words` shifted down by (q + 16) % 8 bytes, joined with the next.
  uint64_t words[kWords + 4] = {};
  uint64_t digits[kWords];
  digit_words(v, digits);
  for (int w = 0; w < kWords; ++w) words[w + 2] = digits[w];
  const auto eight_digits = [&](int64_t q) {
    const int64_t at = q + 16;
    const int shift = static_cast<int>(at % 8) * 8;
    const uint64_t low = words[at / 8];
    return shift == 0 ? low : (low >> shift) | (words[at / 8 + 1] << (64 - shift));
  };
  uint32_t any = 0;
  int64_t b = first_byte;
  for (; b + 3 <= last_byte; b += 4) {
    // Positions top - 2b - 7 (low nibble of byte b + 3) up to top - 2b (high nibble of byte b).
    const uint32_t packed = gather_nibbles(eight_digits(top - 2 * b - 7));
    store_reversed(storage + b, packed);
    any |= packed;
  }
  for (; b <= last_byte; ++b) {
    const uint64_t two = eight_digits(top - 2 * b - 1);
    storage[b] = static_cast<uint8_t>((two >> 8 & 0x0F) << 4 | (two & 0x0F));
    any |= storage[b];
  }
  // The sign nibble holds no digit.
  if (first_nibble == kDecimalFirstNibble) {
    if (first_byte == 0 && (storage[0] & 0xF0) != 0) {
      storage[0] &= 0x0F;
      any = 0;
      for (int64_t k = first_byte; k <= last_byte; ++k) any |= storage[k];
    }
  } else if (last_byte == bytes - 1 && (storage[bytes - 1] & 0x0F) != 0) {
    storage[bytes - 1] &= 0xF0;
    any = 0;
    for (int64_t k = first_byte; k <= last_byte; ++k) any |= storage[k];
  }
  return any != 0;
}

}  // namespace vtn::decimal
