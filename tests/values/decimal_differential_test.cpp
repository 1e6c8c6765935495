// The decimal stack's addition, multiplication and division against their former digit-by-digit
// versions, kept here as the reference: the same digits, the same lo and hi and the same sign for
// every pair of working values, including values whose bytes outside lo..hi hold stale digits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "runtime/values/decimal.hpp"
#include "runtime/values/decimal_arithmetic.hpp"
#include "support/differential_cases.hpp"

namespace vtn {
namespace {

namespace reference {

constexpr int kUnits = 32;
constexpr int kTop = 63;
constexpr int kQuotientPlaces = 31;

void set_zero(DecimalValue& v);
void trim_high(DecimalValue& v);
void normalise(DecimalValue& v);
void round_places(DecimalValue& v, int64_t places);

// Digit i of v, zero outside lo..hi.
inline uint8_t digit_at(const DecimalValue& v, int i) {
  return (i >= v.lo && i <= v.hi) ? v.digit[i] : 0;
}

// Long division runs on limbs of nine decimal digits (least significant first): the same exact
// quotient as digit-by-digit division, with a ninth of the steps. A dividend has at most 64
// digits plus 95 appended zeros.
constexpr uint32_t kLimbBase = 1000000000;
constexpr int kLimbDigits = 9;
constexpr int kMaxLimbs = 20;
constexpr uint32_t kLimbPowers[kLimbDigits] = {1,      10,      100,      1000,     10000,
                                               100000, 1000000, 10000000, 100000000};

// The digits lo..hi of v followed by `zeros` zero digits, as limbs; returns the limb count
// without leading zero limbs.
int to_limbs(const DecimalValue& v, int zeros, uint32_t* limbs) {
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
void long_divide(const uint32_t* u_in, int un, const uint32_t* v_in, int vn, uint32_t* q) {
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

void set_zero(DecimalValue& v) {
  v.digit[kUnits] = 0;
  v.sign = 0;
  v.lo = kUnits;
  v.hi = kUnits;
}

bool is_zero(const DecimalValue& v) {
  for (int i = v.lo; i <= v.hi; ++i) {
    if (v.digit[i] != 0) return false;
  }
  return true;
}

void trim_high(DecimalValue& v) {
  int hi = v.hi;
  while (hi > v.lo && v.digit[hi] == 0) --hi;
  if (hi == v.lo && v.digit[hi] == 0) {
    set_zero(v);
    return;
  }
  v.hi = static_cast<uint8_t>(hi);
}

void normalise(DecimalValue& v) {
  trim_high(v);
  int lo = v.lo;
  while (lo < v.hi && v.digit[lo] == 0) ++lo;
  v.lo = static_cast<uint8_t>(lo);
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

void add(DecimalValue& a, const DecimalValue& b) {
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

void multiply(DecimalValue& a, const DecimalValue& b_in) {
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

void divide(DecimalValue& a, const DecimalValue& b_in) {
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

}  // namespace reference

std::string show(const DecimalValue& v) {
  std::string s = v.sign ? "-" : "+";
  for (int i = v.hi; i >= v.lo; --i) {
    s += static_cast<char>('0' + v.digit[i]);
    if (i == 32 && i != v.lo) s += '.';
  }
  return s + " lo " + std::to_string(v.lo) + " hi " + std::to_string(v.hi);
}

bool same(const DecimalValue& a, const DecimalValue& b) {
  return a.sign == b.sign && a.lo == b.lo && a.hi == b.hi &&
         std::memcmp(a.digit + a.lo, b.digit + b.lo, a.hi - a.lo + 1) == 0;
}

// Working values of every shape: any lo and hi, digits skewed toward 0 and 9 (long carries and
// borrows), stale bytes outside lo..hi, now and then the canonical zero or an all-zero value
// with its sign set, and pairs of equal magnitude.
struct Generator {
  std::mt19937_64 random{31415926};

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

  DecimalValue value() {
    DecimalValue v;
    for (int w = 0; w < 8; ++w) {
      const uint64_t stale = random();
      std::memcpy(v.digit + 8 * w, &stale, 8);
    }
    if (below(50) == 0) {
      reference::set_zero(v);
      return v;
    }
    const int shape = below(4);
    int lo = 0, hi = 0;
    if (shape == 0) {  // 31 significant digits around the point, as the benchmark's
      lo = 17 + below(3) - 1;
      hi = lo + 30;
    } else if (shape == 1) {  // short values
      lo = 25 + below(14);
      hi = std::min(lo + below(6), 63);
    } else {
      lo = below(64);
      hi = lo + below(64 - lo);
    }
    const int digits = below(4);  // 0: any, 1: mostly 9, 2: mostly 0, 3: sparse
    for (int i = lo; i <= hi; ++i) {
      int d = below(10);
      if (digits == 1 && below(4) != 0) d = 9;
      if (digits == 2 && below(4) != 0) d = 0;
      if (digits == 3 && below(8) != 0) d = 0;
      v.digit[i] = static_cast<uint8_t>(d);
    }
    v.lo = static_cast<uint8_t>(lo);
    v.hi = static_cast<uint8_t>(hi);
    v.sign = static_cast<uint8_t>(below(2));
    if (below(4) != 0) reference::trim_high(v);  // values on the stack mostly have no leading 0
    return v;
  }
};

enum class Op { kAdd, kMultiply, kDivide };

void run(Op op, int64_t cases) {
  Generator g;
  for (int64_t i = 0; i < cases; ++i) {
    const DecimalValue a = g.value();
    DecimalValue b = g.value();
    if (g.below(20) == 0) {  // equal magnitudes: sums and differences of zero
      b = a;
      b.sign = static_cast<uint8_t>(g.below(2));
    }
    DecimalValue expected = a;
    DecimalValue actual = a;
    switch (op) {
      case Op::kAdd:
        reference::add(expected, b);
        decimal::add(actual, b);
        break;
      case Op::kMultiply:
        reference::multiply(expected, b);
        decimal::multiply(actual, b);
        break;
      case Op::kDivide:
        reference::divide(expected, b);
        decimal::divide(actual, b);
        break;
    }
    ASSERT_TRUE(same(actual, expected))
        << "case " << i << ": " << show(a) << " with " << show(b) << "\n gives " << show(actual)
        << "\n expected " << show(expected);
  }
}

TEST(DecimalDifferential, AddAgreesWithTheFormerAddition) {
  run(Op::kAdd, testing::differential_cases(3'000'000));
}

TEST(DecimalDifferential, MultiplyAgreesWithTheFormerMultiplication) {
  run(Op::kMultiply, testing::differential_cases(2'000'000));
}

TEST(DecimalDifferential, DivideAgreesWithTheFormerDivision) {
  run(Op::kDivide, testing::differential_cases(2'000'000));
}

}  // namespace
}  // namespace vtn
