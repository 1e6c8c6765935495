#include "runtime/values/number_text.hpp"

#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vtn {
namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr uint64_t kPowersOfTen[18] = {1ull,
                                       10ull,
                                       100ull,
                                       1000ull,
                                       10000ull,
                                       100000ull,
                                       1000000ull,
                                       10000000ull,
                                       100000000ull,
                                       1000000000ull,
                                       10000000000ull,
                                       100000000000ull,
                                       1000000000000ull,
                                       10000000000000ull,
                                       100000000000000ull,
                                       1000000000000000ull,
                                       10000000000000000ull,
                                       100000000000000000ull};
// The digits come in two counts: 14, and 13 for the longest texts.
constexpr int kShortCount = RealDigits::kCount - 1;

// 5^0 to 5^27: the largest power that times a 53-bit mantissa still fits 128 bits.
constexpr int kMaxExactScale = 27;
constexpr auto kPowersOfFive = [] {
  struct Table {
    uint64_t v[kMaxExactScale + 1];
  } t{};
  t.v[0] = 1;
  for (int i = 1; i <= kMaxExactScale; ++i) t.v[i] = t.v[i - 1] * 5;
  return t;
}();

// "00" to "99".
constexpr auto kDigitPairs = [] {
  struct Table {
    char v[200];
  } t{};
  for (int i = 0; i < 100; ++i) {
    t.v[2 * i] = static_cast<char>('0' + i / 10);
    t.v[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

// A finite positive double as mantissa x 2^power, the mantissa an integer below 2^53.
struct Binary {
  uint64_t mantissa;
  int power;
};

Binary decompose(double magnitude) {
  const uint64_t bits = std::bit_cast<uint64_t>(magnitude);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  const int biased = static_cast<int>(bits >> 52) & 0x7FF;
  if (biased == 0) return {fraction, -1074};  // subnormal
  return {fraction | (uint64_t{1} << 52), biased - 1075};
}

// floor(log10(2^e)) for every exponent a double has: log10(2) x 2^32 is 1292913986.08, so the
// product errs by less than 3e-8 for |e| <= 1100, while no multiple of log10(2) in that range
// comes nearer than 4e-4 to an integer.
int floor_log10_pow2(int e) {
  return static_cast<int>((static_cast<int64_t>(e) * 1292913986) >> 32);
}

// Rounds a value known as `whole` (`count` digits) plus a part, of which we know only how it
// compares with one half (-1 below, 0 equal, 1 above), to nearest, a tie to even; a carry into
// one more digit becomes one more power of ten.
RealDigits round_digits(uint64_t whole, int compared_with_half, int exponent, int count) {
  const bool up = compared_with_half > 0 || (compared_with_half == 0 && (whole & 1) != 0);
  RealDigits r{whole + (up ? 1 : 0), exponent};
  if (r.digits == kPowersOfTen[count]) {
    r.digits = kPowersOfTen[count - 1];
    ++r.exponent;
  }
  return r;
}

// value x 10^scale split into its integer part and how the rest compares with one half, exactly:
// value x 10^scale = mantissa x 5^scale x 2^(power + scale). REQUIRES: 0 <= scale <= 27 and the
// integer part below 2^64.
struct Scaled {
  uint64_t whole;
  int compared_with_half;  // -1, 0, 1
};

Scaled scale_exactly(const Binary& b, int scale) {
  const Wide product = static_cast<Wide>(b.mantissa) * kPowersOfFive.v[scale];
  const int shift = b.power + scale;
  if (shift >= 0) return {static_cast<uint64_t>(product << shift), -1};
  const int right = -shift;
  assert(right < 128);
  const Wide rest = product & ((Wide{1} << right) - 1);
  const Wide half = Wide{1} << (right - 1);
  return {static_cast<uint64_t>(product >> right), rest < half ? -1 : (rest == half ? 0 : 1)};
}

// The integer path: the estimate of the first digit's power is exact or one too small, so at
// most one more scaling is needed. False when the scale leaves the exact range.
bool exact_digits(const Binary& b, int count, RealDigits& out) {
  const int top_bit = 63 - std::countl_zero(b.mantissa);
  int exponent = floor_log10_pow2(b.power + top_bit);
  int scale = count - 1 - exponent;
  if (scale < 1 || scale > kMaxExactScale) return false;
  Scaled s = scale_exactly(b, scale);
  if (s.whole >= kPowersOfTen[count]) {
    ++exponent;
    s = scale_exactly(b, --scale);
  }
  assert(s.whole >= kPowersOfTen[count - 1] && s.whole < kPowersOfTen[count]);
  out = round_digits(s.whole, s.compared_with_half, exponent, count);
  return true;
}

// Reads to_chars' scientific text "d[.ddd]e±XX" into its digits (at most 17), their count and
// the exponent.
void parse_scientific(const char* text, const char* end, uint64_t& digits, int& count,
                      int& exponent) {
  digits = static_cast<uint64_t>(*text++ - '0');
  count = 1;
  if (*text == '.') {
    for (++text; *text != 'e'; ++text, ++count) digits = digits * 10 + (*text - '0');
  }
  const bool negative = text[1] == '-';
  int e = 0;
  for (text += 2; text < end; ++text) e = e * 10 + (*text - '0');
  exponent = negative ? -e : e;
}

// The value rounded from all its digits: the slow path.
RealDigits precise_digits(double magnitude, int count) {
  char text[32];
  const auto written =
      std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, count - 1);
  RealDigits r;
  int written_count = 0;
  parse_scientific(text, written.ptr, r.digits, written_count, r.exponent);
  return r;
}

// 10^scale for every scale a normal REAL's 14 digits need, as a 128-bit mantissa, its top bit
// set, and a power of two: mantissa x 2^power <= 10^scale < (mantissa + 2) x 2^power. Built once
// by multiplying and dividing a 256-bit value by ten, each step cut off below its 256th bit.
constexpr int kMinScale = -300;
constexpr int kMaxScale = 330;

struct PowerOfTen {
  uint64_t high;
  uint64_t low;
  int power;
};

struct PowersOfTen {
  PowerOfTen v[kMaxScale - kMinScale + 1];

  PowersOfTen() {
    // value = limb[3]:limb[2]:limb[1]:limb[0] x 2^power, the top bit of limb[3] set.
    uint64_t one[4] = {0, 0, 0, uint64_t{1} << 63};
    const auto keep = [this](const uint64_t(&limb)[4], int power, int scale) {
      v[scale - kMinScale] = {limb[3], limb[2], power + 128};
    };
    uint64_t limb[4];
    std::memcpy(limb, one, sizeof limb);
    int power = -255;
    keep(limb, power, 0);
    for (int scale = 1; scale <= kMaxScale; ++scale) {
      uint64_t carry = 0;
      for (uint64_t& l : limb) {
        const Wide product = static_cast<Wide>(l) * 10 + carry;
        l = static_cast<uint64_t>(product);
        carry = static_cast<uint64_t>(product >> 64);
      }
      const int shift = 64 - std::countl_zero(carry);  // 3 or 4: the bits that carried out
      for (int i = 0; i < 4; ++i) {
        const uint64_t above = i < 3 ? limb[i + 1] : carry;
        limb[i] = (limb[i] >> shift) | (above << (64 - shift));
      }
      power += shift;
      keep(limb, power, scale);
    }
    std::memcpy(limb, one, sizeof limb);
    power = -255;
    for (int scale = -1; scale >= kMinScale; --scale) {
      Wide rest = 0;
      for (int i = 3; i >= 0; --i) {
        const Wide part = (rest << 64) | limb[i];
        limb[i] = static_cast<uint64_t>(part / 10);
        rest = part % 10;
      }
      const int shift = std::countl_zero(limb[3]);  // 3 or 4; zeros come in below
      for (int i = 3; i >= 0; --i) {
        const uint64_t below = i > 0 ? limb[i - 1] : 0;
        limb[i] = (limb[i] << shift) | (below >> (64 - shift));
      }
      power -= shift;
      keep(limb, power, scale);
    }
  }
};

// The path for every other normal magnitude: value x 10^scale from a 128-bit power of ten, which
// errs low by less than 2 x 2^53 units of the 192-bit product's last bit, so that the true rest
// lies less than two units above the top 128 fraction bits taken. That decides the rounding
// unless those bits lie within two units below one half (an exact tie among them), and only then
// does the value need all its digits. (A value just below an integer that truly lies on it or
// just above it rounds to that integer either way.)
bool scaled_digits(const Binary& b, int count, RealDigits& out) {
  static const PowersOfTen powers;
  int exponent = floor_log10_pow2(b.power + 52);
  for (;;) {
    const int scale = count - 1 - exponent;
    if (scale < kMinScale || scale > kMaxScale) return false;
    const PowerOfTen& ten = powers.v[scale - kMinScale];
    const Wide low = static_cast<Wide>(b.mantissa) * ten.low;
    const Wide high = static_cast<Wide>(b.mantissa) * ten.high;
    const Wide middle = (low >> 64) + static_cast<uint64_t>(high);
    const uint64_t word1 = static_cast<uint64_t>(middle);
    const uint64_t word2 = static_cast<uint64_t>(high >> 64) + static_cast<uint64_t>(middle >> 64);
    // The product of a 53-bit and a 128-bit mantissa has 180 or 181 bits, of which the 39 to 50
    // of an integer part from 10^12 to 10^15 leave 129 to 142 as the fraction.
    const int fraction_bits = -(b.power + ten.power);
    assert(fraction_bits > 128 && fraction_bits < 144);
    const int in_word2 = fraction_bits - 128;
    const uint64_t whole = word2 >> in_word2;
    if (whole >= kPowersOfTen[count]) {  // the estimate was one too small
      ++exponent;
      continue;
    }
    const Wide rest = (static_cast<Wide>(word2 & ((uint64_t{1} << in_word2) - 1)) << 64) | word1;
    const Wide half = Wide{1} << (in_word2 + 63);
    if (rest + 2 > half && rest <= half) return false;
    out = round_digits(whole, rest > half ? 1 : -1, exponent, count);
    return true;
  }
}

// Writes n (below 10^7) as seven digits.
void write_seven(uint32_t n, char* out) {
  const uint32_t high = n / 10000;  // three digits
  const uint32_t low = n % 10000;
  out[0] = static_cast<char>('0' + high / 100);
  std::memcpy(out + 1, kDigitPairs.v + 2 * (high % 100), 2);
  std::memcpy(out + 3, kDigitPairs.v + 2 * (low / 100), 2);
  std::memcpy(out + 5, kDigitPairs.v + 2 * (low % 100), 2);
}

char* write_exponent(int exponent, char* out) {
  *out++ = 'E';
  *out++ = exponent < 0 ? '-' : '+';
  unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
  if (magnitude >= 100) {
    *out++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
  }
  std::memcpy(out, kDigitPairs.v + 2 * magnitude, 2);
  return out + 2;
}

// A magnitude rounded to `count` significant digits.
RealDigits digits_of(double magnitude, int count) {
  RealDigits r;
  const Binary b = decompose(magnitude);
  if (exact_digits(b, count, r)) return r;
  const bool normal = b.mantissa >> 52 != 0;
  if (normal && scaled_digits(b, count, r)) return r;
  return precise_digits(magnitude, count);
}

// The digits of a REAL laid out in the general form. REQUIRES: `digits` has no trailing zero.
size_t lay_out(bool negative, const char* digits, int count, int x, char* out) {
  char* p = out;
  if (negative) *p++ = '-';
  if (x < -4 || x >= RealDigits::kCount) {
    *p++ = digits[0];
    if (count > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, static_cast<size_t>(count - 1));
      p += count - 1;
    }
    p = write_exponent(x, p);
  } else if (x >= 0) {
    const int integers = x + 1;
    if (count <= integers) {
      std::memcpy(p, digits, static_cast<size_t>(count));
      std::memset(p + count, '0', static_cast<size_t>(integers - count));
      p += integers;
    } else {
      std::memcpy(p, digits, static_cast<size_t>(integers));
      p += integers;
      *p++ = '.';
      std::memcpy(p, digits + integers, static_cast<size_t>(count - integers));
      p += count - integers;
    }
  } else {
    const int zeros = -x - 1;
    *p++ = '0';
    *p++ = '.';
    std::memset(p, '0', static_cast<size_t>(zeros));
    p += zeros;
    std::memcpy(p, digits, static_cast<size_t>(count));
    p += count;
  }
  return static_cast<size_t>(p - out);
}

// The significant digits of r, without trailing zeros, into digits[]; returns their count.
int significant_digits(const RealDigits& r, int count, char* digits) {
  write_real_digits(r.digits * kPowersOfTen[RealDigits::kCount - count], digits);
  while (count > 1 && digits[count - 1] == '0') --count;
  return count;
}

}  // namespace

RealDigits real_digits(double magnitude) {
  return digits_of(magnitude, RealDigits::kCount);
}

void write_real_digits(uint64_t digits, char* out) {
  write_seven(static_cast<uint32_t>(digits / 10000000), out);
  write_seven(static_cast<uint32_t>(digits % 10000000), out + 7);
}

size_t real_to_chars(double value, char* out) {
  if (value == 0) {  // a zero has no sign, as a decimal zero has none
    out[0] = '0';
    return 1;
  }
  const bool negative = std::signbit(value);
  if (!std::isfinite(value)) {
    const char* const text =
        std::isnan(value) ? (negative ? "-NAN" : "NAN") : (negative ? "-INF" : "INF");
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return length;
  }
  const double magnitude = std::fabs(value);
  RealDigits r = real_digits(magnitude);
  char digits[RealDigits::kCount];
  int count = significant_digits(r, RealDigits::kCount, digits);
  // 14 digits of a negative value with a three-digit exponent make 21 characters: such a value
  // shows 13, rounded afresh from the value.
  if (negative && count == RealDigits::kCount && (r.exponent <= -100 || r.exponent >= 100)) {
    r = digits_of(magnitude, kShortCount);
    count = significant_digits(r, kShortCount, digits);
  }
  return lay_out(negative, digits, count, r.exponent, out);
}

}  // namespace vtn
