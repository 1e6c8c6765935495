// Loading and storing packed decimals against the former nibble-at-a-time codecs (kept in
// decimal_reference.hpp): the same working value from every field (any size and places, digit
// nibbles 10 to 15 included) and the same bytes and answer for every working value stored into
// every field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "runtime/values/decimal_arithmetic.hpp"
#include "runtime/values/decimal_packed.hpp"
#include "support/differential_cases.hpp"
#include "values/decimal_reference.hpp"

namespace vtn {
namespace {

namespace reference = reference_decimal;

std::string show(const DecimalValue& v) {
  std::string s = v.sign ? "-" : "+";
  for (int i = v.hi; i >= v.lo; --i) s += static_cast<char>('0' + v.digit[i]);
  return s + " lo " + std::to_string(v.lo) + " hi " + std::to_string(v.hi);
}

bool same(const DecimalValue& a, const DecimalValue& b) {
  return a.sign == b.sign && a.lo == b.lo && a.hi == b.hi &&
         std::memcmp(a.digit + a.lo, b.digit + b.lo, a.hi - a.lo + 1) == 0;
}

struct Generator {
  std::mt19937_64 random{2718281828};

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

  // Mostly the sizes programs declare (1 to 16 bytes, 0 to 31 places), now and then fields
  // larger than a working value or with more places than it has.
  void field(uint32_t& bytes, uint32_t& places) {
    const int shape = below(8);
    if (shape == 0) {
      bytes = static_cast<uint32_t>(1 + below(48));
      places = static_cast<uint32_t>(below(100));
    } else if (shape == 1) {
      bytes = static_cast<uint32_t>(below(3));
      places = static_cast<uint32_t>(below(3) == 0 ? 4000000000u : below(70));
    } else {
      bytes = static_cast<uint32_t>(1 + below(16));
      places = static_cast<uint32_t>(below(std::min<int>(2 * bytes, 32)));
    }
  }

  void bytes(uint8_t* storage, uint32_t n) {
    const bool digits_only = below(2) == 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t b = static_cast<uint8_t>(random());
      if (digits_only) b = static_cast<uint8_t>(below(10) << 4 | below(10));
      storage[i] = b;
    }
  }

  // A working value as rounding leaves it: digits in lo..hi, stale bytes elsewhere.
  DecimalValue value() {
    DecimalValue v;
    for (int w = 0; w < 8; ++w) {
      const uint64_t stale = random();
      std::memcpy(v.digit + 8 * w, &stale, 8);
    }
    if (below(30) == 0) {
      decimal::set_zero(v);
      return v;
    }
    const int lo = below(64);
    const int hi = lo + below(64 - lo);
    for (int i = lo; i <= hi; ++i) v.digit[i] = static_cast<uint8_t>(below(10));
    v.lo = static_cast<uint8_t>(lo);
    v.hi = static_cast<uint8_t>(hi);
    v.sign = static_cast<uint8_t>(below(2));
    return v;
  }
};

TEST(DecimalPackedDifferential, LoadAgreesWithTheFormerCodec) {
  Generator g;
  uint8_t storage[64];
  const int64_t cases = testing::differential_cases(2'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    uint32_t bytes = 0, places = 0;
    g.field(bytes, places);
    g.bytes(storage, bytes);
    for (const int first_nibble : {decimal::kDecimalFirstNibble, decimal::kPDecimalFirstNibble}) {
      DecimalValue expected, actual;
      reference::unpack(expected, storage, bytes, places, first_nibble);
      decimal::unpack(actual, storage, bytes, places, first_nibble);
      ASSERT_TRUE(same(actual, expected))
          << "case " << i << ": " << bytes << " bytes, " << places << " places, first nibble "
          << first_nibble << "\n gives " << show(actual) << "\n expected " << show(expected);
    }
  }
}

TEST(DecimalPackedDifferential, StoreAgreesWithTheFormerCodec) {
  Generator g;
  const int64_t cases = testing::differential_cases(2'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    uint32_t bytes = 0, places = 0;
    g.field(bytes, places);
    const DecimalValue v = g.value();
    for (const int first_nibble : {decimal::kDecimalFirstNibble, decimal::kPDecimalFirstNibble}) {
      // Guard bytes around the field catch a store outside it.
      uint8_t expected[68], actual[68];
      std::memset(expected, 0xA5, sizeof expected);
      std::memset(actual, 0xA5, sizeof actual);
      const bool expected_nonzero = reference::pack(v, expected + 2, bytes, places, first_nibble);
      const bool actual_nonzero = decimal::pack(v, actual + 2, bytes, places, first_nibble);
      ASSERT_EQ(actual_nonzero, expected_nonzero) << "case " << i << ": " << show(v);
      ASSERT_EQ(std::memcmp(actual, expected, sizeof actual), 0)
          << "case " << i << ": " << show(v) << " into " << bytes << " bytes, " << places
          << " places, first nibble " << first_nibble;
    }
  }
}

}  // namespace
}  // namespace vtn
