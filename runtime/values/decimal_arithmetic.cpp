// Working values keep one decimal digit per byte, so that addition and subtraction run digit by
// digit with decimal carries, multiplication adds cached multiples of one factor, and division is
// the schoolbook long division in base 10.
#include "runtime/values/decimal_arithmetic.hpp"

#include <algorithm>
#include <cstring>

namespace vtn::decimal {
namespace {

// Digit i of v, zero outside lo..hi.
inline uint8_t digit_at(const DecimalValue& v, int i) {
  return (i >= v.lo && i <= v.hi) ? v.digit[i] : 0;
}

// Long division buffers: the dividend may carry up to 64 digits and up to 95 appended zeros.
constexpr int kLongDigits = 192;

// Divides the most-significant-first digits u[0..un) by v[0..vn) (v[0] != 0) and writes the
// quotient, most significant first, into q[0..un - vn + 1). REQUIRES: un >= vn.
void long_divide(const uint8_t* u_in, int un, const uint8_t* v_in, int vn, uint8_t* q) {
  if (vn == 1) {
    // One divisor digit (a power of ten among them): short division.
    const int d = v_in[0];
    int remainder = 0;
    for (int i = 0; i < un; ++i) {
      const int cur = remainder * 10 + u_in[i];
      q[i] = static_cast<uint8_t>(cur / d);
      remainder = cur % d;
    }
    return;
  }
  // Scale both so that the divisor's leading digit is at least 5; the quotient estimate from the
  // leading digits is then at most two too high.
  const int factor = 10 / (v_in[0] + 1);
  uint8_t u[kLongDigits + 1];
  uint8_t v[kLongDigits];
  int carry = 0;
  for (int i = un - 1; i >= 0; --i) {
    const int cur = u_in[i] * factor + carry;
    u[i + 1] = static_cast<uint8_t>(cur % 10);
    carry = cur / 10;
  }
  u[0] = static_cast<uint8_t>(carry);
  carry = 0;
  for (int i = vn - 1; i >= 0; --i) {
    const int cur = v_in[i] * factor + carry;
    v[i] = static_cast<uint8_t>(cur % 10);
    carry = cur / 10;
  }
  const int v0 = v[0];
  const int v1 = v[1];
  const int steps = un - vn + 1;
  for (int j = 0; j < steps; ++j) {
    const int top = u[j] * 10 + u[j + 1];
    int qhat = top / v0;
    int rhat = top % v0;
    while (qhat >= 10 || qhat * v1 > rhat * 10 + u[j + 2]) {
      --qhat;
      rhat += v0;
      if (rhat >= 10) break;
    }
    // u[j..j+vn] -= qhat x v
    int borrow = 0;
    int mul_carry = 0;
    for (int i = vn - 1; i >= 0; --i) {
      const int p = qhat * v[i] + mul_carry;
      mul_carry = p / 10;
      int t = u[j + 1 + i] - p % 10 - borrow;
      borrow = t < 0;
      u[j + 1 + i] = static_cast<uint8_t>(t + (borrow ? 10 : 0));
    }
    int t = u[j] - mul_carry - borrow;
    borrow = t < 0;
    u[j] = static_cast<uint8_t>(t + (borrow ? 10 : 0));
    if (borrow) {
      // The estimate was one too high: add the divisor back.
      --qhat;
      int c = 0;
      for (int i = vn - 1; i >= 0; --i) {
        const int s = u[j + 1 + i] + v[i] + c;
        c = s >= 10;
        u[j + 1 + i] = static_cast<uint8_t>(s - (c ? 10 : 0));
      }
      u[j] = static_cast<uint8_t>((u[j] + c) % 10);
    }
    q[j] = static_cast<uint8_t>(qhat);
  }
}

}  // namespace

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

  // Accumulator: product index i lives at acc[i + kOffset]; indices run from -32 up to 96.
  constexpr int kOffset = 32;
  uint8_t acc[136] = {};
  uint8_t multiples[10][66];
  bool built[10] = {true, false, false, false, false, false, false, false, false, false};
  std::memset(multiples[0], 0, sizeof multiples[0]);
  for (int j = y.lo; j <= y.hi; ++j) {
    const int d = y.digit[j];
    if (d == 0) continue;
    if (!built[d]) {
      // multiples[d] = multiples[d - 1] + x, built on first use from the nearest built one.
      int from = d - 1;
      while (!built[from]) --from;
      for (int m = from + 1; m <= d; ++m) {
        int carry = 0;
        for (int i = 0; i <= xn; ++i) {
          const int s = multiples[m - 1][i] + (i < xn ? x.digit[x.lo + i] : 0) + carry;
          carry = s >= 10;
          multiples[m][i] = static_cast<uint8_t>(s - (carry ? 10 : 0));
        }
        built[m] = true;
      }
    }
    const uint8_t* mult = multiples[d];
    int pos = x.lo + j - kUnits + kOffset;
    int carry = 0;
    for (int i = 0; i <= xn; ++i, ++pos) {
      const int s = acc[pos] + mult[i] + carry;
      carry = s >= 10;
      acc[pos] = static_cast<uint8_t>(s - (carry ? 10 : 0));
    }
    while (carry) {
      const int s = acc[pos] + 1;
      carry = s >= 10;
      acc[pos++] = static_cast<uint8_t>(s - (carry ? 10 : 0));
    }
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
  uint8_t n[kLongDigits];
  uint8_t m[kLongDigits];
  int nn = 0;
  int mn = 0;
  for (int i = a.hi; i >= a.lo; --i) n[nn++] = a.digit[i];
  for (int i = b.hi; i >= b.lo; --i) m[mn++] = b.digit[i];
  if (e >= 0) {
    std::memset(n + nn, 0, static_cast<size_t>(e));
    nn += e;
  } else {
    std::memset(m + mn, 0, static_cast<size_t>(-e));
    mn -= e;
  }
  if (nn < mn) {
    set_zero(a);
    return;
  }
  uint8_t q[kLongDigits];
  long_divide(n, nn, m, mn, q);
  const int qn = nn - mn + 1;
  // q's last digit has index 0 (the 32nd place); digits beyond index 63 are lost.
  const int top = std::min(qn - 1, kTop);
  for (int i = 0; i <= top; ++i) a.digit[i] = q[qn - 1 - i];
  a.lo = 0;
  a.hi = static_cast<uint8_t>(top);
  a.sign = sign;
  round_places(a, kQuotientPlaces);
  normalise(a);
}

void scale_by_power_of_ten(DecimalValue& v, int64_t n) {
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

int compare(const DecimalValue& a, const DecimalValue& b) {
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

}  // namespace vtn::decimal
