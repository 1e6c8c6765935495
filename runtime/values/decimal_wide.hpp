// Unsigned integers of a few 64-bit limbs (least significant first) for the binary working values
// of the decimal stack: a working value's magnitude is below 10^64, which fits four limbs, and the
// intermediate products and dividends fit eight.
#pragma once

#include <array>
#include <cstdint>

namespace vtn::decimal {

using Limbs = std::array<uint64_t, 4>;
__extension__ typedef unsigned __int128 uint128;

inline constexpr int kMaxLimbs = 8;
inline constexpr int kMaxPower = 64;

// 10^k for k = 0..64 as four limbs.
inline constexpr std::array<Limbs, kMaxPower + 1> kPowersOfTen = [] {
  std::array<Limbs, kMaxPower + 1> table{};
  table[0] = {1, 0, 0, 0};
  for (int k = 1; k <= kMaxPower; ++k) {
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
      const uint128 p = static_cast<uint128>(table[k - 1][i]) * 10 + carry;
      table[k][i] = static_cast<uint64_t>(p);
      carry = static_cast<uint64_t>(p >> 64);
    }
  }
  return table;
}();

inline constexpr uint64_t kTenTo16 = 10000000000000000ull;
inline constexpr uint64_t kTenTo19 = 10000000000000000000ull;

// The number of limbs without the high zero ones (0 for zero).
inline int used_limbs(const uint64_t* x, int n) {
  while (n > 0 && x[n - 1] == 0) --n;
  return n;
}

inline bool is_zero(const Limbs& x) {
  return (x[0] | x[1] | x[2] | x[3]) == 0;
}

// -1, 0 or 1 for x against y.
inline int compare(const Limbs& x, const Limbs& y) {
  for (int i = 3; i >= 0; --i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

// x += y; returns the carry out of the top limb.
inline bool add_to(Limbs& x, const Limbs& y) {
  bool carry = false;
  for (int i = 0; i < 4; ++i) {
    unsigned long long s;
    const bool c1 = __builtin_uaddll_overflow(x[i], y[i], &s);
    const bool c2 = __builtin_uaddll_overflow(s, carry, &s);
    x[i] = s;
    carry = c1 || c2;
  }
  return carry;
}

// x -= y. REQUIRES: x >= y.
inline void subtract_from(Limbs& x, const Limbs& y) {
  bool borrow = false;
  for (int i = 0; i < 4; ++i) {
    unsigned long long d;
    const bool b1 = __builtin_usubll_overflow(x[i], y[i], &d);
    const bool b2 = __builtin_usubll_overflow(d, borrow, &d);
    x[i] = d;
    borrow = b1 || b2;
  }
}

// (high:low) / d with the remainder. REQUIRES: high < d.
inline uint64_t divide_wide_by(uint64_t high, uint64_t low, uint64_t d, uint64_t& remainder) {
#if defined(__x86_64__)
  uint64_t q;
  __asm__("divq %[d]" : "=a"(q), "=d"(remainder) : [d] "r"(d), "a"(low), "d"(high));
  return q;
#else
  const uint128 n = (static_cast<uint128>(high) << 64) | low;
  remainder = static_cast<uint64_t>(n % d);
  return static_cast<uint64_t>(n / d);
#endif
}

// x = x / d; returns x % d. REQUIRES: d != 0.
inline uint64_t divide_by(uint64_t* x, int n, uint64_t d) {
  uint64_t remainder = 0;
  for (int i = n - 1; i >= 0; --i) x[i] = divide_wide_by(remainder, x[i], d, remainder);
  return remainder;
}

// A divisor with what dividing by it with multiplies takes: the divisor shifted until its top bit
// is set, and floor((2^128 - 1) / shifted) - 2^64. The table holds the powers of ten up to 10^19.
struct PowerDivisor {
  uint64_t shifted;
  int shift;
  uint64_t reciprocal;
};

inline constexpr std::array<PowerDivisor, 20> kPowerDivisors = [] {
  std::array<PowerDivisor, 20> table{};
  uint64_t power = 1;
  for (int k = 0; k < 20; ++k) {
    const int shift = __builtin_clzll(power);
    const uint64_t shifted = power << shift;
    table[k] = {shifted, shift, static_cast<uint64_t>(~static_cast<uint128>(0) / shifted)};
    if (k < 19) power *= 10;
  }
  return table;
}();

// (high:low) / d for the shifted divisor of `p` with high < d, by two multiplies and two
// corrections.
inline uint64_t divide_wide_by(uint64_t high, uint64_t low, const PowerDivisor& p,
                               uint64_t& remainder) {
  const uint128 q =
      static_cast<uint128>(p.reciprocal) * high + ((static_cast<uint128>(high) << 64) | low);
  uint64_t q1 = static_cast<uint64_t>(q >> 64) + 1;
  const uint64_t q0 = static_cast<uint64_t>(q);
  uint64_t r = low - q1 * p.shifted;
  if (r > q0) {
    --q1;
    r += p.shifted;
  }
  if (r >= p.shifted) {
    ++q1;
    r -= p.shifted;
  }
  remainder = r;
  return q1;
}

// x = x / 10^k on n limbs; returns x % 10^k. REQUIRES: 1 <= k <= 19.
inline uint64_t divide_by_power(uint64_t* x, int n, int k) {
  const PowerDivisor& p = kPowerDivisors[k];
  const int s = p.shift;
  // The dividend shifted by s as well: the quotient stays, the remainder comes out shifted.
  uint64_t remainder = s == 0 ? 0 : x[n - 1] >> (64 - s);
  for (int i = n - 1; i >= 0; --i) {
    const uint64_t limb = s == 0 ? x[i] : (x[i] << s) | (i > 0 ? x[i - 1] >> (64 - s) : 0);
    x[i] = divide_wide_by(remainder, limb, p, remainder);
  }
  return remainder >> s;
}

// x mod 10 (2^64 = 6 modulo 10, and so is every power of it).
inline unsigned last_digit(const Limbs& x) {
  return static_cast<unsigned>((x[0] % 10 + 6 * (x[1] % 10 + x[2] % 10 + x[3] % 10)) % 10);
}

// x x m into x. REQUIRES: the product is below 2^256.
inline void multiply_by(Limbs& x, uint64_t m) {
  uint64_t carry = 0;
  for (int i = 0; i < 4; ++i) {
    const uint128 p = static_cast<uint128>(x[i]) * m + carry;
    x[i] = static_cast<uint64_t>(p);
    carry = static_cast<uint64_t>(p >> 64);
  }
}

// x x 10^k into x. REQUIRES: 0 <= k, and the product is below 2^256.
inline void multiply_by_power_of_ten(Limbs& x, int k) {
  for (; k >= 19; k -= 19) multiply_by(x, kTenTo19);
  if (k > 0) multiply_by(x, kPowersOfTen[k][0]);
}

// (u2:u1:u0) / (v1:v0) for a divisor whose top bit is set and (u2:u1) < (v1:v0), so that the
// quotient fits one limb; the remainder goes to `remainder`. The estimate from the leading limbs
// is at most two too high; the test against the divisor's second limb and u0 is the sign of the
// whole remainder, so it leaves the exact quotient.
inline uint64_t divide_3_by_2(uint64_t u2, uint64_t u1, uint64_t u0, uint128 v,
                              uint128& remainder) {
  const uint64_t v1 = static_cast<uint64_t>(v >> 64);
  const uint64_t v0 = static_cast<uint64_t>(v);
  uint64_t q;
  uint64_t r;
  bool r_overflow = false;
  if (u2 < v1) {
    q = divide_wide_by(u2, u1, v1, r);
  } else {  // u2 == v1
    q = ~0ull;
    r_overflow = __builtin_add_overflow(u1, v1, &r);
  }
  while (!r_overflow && static_cast<uint128>(q) * v0 > (static_cast<uint128>(r) << 64 | u0)) {
    --q;
    r_overflow = __builtin_add_overflow(r, v1, &r);
  }
  // The remainder is below v: its low 128 bits are all of it.
  remainder = (static_cast<uint128>(u1) << 64 | u0) - static_cast<uint128>(q) * v;
  return q;
}

// n / d for a quotient below 2^128 ((n3:n2) < d), with the remainder.
inline uint128 divide_256_by_128(const Limbs& n, uint128 d, uint128& remainder) {
  if ((d >> 64) == 0) {
    // (n3:n2) < d < 2^64: n3 is zero and each step divides by one limb.
    const uint64_t d0 = static_cast<uint64_t>(d);
    uint64_t r;
    const uint64_t q1 = divide_wide_by(n[2], n[1], d0, r);
    const uint64_t q0 = divide_wide_by(r, n[0], d0, r);
    remainder = r;
    return static_cast<uint128>(q1) << 64 | q0;
  }
  // The divisor shifted until its top bit is set, and the dividend with it: (n3:n2) < d keeps the
  // shifted dividend within four limbs.
  const int s = __builtin_clzll(static_cast<uint64_t>(d >> 64));
  const uint128 v = d << s;
  const auto shifted = [&n, s](int i) {
    return s == 0 ? n[i] : (n[i] << s) | (i > 0 ? n[i - 1] >> (64 - s) : 0);
  };
  uint128 r;
  const uint64_t q1 = divide_3_by_2(shifted(3), shifted(2), shifted(1), v, r);
  const uint64_t q0 =
      divide_3_by_2(static_cast<uint64_t>(r >> 64), static_cast<uint64_t>(r), shifted(0), v, r);
  remainder = r >> s;
  return static_cast<uint128>(q1) << 64 | q0;
}

// p = x x y (p gets xn + yn limbs).
void multiply_limbs(const uint64_t* x, int xn, const uint64_t* y, int yn, uint64_t* p);

// q = u / v and r = u % v for un >= vn >= 1 limbs with v[vn - 1] != 0 and un <= kMaxLimbs; q
// gets un - vn + 1 limbs and r gets vn.
void divide_limbs(const uint64_t* u, int un, const uint64_t* v, int vn, uint64_t* q, uint64_t* r);

// u = u / d on n limbs for a d of up to two limbs (d != 0); returns u % d.
uint128 divide_by_wide(uint64_t* u, int n, uint128 d);

// x = x / 10^k, cut, for 0 <= k <= 64; returns the rounding of what was cut: 0 when it was zero,
// 1 when below half a unit, 2 at half or more.
int divide_by_power_of_ten(Limbs& x, int k);

// x = x mod 10^k for 0 <= k <= 64 (x of n <= kMaxLimbs limbs, the result in four).
Limbs modulo_power_of_ten(const uint64_t* x, int n, int k);

}  // namespace vtn::decimal
