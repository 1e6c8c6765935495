// Numbers read straight from the text of a line.
//
// Each reader takes the text at p[i] up to `limit` and returns where the number ends. The readers
// for reals and decimals take only the common shapes, whose result they give exactly as the full
// readers do; for any other they return kNotSimple and the caller takes the full reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/files/basic/packed_from_text.hpp"

namespace vtn::basic {

inline constexpr size_t kNotSimple = SIZE_MAX;

inline bool is_decimal_digit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Where a run of digits can end: anywhere up to the limit, or, when the byte at the limit is known
// to be no digit, at a byte that is no digit (which then comes at the limit or before it).
enum class DigitsEnd { kAtLimit, kAtNonDigit };

// The decimal digits at p[i, limit): returns where they end, with `value` = value x 10^count +
// their value, wrapping past 64 bits (so that the low bytes of a long number are kept). The
// numbers of a line are short: a plain loop beats any wider step on them.
template <DigitsEnd kEnd = DigitsEnd::kAtLimit>
inline size_t scan_digits(const uint8_t* p, size_t i, size_t limit, uint64_t& value) {
  uint64_t v = value;
  for (; kEnd == DigitsEnd::kAtNonDigit || i < limit; ++i) {
    const uint32_t digit = p[i] - uint32_t{'0'};  // one test for both ends of the range
    if (digit > 9) break;
    v = v * 10 + digit;
  }
  value = v;
  return i;
}

// An integer: [sign] digits, into 64 bits that wrap. An unsigned field takes no "-": the value
// is then 0 and the number ends where it began.
template <DigitsEnd kEnd = DigitsEnd::kAtLimit>
inline size_t scan_integer(const uint8_t* p, size_t i, size_t limit, bool is_signed,
                           int64_t& value) {
  bool negative = false;
  if (i < limit && (p[i] == '-' || p[i] == '+')) {
    negative = p[i] == '-';
    if (negative && !is_signed) {
      value = 0;
      return i;
    }
    ++i;
  }
  uint64_t n = 0;
  i = scan_digits<kEnd>(p, i, limit, n);
  value = static_cast<int64_t>(negative ? 0 - n : n);
  return i;
}

// Digits of a real that stay below 2^53: dividing them by an exact power of ten rounds once, as
// the full reader does.
inline constexpr size_t kSimpleRealDigits = 15;
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool is_exponent_mark(uint8_t c) {
  return c == 'e' || c == 'E';
}

// The common real: [sign] digits [. digits], at least one and at most 15 digits, no exponent.
template <DigitsEnd kEnd = DigitsEnd::kAtLimit>
inline size_t scan_simple_real(const uint8_t* p, size_t i, size_t limit, double& value) {
  bool negative = false;
  if (i < limit && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
  uint64_t digits = 0;
  const size_t integer = i;
  i = scan_digits<kEnd>(p, i, limit, digits);
  size_t count = i - integer;
  size_t fraction = 0;
  if (i < limit && p[i] == '.') {
    const size_t point = ++i;
    i = scan_digits<kEnd>(p, i, limit, digits);
    fraction = i - point;
    count += fraction;
  }
  if (count == 0 || count > kSimpleRealDigits || (i < limit && is_exponent_mark(p[i])))
    return kNotSimple;
  value = static_cast<double>(digits) / kExactPowersOfTen[fraction];
  if (negative) value = -value;
  return i;
}

// The common decimal: ["-"] digits [. digits], at least one and at most 18 digits, no exponent,
// stored into packed storage as store_packed_text stores the same text; nothing is stored when it
// returns kNotSimple. (The decimal reader reads no number after "+": that is not common.)
template <DigitsEnd kEnd = DigitsEnd::kAtLimit>
inline size_t scan_simple_packed(const uint8_t* p, size_t i, size_t limit, PackedLayout layout,
                                 uint8_t* storage, uint32_t bytes, uint32_t places) {
  constexpr size_t kPackedDigits = 18;
  ScannedDecimal number;
  if (i < limit && p[i] == '-') {
    number.negative = true;
    ++i;
  }
  uint64_t digits = 0;
  const size_t integer = i;
  i = scan_digits<kEnd>(p, i, limit, digits);
  size_t count = i - integer;
  if (i < limit && p[i] == '.') {
    const size_t point = ++i;
    i = scan_digits<kEnd>(p, i, limit, digits);
    number.fraction = static_cast<uint32_t>(i - point);
    count += number.fraction;
  }
  if (count == 0 || count > kPackedDigits || (i < limit && is_exponent_mark(p[i])))
    return kNotSimple;
  number.digits = digits;
  number.count = static_cast<uint32_t>(count);
  return store_packed_digits(number, layout, storage, bytes, places) ? i : kNotSimple;
}

}  // namespace vtn::basic
