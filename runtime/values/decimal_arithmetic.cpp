// Working values keep one decimal digit per byte; the arithmetic reads them eight at a time
// (decimal_words.hpp). Addition and subtraction add whole words with decimal carries: each byte
// is biased so that a digit sum of ten or more carries out of the byte as a binary carry would,
// and the bias is taken back from the bytes that did not carry. Multiplication and division turn
// the words into limbs of base 10^8, multiply or divide them as integers and turn the result back.
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

// A dividend has at most 8 limbs shifted up by 4 (the quotient's 32 places); a divisor at most 8.
constexpr int kMaxLimbs = 12;

// The lowest and highest word that hold digits lo..hi.
inline int low_word(int lo) {
  return lo / 8;
}
inline int high_word(int hi) {
  return hi / 8;
}

// Stores the words as the value's digits and sets lo and hi to its lowest and highest non-zero
// digit; all-zero words give the canonical zero. The sign is left to the caller.
void set_normalised(DecimalValue& v, const uint64_t (&words)[kWords], uint8_t sign) {
  int low = 0;
  while (low < kWords && words[low] == 0) ++low;
  if (low == kWords) {
    set_zero(v);
    return;
  }
  int high = kWords - 1;
  while (words[high] == 0) --high;
  for (int w = low; w <= high; ++w) set_digit_word(v, w, words[w]);
  v.lo = static_cast<uint8_t>(8 * low + __builtin_ctzll(words[low]) / 8);
  v.hi = static_cast<uint8_t>(8 * high + 7 - __builtin_clzll(words[high]) / 8);
  v.sign = sign;
}

// Adds y to x with decimal carries in every byte; returns the carry out of the word.
inline uint64_t add_digits(uint64_t& x, uint64_t y, uint64_t carry) {
  const uint64_t biased = x + 0xF6F6F6F6F6F6F6F6ull;  // 246 + digit: 10 or more carries out
  uint64_t sum;
  uint64_t out = __builtin_add_overflow(biased, y, &sum);
  out |= __builtin_add_overflow(sum, carry, &sum);
  // Bit 8k of biased ^ y ^ sum is the carry into byte k, so the carry out of byte k below 7.
  const uint64_t carried = (((biased ^ y ^ sum) >> 8) | (out << 56)) & kLowBytes;
  x = sum - 246 * kLowBytes + carried * 246;
  return out;
}

// Subtracts y from x with decimal borrows in every byte; returns the borrow out of the word.
inline uint64_t subtract_digits(uint64_t& x, uint64_t y, uint64_t borrow) {
  uint64_t difference;
  uint64_t out = __builtin_sub_overflow(x, y, &difference);
  out |= __builtin_sub_overflow(difference, borrow, &difference);
  const uint64_t borrowed = (((x ^ y ^ difference) >> 8) | (out << 56)) & kLowBytes;
  x = difference - borrowed * 246;  // a byte that borrowed 256 keeps only 10
  return out;
}

// q = floor(u / v) for un >= vn >= 1 limbs of base 10^8 (least significant first), v[vn - 1] !=
// 0; q gets un - vn + 1 limbs. This is the classical long division: the divisor is scaled so that
// its leading limb is at least half the base, each quotient limb is estimated from the two leading
// limbs of the remainder (through a floating-point reciprocal of the leading divisor limb, set
// right exactly) and corrected with the divisor's second limb, and a rare estimate still one too
// high is undone by adding the divisor back.
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
  const double reciprocal = 1.0 / static_cast<double>(v1);
  for (int j = un - vn; j >= 0; --j) {
    // top < 10^16 < 2^53: exact as a double, and the estimate is off by at most one.
    const uint64_t top = static_cast<uint64_t>(u[j + vn]) * kLimbBase + u[j + vn - 1];
    uint64_t qhat =
        static_cast<uint64_t>(static_cast<int64_t>(static_cast<double>(top) * reciprocal));
    int64_t rhat = static_cast<int64_t>(top) - static_cast<int64_t>(qhat * v1);
    while (rhat < 0) {
      --qhat;
      rhat += static_cast<int64_t>(v1);
    }
    while (rhat >= static_cast<int64_t>(v1)) {
      ++qhat;
      rhat -= static_cast<int64_t>(v1);
    }
    while (qhat >= kLimbBase ||
           qhat * v2 > static_cast<uint64_t>(rhat) * kLimbBase + u[j + vn - 2]) {
      --qhat;
      rhat += static_cast<int64_t>(v1);
      if (rhat >= static_cast<int64_t>(kLimbBase)) break;
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

void add(DecimalValue& a, const DecimalValue& b) {
  const int lo = std::min(a.lo, b.lo);
  // Only the words from the lowest digit of the two up to the word above the highest take part:
  // the digits outside lo..hi are zero in both operands, so a carry never runs past the word
  // above the highest digit, and a borrow out of it is a borrow out of the whole value.
  const int first = lo / 8;
  const int last = std::min(std::max(a.hi, b.hi) / 8 + 1, kWords - 1);
  uint64_t x[kWords];
  uint64_t y[kWords];
  digit_words(a, x);
  digit_words(b, y);
  // Each word is stored as soon as it is known; `top` is the word of the highest non-zero digit.
  int top = -1;
  uint64_t top_word = 0;
  const auto keep = [&](int w, uint64_t word) {
    set_digit_word(a, w, word);
    if (word != 0) {
      top = w;
      top_word = word;
    }
  };
  if (a.sign == b.sign) {
    uint64_t carry = 0;
    for (int w = first; w <= last; ++w) {
      carry = add_digits(x[w], y[w], carry);
      keep(w, x[w]);
    }
  } else {
    uint64_t borrow = 0;
    for (int w = first; w <= last; ++w) {
      uint64_t d = x[w];
      borrow = subtract_digits(d, y[w], borrow);
      keep(w, d);
    }
    if (borrow) {
      // |b| > |a|: the magnitude is |b| - |a|, with the sign turned.
      borrow = 0;
      top = -1;
      for (int w = first; w <= last; ++w) {
        uint64_t d = y[w];
        borrow = subtract_digits(d, x[w], borrow);
        keep(w, d);
      }
      a.sign = a.sign ? 0 : 1;
    }
  }
  if (top < 0) {
    set_zero(a);  // a zero result is positive
    return;
  }
  a.lo = static_cast<uint8_t>(lo);
  a.hi = static_cast<uint8_t>(8 * top + 7 - __builtin_clzll(top_word) / 8);
}

void multiply(DecimalValue& a, const DecimalValue& b) {
  // Limb w stands for 10^(8w - 32), so the product of limbs i and j stands for
  // 10^(8(i + j - 4) - 32): product limb k is result limb k - 4. Result limbs below 0 are the
  // places under the 32nd, cut; those above 7 lie beyond index 63, lost.
  const uint8_t sign = a.sign ^ b.sign;
  uint32_t x[kWords];
  uint32_t y[kWords];
  const int xl = low_word(a.lo), xh = high_word(a.hi);
  const int yl = low_word(b.lo), yh = high_word(b.hi);
  for (int w = xl; w <= xh; ++w) x[w] = word_to_limb(digit_word(a, w));
  for (int w = yl; w <= yh; ++w) y[w] = word_to_limb(digit_word(b, w));
  // Each column sums at most 8 products below 10^16 and a carry: it fits 64 bits.
  uint64_t column[2 * kWords] = {};
  for (int i = xl; i <= xh; ++i) {
    for (int j = yl; j <= yh; ++j) column[i + j] += static_cast<uint64_t>(x[i]) * y[j];
  }
  uint64_t words[kWords] = {};
  uint64_t carry = 0;
  for (int k = xl + yl; k < kWords + 4; ++k) {
    const uint64_t c = column[k] + carry;
    carry = c / kLimbBase;
    if (k >= 4) words[k - 4] = limb_to_word(static_cast<uint32_t>(c % kLimbBase));
  }
  set_normalised(a, words, sign);
}

void divide(DecimalValue& a, const DecimalValue& b) {
  // With A and B the values' digits read as integers in units of 10^-32, the quotient in the same
  // units is A x 10^32 / B, cut; the digit at index 0 (the 32nd place) then rounds it to 31.
  uint32_t n[kMaxLimbs] = {};
  uint32_t m[kWords];
  const int bl = low_word(b.lo), bh = high_word(b.hi);
  int mn = 0;
  // The divisor's low limbs that are zero are dropped, and as many low limbs of the dividend:
  // floor(floor(N / c) / M) is floor(N / (c M)).
  int skip = bl;
  for (int w = bl; w <= bh; ++w) {
    const uint32_t limb = word_to_limb(digit_word(b, w));
    if (mn == 0 && limb == 0) {
      ++skip;
      continue;
    }
    m[mn++] = limb;
  }
  while (mn > 0 && m[mn - 1] == 0) --mn;
  const int al = low_word(a.lo), ah = high_word(a.hi);
  int nn = 0;
  for (int w = std::max(al, skip - 4); w <= ah; ++w) {
    const uint32_t limb = word_to_limb(digit_word(a, w));
    if (limb != 0) {
      n[w + 4 - skip] = limb;
      nn = w + 4 - skip + 1;
    }
  }
  if (mn == 0 || nn < mn) {
    set_zero(a);  // a zero divisor or dividend, or a quotient below one unit of the 32nd place
    return;
  }
  uint32_t q[kMaxLimbs] = {};
  long_divide(n, nn, m, mn, q);
  // The quotient's digits beyond index 63 are lost; then rounding to 31 places works on the
  // magnitude, and a carry out of index 63 is lost as well.
  const int qn = std::min(nn - mn + 1, kWords);
  uint64_t words[kWords] = {};
  const uint32_t round_up = q[0] % 10 >= 5 ? 10 : 0;
  uint64_t carry = round_up;
  q[0] -= q[0] % 10;
  for (int k = 0; k < kWords; ++k) {
    const uint64_t limb = (k < qn ? q[k] : 0) + carry;
    carry = limb >= kLimbBase;
    words[k] = limb_to_word(static_cast<uint32_t>(limb - (carry ? kLimbBase : 0)));
  }
  set_normalised(a, words, a.sign ^ b.sign);
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
