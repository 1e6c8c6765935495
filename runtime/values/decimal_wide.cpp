#include "runtime/values/decimal_wide.hpp"

#include <algorithm>

namespace vtn::decimal {

void multiply_limbs(const uint64_t* x, int xn, const uint64_t* y, int yn, uint64_t* p) {
  std::fill(p, p + xn + yn, 0);
  for (int i = 0; i < xn; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < yn; ++j) {
      const uint128 t = static_cast<uint128>(x[i]) * y[j] + p[i + j] + carry;
      p[i + j] = static_cast<uint64_t>(t);
      carry = static_cast<uint64_t>(t >> 64);
    }
    p[i + yn] = carry;
  }
}

// The classical long division on 64-bit limbs: the divisor is shifted so that its top bit is set,
// each quotient limb is estimated from the two leading limbs of the remainder, corrected with the
// divisor's second limb, and a rare estimate still one too high is undone by adding back.
void divide_limbs(const uint64_t* u, int un, const uint64_t* v, int vn, uint64_t* q, uint64_t* r) {
  if (vn == 1) {
    std::copy(u, u + un, q);
    r[0] = divide_by(q, un, v[0]);
    return;
  }
  const int s = __builtin_clzll(v[vn - 1]);
  const auto shifted = [s](uint64_t high, uint64_t low) {
    return s == 0 ? high : (high << s) | (low >> (64 - s));
  };
  uint64_t d[kMaxLimbs];
  uint64_t n[kMaxLimbs + 1];
  for (int i = vn - 1; i > 0; --i) d[i] = shifted(v[i], v[i - 1]);
  d[0] = v[0] << s;
  n[un] = s == 0 ? 0 : u[un - 1] >> (64 - s);
  for (int i = un - 1; i > 0; --i) n[i] = shifted(u[i], u[i - 1]);
  n[0] = u[0] << s;
  const uint64_t d1 = d[vn - 1];
  const uint64_t d2 = d[vn - 2];
  for (int j = un - vn; j >= 0; --j) {
    // The remainder's top limb never exceeds the divisor's.
    uint64_t qhat;
    uint64_t rhat;
    bool rhat_overflow = false;
    if (n[j + vn] < d1) {
      qhat = divide_wide_by(n[j + vn], n[j + vn - 1], d1, rhat);
    } else {
      qhat = ~0ull;
      const uint128 t = static_cast<uint128>(n[j + vn - 1]) + d1;
      rhat = static_cast<uint64_t>(t);
      rhat_overflow = (t >> 64) != 0;
    }
    while (!rhat_overflow &&
           static_cast<uint128>(qhat) * d2 > ((static_cast<uint128>(rhat) << 64) | n[j + vn - 2])) {
      --qhat;
      const uint128 t = static_cast<uint128>(rhat) + d1;
      rhat = static_cast<uint64_t>(t);
      rhat_overflow = (t >> 64) != 0;
    }
    // n[j .. j + vn] -= qhat x d
    uint64_t carry = 0;
    bool borrow = false;
    for (int i = 0; i < vn; ++i) {
      const uint128 p = static_cast<uint128>(qhat) * d[i] + carry;
      carry = static_cast<uint64_t>(p >> 64);
      unsigned long long t;
      const bool b1 = __builtin_usubll_overflow(n[i + j], static_cast<uint64_t>(p), &t);
      const bool b2 = __builtin_usubll_overflow(t, borrow, &t);
      n[i + j] = t;
      borrow = b1 || b2;
    }
    unsigned long long t;
    const bool b1 = __builtin_usubll_overflow(n[j + vn], carry, &t);
    const bool b2 = __builtin_usubll_overflow(t, borrow, &t);
    n[j + vn] = t;
    if (b1 || b2) {
      --qhat;
      bool c = false;
      for (int i = 0; i < vn; ++i) {
        unsigned long long sum;
        const bool c1 = __builtin_uaddll_overflow(n[i + j], d[i], &sum);
        const bool c2 = __builtin_uaddll_overflow(sum, c, &sum);
        n[i + j] = sum;
        c = c1 || c2;
      }
      n[j + vn] += c;
    }
    q[j] = qhat;
  }
  for (int i = 0; i < vn; ++i) r[i] = s == 0 ? n[i] : (n[i] >> s) | (n[i + 1] << (64 - s));
}

uint128 divide_by_wide(uint64_t* u, int n, uint128 d) {
  const uint64_t d1 = static_cast<uint64_t>(d >> 64);
  n = used_limbs(u, n);
  if (d1 == 0) return n == 0 ? 0 : divide_by(u, n, static_cast<uint64_t>(d));
  if (n < 2) {
    const uint128 r = n == 0 ? 0 : u[0];
    if (n == 1) u[0] = 0;
    return r;
  }
  // The long division above with a divisor of two limbs: the remainder so far (r2:r1, below the
  // divisor) and the next limb r0 make the window each quotient limb is taken from.
  const int s = __builtin_clzll(d1);
  const uint128 v = d << s;
  const uint64_t v1 = static_cast<uint64_t>(v >> 64);
  const uint64_t v0 = static_cast<uint64_t>(v);
  // Each estimate divides by v1 with its reciprocal: one hardware division for all of them.
  uint64_t unused;
  const PowerDivisor by_v1 = {v1, 0, divide_wide_by(~v1, ~0ull, v1, unused)};
  const auto shifted = [u, n, s](int i) {  // limb i of u x 2^s
    const uint64_t high = i < n ? u[i] : 0;
    const uint64_t low = i > 0 ? u[i - 1] : 0;
    return s == 0 ? high : (high << s) | (low >> (64 - s));
  };
  uint64_t r2 = shifted(n);
  uint64_t r1 = shifted(n - 1);
  int j = n - 2;
  if (r2 == 0 && r1 < v1) {
    // The top quotient limb is zero: start one limb lower.
    r2 = r1;
    r1 = shifted(j);
    u[j--] = 0;
  }
  for (; j >= 0; --j) {
    const uint64_t r0 = shifted(j);
    uint64_t qhat;
    uint64_t rhat;
    bool rhat_overflow = false;
    if (r2 < v1) {
      qhat = divide_wide_by(r2, r1, by_v1, rhat);
    } else {
      qhat = ~0ull;
      const uint128 t = static_cast<uint128>(r1) + v1;
      rhat = static_cast<uint64_t>(t);
      rhat_overflow = (t >> 64) != 0;
    }
    while (!rhat_overflow &&
           static_cast<uint128>(qhat) * v0 > ((static_cast<uint128>(rhat) << 64) | r0)) {
      --qhat;
      const uint128 t = static_cast<uint128>(rhat) + v1;
      rhat = static_cast<uint64_t>(t);
      rhat_overflow = (t >> 64) != 0;
    }
    // (r2:r1:r0) -= qhat x v, adding v back once when that goes below zero.
    const uint128 p0 = static_cast<uint128>(qhat) * v0;
    const uint128 p1 = static_cast<uint128>(qhat) * v1 + static_cast<uint64_t>(p0 >> 64);
    const uint128 window = (static_cast<uint128>(r1) << 64) | r0;
    const uint128 subtrahend = (p1 << 64) | static_cast<uint64_t>(p0);
    uint128 remainder = window - subtrahend;
    const uint64_t borrow = window < subtrahend ? 1 : 0;
    if (r2 < static_cast<uint64_t>(p1 >> 64) + borrow ||
        (borrow != 0 && static_cast<uint64_t>(p1 >> 64) + borrow == 0)) {
      --qhat;
      remainder += v;
    }
    u[j] = qhat;
    r2 = static_cast<uint64_t>(remainder >> 64);
    r1 = static_cast<uint64_t>(remainder);
  }
  u[n - 1] = 0;
  return ((static_cast<uint128>(r2) << 64) | r1) >> s;
}

int divide_by_power_of_ten(Limbs& x, int k) {
  if (k == 0) return 0;
  const int n = used_limbs(x.data(), 4);
  if (n == 0) return 0;
  Limbs remainder{};
  if (k <= 19) {
    const uint64_t r = divide_by_power(x.data(), n, k);
    const uint64_t half = 5 * kPowersOfTen[k - 1][0];
    return r == 0 ? 0 : (r < half ? 1 : 2);
  } else {
    const Limbs& power = kPowersOfTen[k];
    const int pn = used_limbs(power.data(), 4);
    if (n < pn) {
      remainder = x;
      x = {};
    } else {
      Limbs q{};
      divide_limbs(x.data(), n, power.data(), pn, q.data(), remainder.data());
      x = q;
    }
  }
  if (is_zero(remainder)) return 0;
  Limbs half = kPowersOfTen[k - 1];
  multiply_by(half, 5);
  return compare(remainder, half) < 0 ? 1 : 2;
}

Limbs modulo_power_of_ten(const uint64_t* x, int n, int k) {
  n = used_limbs(x, n);
  const Limbs& power = kPowersOfTen[k];
  const int pn = used_limbs(power.data(), 4);
  Limbs result{};
  if (n <= 4) {
    std::copy(x, x + n, result.begin());
    if (compare(result, power) < 0) return result;
    result = {};
  }
  uint64_t q[kMaxLimbs];
  divide_limbs(x, n, power.data(), pn, q, result.data());
  return result;
}

}  // namespace vtn::decimal
