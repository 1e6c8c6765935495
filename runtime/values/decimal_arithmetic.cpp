// The digit form keeps one decimal digit per byte; the trims read them eight at a time
// (decimal_words.hpp).
#include "runtime/values/decimal_arithmetic.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/values/decimal_words.hpp"

namespace vtn::decimal {
namespace {

// Digit i of v, zero outside lo..hi.
inline uint8_t digit_at(const DecimalValue& v, int i) {
  return (i >= v.lo && i <= v.hi) ? v.digit[i] : 0;
}

}  // namespace

bool is_zero(const DecimalValue& v) {
  for (int w = v.lo / 8; w <= v.hi / 8; ++w) {
    if (digit_word(v, w) != 0) return false;
  }
  return true;
}

void trim_high(DecimalValue& v) {
  for (int w = v.hi / 8; w >= v.lo / 8; --w) {
    const uint64_t x = digit_word(v, w);
    if (x != 0) {
      v.hi = static_cast<uint8_t>(8 * w + 7 - __builtin_clzll(x) / 8);
      return;
    }
  }
  set_zero(v);
}

void normalise(DecimalValue& v) {
  trim_high(v);
  for (int w = v.lo / 8; w <= v.hi / 8; ++w) {
    const uint64_t x = digit_word(v, w);
    if (x != 0) {
      v.lo = static_cast<uint8_t>(8 * w + __builtin_ctzll(x) / 8);
      return;
    }
  }
}

void round_places(DecimalValue& v, int64_t places) {
  const int64_t k = kUnits - places;
  if (v.lo >= k) return;
  if (k > kTop + 1 || v.hi < k - 1) {
    // Everything lies at least two places below the rounding digit's successor: zero.
    set_zero(v);
    return;
  }
  const int kk = static_cast<int>(k);
  const bool up = digit_at(v, kk - 1) >= 5;
  if (v.hi < kk) {
    // Only the rounding digit itself is there: the result is 0 or one unit at k.
    if (!up || kk > kTop) {
      set_zero(v);
      return;
    }
    v.digit[kk] = 1;
    v.lo = v.hi = static_cast<uint8_t>(kk);
    return;
  }
  v.lo = static_cast<uint8_t>(kk);
  if (up) {
    int i = kk;
    for (; i <= v.hi; ++i) {
      if (v.digit[i] < 9) {
        ++v.digit[i];
        break;
      }
      v.digit[i] = 0;
    }
    if (i > v.hi) {
      // The carry left the top digit.
      if (v.hi < kTop) {
        v.hi = static_cast<uint8_t>(v.hi + 1);
        v.digit[v.hi] = 1;
      }
    }
  }
  trim_high(v);
}

}  // namespace vtn::decimal
