// The decimal stack as it was when it kept every working value as one byte per digit and worked
// digit by digit (or on nine-digit limbs), kept as the reference of the differential tests: the
// arithmetic, rounding, scaling and comparison on working values, the packed codecs a nibble at a
// time, and the loads and stores of LONG, REAL and text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/values/decimal.hpp"

namespace vtn::reference_decimal {

inline constexpr int kUnits = 32;
inline constexpr int kTop = 63;
inline constexpr int kQuotientPlaces = 31;

inline void set_zero(DecimalValue& v);
inline void trim_high(DecimalValue& v);
inline void normalise(DecimalValue& v);
inline void round_places(DecimalValue& v, int64_t places);

// Digit i of v, zero outside lo..hi.
inline uint8_t digit_at(const DecimalValue& v, int i) {
  return (i >= v.lo && i <= v.hi) ? v.digit[i] : 0;
}

// Long division runs on limbs of nine decimal digits (least significant first): the same exact
// quotient as digit-by-digit division, with a ninth of the steps. A dividend has at most 64
// digits plus 95 appended zeros.
inline constexpr uint32_t kLimbBase = 1000000000;
inline constexpr int kLimbDigits = 9;
inline constexpr int kMaxLimbs = 20;
inline constexpr uint32_t kLimbPowers[kLimbDigits] = {1,      10,      100,      1000,     10000,
                                                      100000, 1000000, 10000000, 100000000};

// The digits lo..hi of v followed by `zeros` zero digits, as limbs; returns the limb count
// without leading zero limbs.
inline int to_limbs(const DecimalValue& v, int zeros, uint32_t* limbs) {
  const int count = v.hi - v.lo + 1 + zeros;
  const int n = (count + kLimbDigits - 1) / kLimbDigits;
  for (int l = 0; l < n; ++l) limbs[l] = 0;
  for (int k = zeros; k < count; ++k) {
    limbs[k / kLimbDigits] += v.digit[v.lo + k - zeros] * kLimbPowers[k % kLimbDigits];
  }
  int used = n;
  while (used > 0 && limbs[used - 1] == 0) --used;
  return used;
}

// q = floor(u / v) for un >= vn >= 1 limbs, v[vn - 1] != 0; q gets un - vn + 1 limbs. This is
// the classical long division: the divisor is scaled so that its leading limb is at least half
// the base, each quotient limb is estimated from the two leading limbs of the remainder and
// corrected with the divisor's second limb, and a rare estimate still one too high is undone by
// adding the divisor back.
inline void long_divide(const uint32_t* u_in, int un, const uint32_t* v_in, int vn, uint32_t* q) {
  if (vn == 1) {
    const uint64_t d = v_in[0];
    uint64_t remainder = 0;
    for (int i = un - 1; i >= 0; --i) {
      const uint64_t cur = remainder * kLimbBase + u_in[i];
      q[i] = static_cast<uint32_t>(cur / d);
      remainder = cur % d;
    }
    return;
  }
  const uint64_t factor = kLimbBase / (static_cast<uint64_t>(v_in[vn - 1]) + 1);
  uint32_t u[kMaxLimbs + 1];
  uint32_t v[kMaxLimbs];
  uint64_t carry = 0;
  for (int i = 0; i < un; ++i) {
    const uint64_t cur = u_in[i] * factor + carry;
    u[i] = static_cast<uint32_t>(cur % kLimbBase);
    carry = cur / kLimbBase;
  }
  u[un] = static_cast<uint32_t>(carry);
  carry = 0;
  for (int i = 0; i < vn; ++i) {
    const uint64_t cur = v_in[i] * factor + carry;
    v[i] = static_cast<uint32_t>(cur % kLimbBase);
    carry = cur / kLimbBase;
  }
  const uint64_t v1 = v[vn - 1];
  const uint64_t v2 = v[vn - 2];
  for (int j = un - vn; j >= 0; --j) {
    const uint64_t top = static_cast<uint64_t>(u[j + vn]) * kLimbBase + u[j + vn - 1];
    uint64_t qhat = top / v1;
    uint64_t rhat = top % v1;
    while (qhat >= kLimbBase || qhat * v2 > rhat * kLimbBase + u[j + vn - 2]) {
      --qhat;
      rhat += v1;
      if (rhat >= kLimbBase) break;
    }
    // u[j .. j + vn] -= qhat x v
    uint64_t mul_carry = 0;
    int64_t borrow = 0;
    for (int i = 0; i < vn; ++i) {
      const uint64_t p = qhat * v[i] + mul_carry;
      mul_carry = p / kLimbBase;
      int64_t t = static_cast<int64_t>(u[i + j]) - static_cast<int64_t>(p % kLimbBase) - borrow;
      borrow = t < 0;
      u[i + j] = static_cast<uint32_t>(t + (borrow ? kLimbBase : 0));
    }
    int64_t t = static_cast<int64_t>(u[j + vn]) - static_cast<int64_t>(mul_carry) - borrow;
    borrow = t < 0;
    u[j + vn] = static_cast<uint32_t>(t + (borrow ? kLimbBase : 0));
    if (borrow) {
      --qhat;
      uint64_t c = 0;
      for (int i = 0; i < vn; ++i) {
        const uint64_t sum = static_cast<uint64_t>(u[i + j]) + v[i] + c;
        c = sum >= kLimbBase;
        u[i + j] = static_cast<uint32_t>(sum - (c ? kLimbBase : 0));
      }
      u[j + vn] = static_cast<uint32_t>((u[j + vn] + c) % kLimbBase);
    }
    q[j] = static_cast<uint32_t>(qhat);
  }
}

inline void set_zero(DecimalValue& v) {
  v.digit[kUnits] = 0;
  v.sign = 0;
  v.lo = kUnits;
  v.hi = kUnits;
}

inline bool is_zero(const DecimalValue& v) {
  for (int i = v.lo; i <= v.hi; ++i) {
    if (v.digit[i] != 0) return false;
  }
  return true;
}

inline void trim_high(DecimalValue& v) {
  int hi = v.hi;
  while (hi > v.lo && v.digit[hi] == 0) --hi;
  if (hi == v.lo && v.digit[hi] == 0) {
    set_zero(v);
    return;
  }
  v.hi = static_cast<uint8_t>(hi);
}

inline void normalise(DecimalValue& v) {
  trim_high(v);
  int lo = v.lo;
  while (lo < v.hi && v.digit[lo] == 0) ++lo;
  v.lo = static_cast<uint8_t>(lo);
}

inline void round_places(DecimalValue& v, int64_t places) {
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

inline void add(DecimalValue& a, const DecimalValue& b) {
  const int lo = std::min(a.lo, b.lo);
  int hi = std::max(a.hi, b.hi);
  if (hi < kTop) ++hi;  // room for a carry
  uint8_t x[64];
  for (int i = lo; i <= hi; ++i) x[i] = digit_at(a, i);
  if (a.sign == b.sign) {
    int carry = 0;
    for (int i = lo; i <= hi; ++i) {
      const int s = x[i] + digit_at(b, i) + carry;
      carry = s >= 10;
      x[i] = static_cast<uint8_t>(s - (carry ? 10 : 0));
    }
  } else {
    int borrow = 0;
    for (int i = lo; i <= hi; ++i) {
      const int t = x[i] - digit_at(b, i) - borrow;
      borrow = t < 0;
      x[i] = static_cast<uint8_t>(t + (borrow ? 10 : 0));
    }
    if (borrow) {
      // |b| > |a|: the digits hold 10^n - (|b| - |a|); take the ten's complement back.
      int carry = 1;
      for (int i = lo; i <= hi; ++i) {
        const int t = 9 - x[i] + carry;
        carry = t >= 10;
        x[i] = static_cast<uint8_t>(t - (carry ? 10 : 0));
      }
      a.sign = a.sign ? 0 : 1;
    }
  }
  std::memcpy(a.digit + lo, x + lo, static_cast<size_t>(hi - lo + 1));
  a.lo = static_cast<uint8_t>(lo);
  a.hi = static_cast<uint8_t>(hi);
  trim_high(a);  // also makes a zero result positive
}

inline void multiply(DecimalValue& a, const DecimalValue& b_in) {
  DecimalValue b = b_in;
  normalise(a);
  normalise(b);
  const uint8_t sign = a.sign ^ b.sign;
  if (is_zero(a) || is_zero(b)) {
    set_zero(a);
    return;
  }
  const int result_lo = a.lo + b.lo - kUnits;
  const int result_hi = std::min(a.hi + b.hi - 30, kTop);
  if (result_lo > kTop || result_hi < 0) {
    set_zero(a);
    return;
  }
  // The factor with more digits is the one whose multiples are cached; each digit of the other
  // then costs one addition.
  const DecimalValue& x = (a.hi - a.lo >= b.hi - b.lo) ? a : b;
  const DecimalValue& y = (&x == &a) ? b : a;
  const int xn = x.hi - x.lo + 1;

  // Accumulator: product index i lives at acc[i + kOffset]; indices run from -32 up to 96. The
  // cached multiples are kept digit by digit without carries (d x digit, at most 81), so a
  // position takes at most 64 x 81 and every carry waits until the end.
  constexpr int kOffset = 32;
  uint16_t acc[136] = {};
  uint8_t multiples[10][64];
  bool built[10] = {};
  for (int j = y.lo; j <= y.hi; ++j) {
    const int d = y.digit[j];
    if (d == 0) continue;
    if (!built[d]) {
      for (int i = 0; i < xn; ++i) multiples[d][i] = static_cast<uint8_t>(d * x.digit[x.lo + i]);
      built[d] = true;
    }
    const uint8_t* mult = multiples[d];
    uint16_t* dest = acc + (x.lo + j - kUnits + kOffset);
    for (int i = 0; i < xn; ++i) dest[i] = static_cast<uint16_t>(dest[i] + mult[i]);
  }
  const int bottom = x.lo + y.lo - kUnits + kOffset;
  const int top = x.hi + y.hi - kUnits + 2 + kOffset;  // above the product's highest digit
  int carry = 0;
  for (int i = bottom; i <= top; ++i) {
    const int s = acc[i] + carry;
    acc[i] = static_cast<uint16_t>(s % 10);
    carry = s / 10;
  }
  const int lo = std::max(result_lo, 0);
  for (int i = lo; i <= result_hi; ++i) a.digit[i] = acc[i + kOffset];
  a.lo = static_cast<uint8_t>(lo);
  a.hi = static_cast<uint8_t>(result_hi);
  a.sign = sign;
  normalise(a);
}

inline void divide(DecimalValue& a, const DecimalValue& b_in) {
  DecimalValue b = b_in;
  normalise(b);
  normalise(a);
  if (is_zero(a) || is_zero(b)) {
    set_zero(a);
    return;
  }
  const uint8_t sign = a.sign ^ b.sign;
  // With the dividend's digits as the integer N x 10^(a.lo - 32) and the divisor's as
  // M x 10^(b.lo - 32), the quotient in units of 10^-32 is N x 10^e / M.
  const int e = a.lo - b.lo + kUnits;
  uint32_t n[kMaxLimbs];
  uint32_t m[kMaxLimbs];
  const int nn = to_limbs(a, std::max(e, 0), n);
  const int mn = to_limbs(b, std::max(-e, 0), m);
  if (nn < mn) {
    set_zero(a);
    return;
  }
  uint32_t q[kMaxLimbs] = {};
  long_divide(n, nn, m, mn, q);
  // The quotient's last digit has index 0 (the 32nd place); digits beyond index 63 are lost.
  const int qn = nn - mn + 1;
  int top = 0;
  for (int i = 0; i <= kTop; ++i) {
    const int limb = i / kLimbDigits;
    const uint32_t d = limb < qn ? q[limb] / kLimbPowers[i % kLimbDigits] % 10 : 0;
    a.digit[i] = static_cast<uint8_t>(d);
    if (d != 0) top = i;
  }
  a.lo = 0;
  a.hi = static_cast<uint8_t>(top);
  a.sign = sign;
  round_places(a, kQuotientPlaces);
  normalise(a);
}

inline void scale_by_power_of_ten(DecimalValue& v, int64_t n) {
  if (n == 0 || is_zero(v)) return;
  if (n > 0) {
    if (v.lo + n > kTop) {
      set_zero(v);
      return;
    }
    const int shift = static_cast<int>(n);
    const int hi = std::min(v.hi + shift, kTop);
    for (int i = hi; i >= v.lo + shift; --i) v.digit[i] = v.digit[i - shift];
    v.lo = static_cast<uint8_t>(v.lo + shift);
    v.hi = static_cast<uint8_t>(hi);
    trim_high(v);
    return;
  }
  // Down: what falls below the 32nd place only matters through the rounding digit at index 0.
  if (v.hi + n < 0) {
    set_zero(v);
    return;
  }
  const int shift = static_cast<int>(-n);
  const int lo = std::max(v.lo - shift, 0);
  for (int i = lo; i <= v.hi - shift; ++i) v.digit[i] = v.digit[i + shift];
  v.hi = static_cast<uint8_t>(v.hi - shift);
  v.lo = static_cast<uint8_t>(lo);
  round_places(v, kQuotientPlaces);
  normalise(v);
}

inline int compare(const DecimalValue& a, const DecimalValue& b) {
  const int sa = is_zero(a) ? 0 : (a.sign ? -1 : 1);
  const int sb = is_zero(b) ? 0 : (b.sign ? -1 : 1);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  const int hi = std::max(a.hi, b.hi);
  const int lo = std::min(a.lo, b.lo);
  for (int i = hi; i >= lo; --i) {
    const int da = digit_at(a, i);
    const int db = digit_at(b, i);
    if (da != db) return (da < db ? -1 : 1) * sa;
  }
  return 0;
}

// Packed fields, a nibble at a time: nibble n of a field holds position hi - n + first_nibble.
inline uint8_t nibble_at(const uint8_t* storage, int64_t n) {
  const uint8_t b = storage[n / 2];
  return static_cast<uint8_t>(n % 2 == 0 ? b >> 4 : b & 0x0F);
}

inline void unpack(DecimalValue& v, const uint8_t* storage, uint32_t bytes, uint32_t places,
                   int64_t first_nibble) {
  set_zero(v);
  if (bytes == 0) return;
  const int64_t count = 2 * static_cast<int64_t>(bytes) - 1;
  const int64_t hi = count - 1 + kUnits - static_cast<int64_t>(places);
  const int64_t lo = kUnits - static_cast<int64_t>(places);
  const int64_t first = std::max<int64_t>(lo, 0);
  const int64_t last = std::min<int64_t>(hi, kTop);
  if (first > last) return;
  for (int64_t pos = first; pos <= last; ++pos) {
    const uint8_t d = nibble_at(storage, first_nibble + hi - pos);
    v.digit[pos] = d <= 9 ? d : 0;
  }
  v.lo = static_cast<uint8_t>(first);
  v.hi = static_cast<uint8_t>(last);
  trim_high(v);
}

inline bool pack(const DecimalValue& v, uint8_t* storage, uint32_t bytes, uint32_t places,
                 int64_t first_nibble) {
  for (uint32_t i = 0; i < bytes; ++i) storage[i] = 0;
  const int64_t count = 2 * static_cast<int64_t>(bytes) - 1;
  const int64_t hi = count - 1 + kUnits - static_cast<int64_t>(places);
  bool stored_nonzero = false;
  for (int64_t k = 0; k < count; ++k) {
    const int64_t pos = hi - k;
    const uint8_t d = (pos >= v.lo && pos <= v.hi) ? v.digit[pos] : 0;
    stored_nonzero = stored_nonzero || d != 0;
    const int64_t n = first_nibble + k;
    storage[n / 2] = static_cast<uint8_t>(storage[n / 2] | (n % 2 == 0 ? d << 4 : d));
  }
  return stored_nonzero;
}

// The stack's loads and stores.
inline void push_unsigned(DecimalValue& v, uint32_t magnitude) {
  set_zero(v);
  int i = kUnits;
  while (magnitude != 0) {
    v.digit[i++] = static_cast<uint8_t>(magnitude % 10);
    magnitude /= 10;
  }
  if (i > kUnits) v.hi = static_cast<uint8_t>(i - 1);
}

inline void push_decimal(DecimalValue& v, const uint8_t* storage, uint32_t bytes, uint32_t places) {
  set_zero(v);
  if (bytes == 0) return;
  unpack(v, storage, bytes, places, 1);
  if ((storage[0] >> 4) != 0 && !is_zero(v)) v.sign = 1;
}

inline void push_pdecimal(DecimalValue& v, const uint8_t* storage, uint32_t bytes,
                          uint32_t places) {
  set_zero(v);
  if (bytes == 0) return;
  unpack(v, storage, bytes, places, 0);
  if ((storage[bytes - 1] & 0x0F) == 0x0D && !is_zero(v)) v.sign = 1;
}

inline void pop_decimal(DecimalValue v, uint8_t* storage, uint32_t bytes, uint32_t places) {
  if (bytes == 0) return;
  round_places(v, places);
  const bool stored_nonzero = pack(v, storage, bytes, places, 1);
  if (v.sign && stored_nonzero) storage[0] = static_cast<uint8_t>(storage[0] | 0xF0);
}

inline void pop_pdecimal(DecimalValue v, uint8_t* storage, uint32_t bytes, uint32_t places) {
  if (bytes == 0) return;
  round_places(v, places);
  const bool stored_nonzero = pack(v, storage, bytes, places, 0);
  const bool negative = v.sign && stored_nonzero;
  storage[bytes - 1] = static_cast<uint8_t>(storage[bytes - 1] | (negative ? 0x0D : 0x0F));
}

inline int32_t pop_long(const DecimalValue& v) {
  uint32_t result = 0;
  for (int i = v.hi; i >= kUnits; --i) {
    result = result * 10u + (i >= v.lo ? v.digit[i] : 0u);
  }
  if (v.sign) result = 0u - result;
  return static_cast<int32_t>(result);
}

inline double pop_real(DecimalValue v) {
  static constexpr double kPowers[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  normalise(v);
  if (is_zero(v)) return 0.0;
  uint64_t digits = 0;
  int i = v.hi;
  for (int taken = 0; i >= v.lo && taken < 16; --i, ++taken) digits = digits * 10u + v.digit[i];
  double result = static_cast<double>(digits);
  int exponent = i + 1 - kUnits;
  if (exponent > 0) {
    for (; exponent >= 16; exponent -= 16) result *= 1e16;
    result *= kPowers[exponent];
  } else if (exponent < 0) {
    exponent = -exponent;
    for (; exponent >= 16; exponent -= 16) result /= 1e16;
    result /= kPowers[exponent];
  }
  return v.sign ? -result : result;
}

inline std::string pop_text(DecimalValue v) {
  normalise(v);
  std::string text;
  if (v.sign && !is_zero(v)) text += '-';
  if (v.hi < kUnits) {
    text += '0';
  } else {
    for (int i = v.hi; i >= kUnits; --i)
      text += static_cast<char>('0' + (i >= v.lo ? v.digit[i] : 0));
  }
  if (v.lo < kUnits) {
    text += '.';
    for (int i = kUnits - 1; i >= v.lo; --i)
      text += static_cast<char>('0' + (i <= v.hi ? v.digit[i] : 0));
  }
  return text;
}

// The digits FORMAT receives.
inline DecimalDigits pop_digits(DecimalValue v) {
  trim_high(v);
  DecimalDigits result;
  const int from = std::max<int>(v.hi, kUnits);
  const int to = std::min<int>(v.lo, kUnits);
  for (int i = from; i >= to; --i) {
    result.digits += static_cast<char>('0' + ((i >= v.lo && i <= v.hi) ? v.digit[i] : 0));
  }
  result.integer_digits = std::max(v.hi - 31, 1);
  result.negative = v.sign && !is_zero(v);
  return result;
}

}  // namespace vtn::reference_decimal
