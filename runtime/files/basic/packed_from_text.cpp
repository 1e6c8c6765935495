#include "runtime/files/basic/packed_from_text.hpp"

#include <array>

#include "runtime/values/decimal.hpp"

namespace vtn::basic {
namespace {

// The decimal reader looks at no more than this many characters.
constexpr size_t kReaderLimit = 99;
// Digits that a uint64_t always holds, and the largest power of ten it holds.
constexpr uint32_t kFastDigits = 18;
constexpr uint32_t kWordDigits = 19;
// The decimal stack keeps 32 places; more places than that take the stack's way.
constexpr uint32_t kFastPlaces = 31;

constexpr auto kPowersOfTen = [] {
  std::array<uint64_t, kWordDigits + 1> p{};
  p[0] = 1;
  for (size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// 0..99 as two packed digits.
constexpr auto kPackedPairs = [] {
  std::array<uint8_t, 100> p{};
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>((i / 10) << 4 | (i % 10));
  return p;
}();

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The digits of `text` when the number fits a word. False sends the text the stack's way.
bool scan_text(std::string_view text, ScannedDecimal& out) {
  if (text.size() > kReaderLimit) return false;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  out.negative = i < text.size() && text[i] == '-';
  if (out.negative) ++i;
  for (; i < text.size() && is_digit(text[i]); ++i, ++out.count) {
    if (out.count == kFastDigits) return false;
    out.digits = out.digits * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    for (++i; i < text.size() && is_digit(text[i]); ++i, ++out.count, ++out.fraction) {
      if (out.count == kFastDigits) return false;
      out.digits = out.digits * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) return false;
  }
  return true;
}

// The number in units of the last place, rounded half away from zero, when it fits a word.
bool scaled_value(const ScannedDecimal& n, uint32_t places, uint64_t& value) {
  if (places > kFastPlaces || n.count > kFastDigits) return false;
  if (n.fraction <= places) {
    const uint32_t shift = places - n.fraction;
    if (n.count + shift > kWordDigits) return false;
    value = n.digits * kPowersOfTen[shift];
  } else {
    const uint64_t units = n.digits / kPowersOfTen[n.fraction - places - 1];
    value = units / 10 + (units % 10 >= 5 ? 1 : 0);
  }
  return true;
}

// Writes the last `count` pairs of decimal digits of `value` as packed bytes that end before
// `end`, the least significant pair last; returns the digits above them. Eight digits at a time
// are split into pairs that do not wait for one another.
uint64_t put_packed_pairs(uint8_t* end, uint64_t value, uint32_t count) {
  for (; count >= 4; count -= 4, end -= 4) {
    const auto low = static_cast<uint32_t>(value % 100000000);
    value /= 100000000;
    const uint32_t upper = low / 10000;
    const uint32_t lower = low % 10000;
    end[-1] = kPackedPairs[lower % 100];
    end[-2] = kPackedPairs[lower / 100];
    end[-3] = kPackedPairs[upper % 100];
    end[-4] = kPackedPairs[upper / 100];
  }
  for (; count > 0; --count, value /= 100) *--end = kPackedPairs[value % 100];
  return value;
}

void store_packed_value(uint64_t value, bool negative, PackedLayout layout, uint8_t* storage,
                        uint32_t bytes) {
  if (bytes == 0) return;
  // 2 x bytes - 1 digits, the most significant first, after the sign nibble or before it: for
  // DECIMAL every byte but the first holds two digits, for PDECIMAL every byte but the last.
  // Digits above the field's 2 x bytes - 1 are dropped (a division only when there are any).
  if (bytes <= kWordDigits / 2 && value >= kPowersOfTen[2 * bytes - 1])
    value %= kPowersOfTen[2 * bytes - 1];
  // A value whose kept digits are all zero is stored as a positive zero.
  const bool minus = negative && value != 0;
  // Every byte is written once, the zeros of the high digits included.
  if (layout == PackedLayout::kSignFirst) {
    value = put_packed_pairs(storage + bytes, value, bytes - 1);
    storage[0] = static_cast<uint8_t>((value % 10) | (minus ? 0xF0 : 0));
  } else {
    storage[bytes - 1] = static_cast<uint8_t>((value % 10) << 4 | (minus ? 0x0D : 0x0F));
    put_packed_pairs(storage + bytes - 1, value / 10, bytes - 1);
  }
}

}  // namespace

bool store_packed_digits(const ScannedDecimal& number, PackedLayout layout, uint8_t* storage,
                         uint32_t bytes, uint32_t places) {
  uint64_t value = 0;
  if (!scaled_value(number, places, value)) return false;
  store_packed_value(value, number.negative, layout, storage, bytes);
  return true;
}

void store_packed_text(std::string_view text, PackedLayout layout, uint8_t* storage, uint32_t bytes,
                       uint32_t places) {
  ScannedDecimal number;
  if (!scan_text(text, number) || !store_packed_digits(number, layout, storage, bytes, places)) {
    decimal_stack().push_text(text);
    pop_packed(layout, storage, bytes, places);
  }
}

void pop_packed(PackedLayout layout, uint8_t* storage, uint32_t bytes, uint32_t places) {
  if (layout == PackedLayout::kSignFirst)
    decimal_stack().pop_decimal(storage, bytes, places);
  else
    decimal_stack().pop_pdecimal(storage, bytes, places);
}

}  // namespace vtn::basic
