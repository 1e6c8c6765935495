// A binary working value is an integer coefficient in units of 10^exponent. Two values add once
// both are in the units of the finer one (a multiply by a power of ten); a product is the product
// of the coefficients in the sum of the units, cut to the 32nd place; a quotient rounded to 31
// places is floor((2N + D) / 2D) for the dividend N and divisor D in common units, shifted by
// 10^31. Each result then drops what lies above the 32 integer places, as the digit form loses
// the digits carried past its top.
#include "runtime/values/decimal_number.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/values/decimal_arithmetic.hpp"
#include "runtime/values/decimal_words.hpp"

namespace vtn::decimal {
namespace {

constexpr int kIntegerDigits = 32;
constexpr int kLowestExponent = -32;
constexpr uint64_t kTenTo8 = 100000000;

// x x m on n limbs; returns the carry out.
uint64_t multiply_limbs_by(uint64_t* x, int n, uint64_t m) {
  uint64_t carry = 0;
  for (int i = 0; i < n; ++i) {
    const uint128 p = static_cast<uint128>(x[i]) * m + carry;
    x[i] = static_cast<uint64_t>(p);
    carry = static_cast<uint64_t>(p >> 64);
  }
  return carry;
}

// x x 10^k on n limbs (the product fits).
void multiply_limbs_by_power_of_ten(uint64_t* x, int n, int k) {
  for (; k >= 19; k -= 19) multiply_limbs_by(x, n, kTenTo19);
  if (k > 0) multiply_limbs_by(x, n, kPowersOfTen[k][0]);
}

// The coefficient of v in units of 10^exponent (exponent <= v.exponent; the result fits because
// the value stays below 10^32).
Limbs aligned(const DecimalNumber& v, int exponent) {
  Limbs x = v.coefficient;
  multiply_by_power_of_ten(x, v.exponent - exponent);
  return x;
}

// The result of an operation: the coefficient wrapped to the 32 integer places, zero canonical.
void set_result(DecimalNumber& v, const Limbs& coefficient, int exponent, uint8_t sign) {
  v.coefficient = coefficient;
  v.exponent = static_cast<int8_t>(exponent);
  v.sign = sign;
  wrap(v);
}

}  // namespace

void to_number(const DecimalValue& digits, DecimalNumber& v) {
  uint64_t words[kWords];
  digit_words(digits, words);
  const int low = digits.lo / 8;
  Limbs c{};
  for (int w = digits.hi / 8; w >= low; --w) {
    multiply_by(c, kTenTo8);
    const Limbs limb = {word_to_limb(words[w]), 0, 0, 0};
    add_to(c, limb);
  }
  // c counts units of 10^(8 low - 32); the digits below lo are zero.
  const int below = digits.lo - 8 * low;
  if (below > 0) divide_by_power(c.data(), 4, below);
  v.coefficient = c;
  v.exponent = static_cast<int8_t>(digits.lo - kUnits);
  v.sign = digits.sign;
}

void to_digits(const DecimalNumber& v, DecimalValue& digits) {
  const int lo = v.exponent + kUnits;
  Limbs c = v.coefficient;
  int top = -1;  // the highest non-zero digit
  for (int position = lo; !is_zero(c); position += 8) {
    const uint32_t limb = static_cast<uint32_t>(divide_by_power(c.data(), 4, 8));
    uint64_t word = limb_to_word(limb);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    std::memcpy(digits.digit + position, &word, static_cast<size_t>(std::min(8, 64 - position)));
    if (limb != 0) top = position + 7 - __builtin_clzll(limb_to_word(limb)) / 8;
  }
  if (top < 0) {
    digits.digit[kUnits] = 0;
    top = std::max(lo, kUnits);
    if (lo > kUnits) digits.digit[lo] = 0;
    if (lo < kUnits) std::memset(digits.digit + lo, 0, static_cast<size_t>(kUnits - lo));
  }
  digits.lo = static_cast<uint8_t>(lo);
  digits.hi = static_cast<uint8_t>(top);
  digits.sign = v.sign;
}

void wrap(DecimalNumber& v) {
  const int places = kIntegerDigits - v.exponent;
  if (places <= 0) {
    set_zero(v);
    return;
  }
  if (compare(v.coefficient, kPowersOfTen[places]) >= 0) {
    v.coefficient = modulo_power_of_ten(v.coefficient.data(), 4, places);
  }
  if (is_zero(v.coefficient)) set_zero(v);
}

void normalise(DecimalNumber& v) {
  if (is_zero(v.coefficient)) return;
  while (last_digit(v.coefficient) == 0) {
    Limbs c = v.coefficient;
    if (divide_by_power(c.data(), 4, 8) == 0) {
      v.coefficient = c;
      v.exponent = static_cast<int8_t>(v.exponent + 8);
    } else {
      divide_by_power(v.coefficient.data(), 4, 1);
      v.exponent = static_cast<int8_t>(v.exponent + 1);
    }
  }
}

void round_places(DecimalNumber& v, int64_t places) {
  const int64_t target = -places;  // the exponent of the rounded value
  if (v.exponent >= target) return;
  if (target >= kIntegerDigits) {
    set_zero(v);
    return;
  }
  const int64_t drop = target - v.exponent;
  if (drop > kMaxPower) {
    set_zero(v);  // less than half a unit of the last place kept
    return;
  }
  Limbs c = v.coefficient;
  if (divide_by_power_of_ten(c, static_cast<int>(drop)) == 2) {
    const Limbs one = {1, 0, 0, 0};
    add_to(c, one);
  }
  set_result(v, c, static_cast<int>(target), v.sign);
}

void add(DecimalNumber& a, const DecimalNumber& b) {
  const int exponent = std::min(a.exponent, b.exponent);
  Limbs x = a.exponent == exponent ? a.coefficient : aligned(a, exponent);
  Limbs y = b.exponent == exponent ? b.coefficient : aligned(b, exponent);
  uint8_t sign = a.sign;
  if (a.sign == b.sign) {
    add_to(x, y);  // both below 10^64: no carry out of the top limb
  } else if (compare(x, y) >= 0) {
    subtract_from(x, y);
  } else {
    subtract_from(y, x);
    x = y;
    sign = b.sign;
  }
  set_result(a, x, exponent, sign);
}

void multiply(DecimalNumber& a, const DecimalNumber& b) {
  const int an = used_limbs(a.coefficient.data(), 4);
  const int bn = used_limbs(b.coefficient.data(), 4);
  if (an == 0 || bn == 0) {
    set_zero(a);
    return;
  }
  uint64_t p[kMaxLimbs];
  multiply_limbs(a.coefficient.data(), an, b.coefficient.data(), bn, p);
  int pn = an + bn;
  int exponent = a.exponent + b.exponent;
  if (exponent < kLowestExponent) {
    // Cut below the 32nd place.
    const int k = kLowestExponent - exponent;
    if (k <= 19) {
      divide_by_power(p, pn, k);
    } else {
      const Limbs& power = kPowersOfTen[k];
      const int kn = used_limbs(power.data(), 4);
      uint64_t q[kMaxLimbs];
      uint64_t r[4];
      pn = used_limbs(p, pn);
      if (pn < kn) {
        set_zero(a);
        return;
      }
      divide_limbs(p, pn, power.data(), kn, q, r);
      pn = pn - kn + 1;
      std::copy(q, q + pn, p);
    }
    exponent = kLowestExponent;
  }
  if (exponent >= kIntegerDigits) {
    set_zero(a);
    return;
  }
  set_result(a, modulo_power_of_ten(p, pn, kIntegerDigits - exponent), exponent, a.sign ^ b.sign);
  normalise(a);
}

void divide(DecimalNumber& a, const DecimalNumber& b) {
  const int an = used_limbs(a.coefficient.data(), 4);
  const int bn = used_limbs(b.coefficient.data(), 4);
  if (an == 0 || bn == 0) {
    set_zero(a);
    return;
  }
  // The quotient in units of 10^-31 is N / D with N = a x 10^shift and D = b (or D = b x 10^-shift
  // when the shift is negative), both as coefficients. The dividend takes up to six limbs.
  constexpr int kDividendLimbs = 6;
  const int shift = a.exponent - b.exponent + 31;
  uint64_t n[kDividendLimbs + 1] = {};
  uint64_t d[kDividendLimbs] = {};
  std::copy(a.coefficient.begin(), a.coefficient.end(), n);
  std::copy(b.coefficient.begin(), b.coefficient.end(), d);
  if (shift > 0) multiply_limbs_by_power_of_ten(n, kDividendLimbs, shift);
  if (shift < 0) multiply_limbs_by_power_of_ten(d, kDividendLimbs, -shift);
  // Rounded half away from zero: floor((2N + D) / 2D).
  multiply_limbs_by(n, kDividendLimbs + 1, 2);
  bool carry = false;
  for (int i = 0; i < kDividendLimbs + 1; ++i) {
    unsigned long long s;
    const bool c1 = __builtin_uaddll_overflow(n[i], i < kDividendLimbs ? d[i] : 0, &s);
    const bool c2 = __builtin_uaddll_overflow(s, carry, &s);
    n[i] = s;
    carry = c1 || c2;
  }
  multiply_limbs_by(d, kDividendLimbs, 2);
  const int nn = used_limbs(n, kDividendLimbs + 1);
  const int dn = used_limbs(d, kDividendLimbs);
  if (nn < dn) {
    set_zero(a);
    return;
  }
  uint64_t q[kMaxLimbs] = {};
  uint64_t r[kMaxLimbs];
  divide_limbs(n, nn, d, dn, q, r);
  set_result(a, modulo_power_of_ten(q, nn - dn + 1, 63), -31, a.sign ^ b.sign);
  normalise(a);
}

void scale_by_power_of_ten(DecimalNumber& v, int64_t n) {
  if (n == 0 || is_zero(v)) return;
  int64_t exponent = v.exponent + n;
  if (n > 0) {
    if (exponent >= kIntegerDigits) {
      set_zero(v);
      return;
    }
    set_result(v, v.coefficient, static_cast<int>(exponent), v.sign);
    return;
  }
  // Down: what falls below the 32nd place only matters through the rounding digit there.
  Limbs c = v.coefficient;
  if (exponent < kLowestExponent) {
    const int64_t cut = kLowestExponent - exponent;
    if (cut > kMaxPower) {
      set_zero(v);
      return;
    }
    divide_by_power_of_ten(c, static_cast<int>(cut));
    exponent = kLowestExponent;
  }
  set_result(v, c, static_cast<int>(exponent), v.sign);
  round_places(v, 31);
  normalise(v);
}

int compare(const DecimalNumber& a, const DecimalNumber& b) {
  const int sa = is_zero(a) ? 0 : (a.sign ? -1 : 1);
  const int sb = is_zero(b) ? 0 : (b.sign ? -1 : 1);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  const int exponent = std::min(a.exponent, b.exponent);
  return compare(aligned(a, exponent), aligned(b, exponent)) * sa;
}

uint32_t integer_part_wrapped(const DecimalNumber& v) {
  if (v.exponent >= 0) {
    // Only the low 32 bits of the coefficient reach the low 32 bits of the product.
    uint32_t result = static_cast<uint32_t>(v.coefficient[0]);
    for (int k = 0; k < v.exponent; ++k) result *= 10u;
    return result;
  }
  Limbs c = v.coefficient;
  divide_by_power_of_ten(c, -v.exponent);
  return static_cast<uint32_t>(c[0]);
}

}  // namespace vtn::decimal
