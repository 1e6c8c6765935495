// The integer steps under the decimal stack's products and quotients, each against plain integer
// arithmetic on random and edge operands: cutting a chunk of sixteen digits at every decimal
// place, the product of two-chunk coefficients, the turns between chunks and binary limbs, the
// division of four limbs by two, and the test for nibbles that are no digit.
#include "runtime/values/decimal_chunks.hpp"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "runtime/values/decimal_fast_path.hpp"
#include "runtime/values/decimal_nibbles.hpp"
#include "runtime/values/decimal_wide.hpp"
#include "support/differential_cases.hpp"

namespace vtn::decimal {
namespace {

constexpr uint64_t kChunk = chunks::kChunk;

uint128 wide(uint64_t high, uint64_t low) {
  return static_cast<uint128>(high) << 64 | low;
}

std::string show(uint128 x) {
  std::string s;
  do {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(x % 10)));
    x /= 10;
  } while (x != 0);
  return s;
}

// A limb that leans toward the edges of the division: zero, one, all ones, the top bit alone,
// or any.
uint64_t edgy_limb(std::mt19937_64& random) {
  switch (random() % 6) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return ~0ull;
    case 3:
      return 1ull << 63;
    case 4:
      return ~0ull - (random() % 4);
    default:
      return random();
  }
}

TEST(DecimalChunks, SplitAtEveryPlaceMatchesIntegerDivision) {
  std::mt19937_64 random(1618);
  for (int k = 1; k <= 16; ++k) {
    const uint64_t d = kPowersOfTen[k][0];
    std::vector<uint64_t> values = {0, 1, d - 1, d, kChunk - 1, kChunk - d, kChunk - d - 1};
    if (d < kChunk) values.push_back(d + 1);
    for (uint64_t j = kChunk / d - 3; j <= kChunk / d; ++j) {
      values.push_back(j * d - 1);
      values.push_back(j * d);
    }
    for (int i = 0; i < 20000; ++i) values.push_back(random() % kChunk);
    for (const uint64_t n : values) {
      if (n >= kChunk) continue;
      uint64_t remainder;
      const uint64_t q = chunks::split(n, k, remainder);
      ASSERT_EQ(q, n / d) << n << " / 10^" << k;
      ASSERT_EQ(remainder, n % d) << n << " % 10^" << k;
    }
  }
}

TEST(DecimalChunks, SplitOfAWideNumberMatchesIntegerDivision) {
  std::mt19937_64 random(2718);
  const uint128 limit = static_cast<uint128>(kChunk) << 64;  // the largest dividend, excluded
  std::vector<uint128> values = {0,
                                 1,
                                 kChunk - 1,
                                 kChunk,
                                 limit - 1,
                                 limit - kChunk,
                                 static_cast<uint128>(kChunk) * kChunk - 1};
  for (int i = 0; i < 200000; ++i) values.push_back(wide(random(), random()) % limit);
  for (const uint128 n : values) {
    uint64_t remainder;
    const uint64_t q = chunks::split_chunk(n, remainder);
    ASSERT_EQ(q, static_cast<uint64_t>(n / kChunk)) << show(n);
    ASSERT_EQ(remainder, static_cast<uint64_t>(n % kChunk)) << show(n);
  }
}

TEST(DecimalChunks, ProductAndTurnsToAndFromBinaryAgree) {
  std::mt19937_64 random(3141);
  const uint64_t edges[] = {0, 1, 9, kChunk - 1, kChunk / 2, 5000000000000000ull};
  for (int i = 0; i < 200000; ++i) {
    uint64_t a[2], b[2];
    for (uint64_t* x : {a, a + 1, b, b + 1})
      *x = random() % 3 == 0 ? edges[random() % 6] : random() % kChunk;
    const std::array<uint64_t, 4> c = chunks::product(a[0], a[1], b[0], b[1]);
    for (const uint64_t chunk : c) ASSERT_LT(chunk, kChunk);
    const Limbs expected = fast::product(static_cast<uint128>(a[1]) * kChunk + a[0],
                                         static_cast<uint128>(b[1]) * kChunk + b[0]);
    ASSERT_EQ(chunks::to_binary(c), expected)
        << a[1] << " " << a[0] << " x " << b[1] << " " << b[0];
    ASSERT_EQ(chunks::from_binary(expected), c);
  }
  // Coefficients of every size below 10^64, both ways of cutting them.
  for (int i = 0; i < 200000; ++i) {
    const int digits = static_cast<int>(random() % 65);
    Limbs x = {random(), random(), random(), random()};
    Limbs r = modulo_power_of_ten(x.data(), 4, digits);
    const std::array<uint64_t, 4> c = chunks::from_binary(r);
    for (const uint64_t chunk : c) ASSERT_LT(chunk, kChunk);
    ASSERT_EQ(chunks::to_binary(c), r);
  }
}

// The quotient and remainder of n / d bit by bit.
uint128 reference_divide(const Limbs& n, uint128 d, uint128& remainder) {
  uint128 q = 0;
  uint128 r = 0;
  for (int bit = 255; bit >= 0; --bit) {
    const bool top = (r >> 127) != 0;  // r << 1 would pass 2^128: then it exceeds d
    r = (r << 1) | ((n[bit / 64] >> (bit % 64)) & 1);
    q <<= 1;
    if (top || r >= d) {
      r -= d;
      q |= 1;
    }
  }
  remainder = r;
  return q;
}

TEST(DecimalChunks, FourLimbsByTwoMatchBitByBitDivision) {
  std::mt19937_64 random(5772);
  const int64_t cases = testing::differential_cases(300000);
  for (int64_t i = 0; i < cases; ++i) {
    uint128 d = wide(edgy_limb(random), edgy_limb(random));
    if (random() % 4 == 0) d >>= random() % 128;  // every normalising shift
    if (d == 0) d = 1;
    Limbs n = {edgy_limb(random), edgy_limb(random), 0, 0};
    // The top half below d, often just below it or with its top limb equal to d's (the estimate
    // from the top limbs then overflows one limb).
    uint128 top;
    switch (random() % 4) {
      case 0:
        top = d - 1;
        break;
      case 1:
        top = (d >> 64) == 0 ? d - 1 : wide(static_cast<uint64_t>(d >> 64), 0);
        if (top >= d) top = d - 1;
        break;
      default:
        top = wide(edgy_limb(random), edgy_limb(random)) % d;
        break;
    }
    n[2] = static_cast<uint64_t>(top);
    n[3] = static_cast<uint64_t>(top >> 64);
    uint128 remainder, expected_remainder;
    const uint128 q = divide_256_by_128(n, d, remainder);
    const uint128 expected = reference_divide(n, d, expected_remainder);
    ASSERT_EQ(q, expected) << show(top) << " " << n[1] << " " << n[0] << " / " << show(d);
    ASSERT_EQ(remainder, expected_remainder) << show(d);
  }
}

TEST(DecimalChunks, NibblesAboveNineAreFoundAndClearedInEveryPosition) {
  std::mt19937_64 random(1414);
  for (int position = 0; position < 16; ++position) {
    for (uint64_t nibble = 0; nibble < 16; ++nibble) {
      uint64_t x = 0;
      for (int k = 0; k < 16; ++k) x |= (random() % 10) << (4 * k);
      x = (x & ~(0xFull << (4 * position))) | nibble << (4 * position);
      const bool stray = nibble > 9;
      EXPECT_EQ(non_digit_nibbles(x), stray ? 8ull << (4 * position) : 0) << std::hex << x;
      EXPECT_EQ(zero_non_digit_nibbles(x), stray ? x & ~(0xFull << (4 * position)) : x)
          << std::hex << x;
    }
  }
  // Every nibble at once: exactly those above 9.
  EXPECT_EQ(non_digit_nibbles(0xFEDCBA9876543210ull), 0x8888880000000000ull);
  EXPECT_EQ(zero_non_digit_nibbles(0xFEDCBA9876543210ull), 0x0000009876543210ull);
}

}  // namespace
}  // namespace vtn::decimal
