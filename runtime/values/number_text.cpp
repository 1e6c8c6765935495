#include "runtime/values/number_text.hpp"

#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

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
constexpr uint64_t kLowest = kPowersOfTen[RealDigits::kCount - 1];
constexpr uint64_t kBeyond = kPowersOfTen[RealDigits::kCount];

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

// Rounds a value known as `whole` plus a part, of which we know only how it compares with one
// half (-1 below, 0 equal, 1 above), to nearest, a tie to even; a carry into a 15th digit
// becomes one more power of ten.
RealDigits round_digits(uint64_t whole, int compared_with_half, int exponent) {
  const bool up = compared_with_half > 0 || (compared_with_half == 0 && (whole & 1) != 0);
  RealDigits r{whole + (up ? 1 : 0), exponent};
  if (r.digits == kBeyond) {
    r.digits = kLowest;
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
bool exact_digits(const Binary& b, RealDigits& out) {
  const int top_bit = 63 - std::countl_zero(b.mantissa);
  int exponent = floor_log10_pow2(b.power + top_bit);
  int scale = RealDigits::kCount - 1 - exponent;
  if (scale < 1 || scale > kMaxExactScale) return false;
  Scaled s = scale_exactly(b, scale);
  if (s.whole >= kBeyond) {
    ++exponent;
    s = scale_exactly(b, --scale);
  }
  assert(s.whole >= kLowest && s.whole < kBeyond);
  out = round_digits(s.whole, s.compared_with_half, exponent);
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
RealDigits precise_digits(double magnitude) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, magnitude,
                                     std::chars_format::scientific, RealDigits::kCount - 1);
  RealDigits r;
  int count = 0;
  parse_scientific(text, written.ptr, r.digits, count, r.exponent);
  return r;
}

// The path for every normal magnitude. The shortest digits that read back as the same double
// are the ones nearest to it among the shortest, within half a unit in its last place:
//  - with at most 14 of them, they are the 14-digit rounding itself, since a double carries
//    more than 15 digits and so lies far closer to them than half a 14-digit step;
//  - with more, a 14-digit rounding boundary (a 15-digit number ending in 5) between them and the
//    value would itself be a shorter or nearer choice; so both round alike, unless the digits
//    are that boundary (those after the 14th are exactly "5"), and only then does the value need
//    all its digits.
// A subnormal carries too few bits for the first rule and takes the slow path.
RealDigits shortest_digits(double magnitude) {
  if (magnitude < std::numeric_limits<double>::min()) return precise_digits(magnitude);
  char text[32];
  const auto written =
      std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
  uint64_t digits = 0;
  int count = 0;
  int exponent = 0;
  parse_scientific(text, written.ptr, digits, count, exponent);
  if (count <= RealDigits::kCount) {
    return {digits * kPowersOfTen[RealDigits::kCount - count], exponent};
  }
  const uint64_t divisor = kPowersOfTen[count - RealDigits::kCount];
  const uint64_t rest = digits % divisor;
  const uint64_t half = divisor / 2;
  if (rest == half) return precise_digits(magnitude);
  return round_digits(digits / divisor, rest < half ? -1 : 1, exponent);
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

// The forms the fast layout does not make (infinities, NaN, and the negative values with a
// three-digit exponent that would need 21 characters): the standard conversion, upper-cased, with
// 13 digits where 14 do not fit.
size_t general_text(double value, char* out) {
  char buffer[40];
  for (int precision = RealDigits::kCount;; --precision) {
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    const size_t length = static_cast<size_t>(written.ptr - buffer);
    if (length <= kRealTextLimit || precision == 1) {
      for (size_t i = 0; i < length; ++i) {
        const char c = buffer[i];
        out[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
      }
      return length;
    }
  }
}

}  // namespace

RealDigits real_digits(double magnitude) {
  RealDigits r;
  if (exact_digits(decompose(magnitude), r)) return r;
  return shortest_digits(magnitude);
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
  if (!std::isfinite(value)) return general_text(value, out);
  const bool negative = std::signbit(value);
  const RealDigits r = real_digits(std::fabs(value));
  char digits[RealDigits::kCount];
  write_real_digits(r.digits, digits);
  int count = RealDigits::kCount;
  while (digits[count - 1] == '0') --count;

  const int x = r.exponent;
  const bool scientific = x < -4 || x >= RealDigits::kCount;
  if (scientific && negative && count == RealDigits::kCount && (x <= -100 || x >= 100)) {
    return general_text(value, out);
  }
  char* p = out;
  if (negative) *p++ = '-';
  if (scientific) {
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

}  // namespace vtn
