#include "runtime/values/mbf.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace vtn {
namespace {

using Bytes4 = std::array<uint8_t, 4>;
using Bytes8 = std::array<uint8_t, 8>;

Bytes4 to_bfloat4(double value) {
  Bytes4 b;
  b.fill(0xAA);
  real_to_bfloat4(value, b.data());
  return b;
}

Bytes8 to_bfloat8(double value) {
  Bytes8 b;
  b.fill(0xAA);
  real_to_bfloat8(value, b.data());
  return b;
}

TEST(MbfTest, Bfloat4Encodings) {
  const struct {
    double value;
    Bytes4 bytes;
  } cases[] = {
      {1.0, {0x00, 0x00, 0x00, 0x81}},
      {-1.0, {0x00, 0x00, 0x80, 0x81}},
      {0.5, {0x00, 0x00, 0x00, 0x80}},
      {10.0, {0x00, 0x00, 0x20, 0x84}},
      {-3.0, {0x00, 0x00, 0xC0, 0x82}},
      // 0.1 is cut, not rounded: the IEEE single would end in CD.
      {0.1, {0xCC, 0xCC, 0x4C, 0x7D}},
      {0.0, {0, 0, 0, 0}},
      // Below the MBF range: zero rather than a wrapped exponent.
      {-0.0, {0, 0, 0, 0}},
      {1e-300, {0, 0, 0, 0}},
      {-1e-300, {0, 0, 0, 0}},
      {std::ldexp(1.0, -129), {0, 0, 0, 0}},
      // The smallest and a too large magnitude: exponent 1, and exponent limited to 255.
      {std::ldexp(1.0, -128), {0x00, 0x00, 0x00, 0x01}},
      {1e300, {0xE4, 0x21, 0x3F, 0xFF}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_bfloat4(c.value), c.bytes) << c.value;
  }
}

TEST(MbfTest, Bfloat4Decodings) {
  const struct {
    Bytes4 bytes;
    double value;
  } cases[] = {
      {{0x00, 0x00, 0x00, 0x81}, 1.0},
      {{0x00, 0x00, 0x80, 0x81}, -1.0},
      {{0x00, 0x00, 0x20, 0x84}, 10.0},
      {{0x00, 0x00, 0x00, 0x00}, 0.0},
      // Only bytes 2 and 3 decide zero.
      {{0x12, 0x34, 0x00, 0x00}, 0.0},
      {{0xFF, 0xFF, 0x7F, 0xFF}, std::ldexp(2.0 - std::ldexp(1.0, -23), 126)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bfloat4_to_real(c.bytes.data()), c.value);
  }
}

TEST(MbfTest, Bfloat8EncodingsAndRoundTrip) {
  EXPECT_EQ(to_bfloat8(1.0), (Bytes8{0, 0, 0, 0, 0, 0, 0x00, 0x81}));
  EXPECT_EQ(to_bfloat8(-0.75), (Bytes8{0, 0, 0, 0, 0, 0, 0xC0, 0x80}));
  EXPECT_EQ(to_bfloat8(0.0), (Bytes8{}));
  EXPECT_EQ(to_bfloat8(-0.0), (Bytes8{}));
  EXPECT_EQ(to_bfloat8(1e-300), (Bytes8{}));
  // 52 mantissa bits fit in 55: every double in the MBF range comes back unchanged.
  for (const double v :
       {0.1, -123.456, 1.0 / 3.0, 6.02214076e23, -2.5e-38, 1e38, std::nextafter(1.0, 2.0)}) {
    const Bytes8 b = to_bfloat8(v);
    EXPECT_EQ(bfloat8_to_real(b.data()), v) << v;
  }
  const Bytes8 zero_exponent = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00, 0x00};
  EXPECT_EQ(bfloat8_to_real(zero_exponent.data()), 0.0);
}

TEST(MbfTest, Bfloat4KeepsTheTop23MantissaBits) {
  for (const double v : {1.0, 0.1, -7.25, 3.14159265358979, 1e30, -1e-30}) {
    const Bytes4 b = to_bfloat4(v);
    const double back = bfloat4_to_real(b.data());
    // Cut toward zero: never larger in magnitude, and within one unit of the 24-bit mantissa.
    EXPECT_LE(std::fabs(back), std::fabs(v)) << v;
    EXPECT_LT(std::fabs(v - back), std::fabs(v) * std::ldexp(1.0, -23)) << v;
    EXPECT_EQ(std::signbit(back), std::signbit(v)) << v;
  }
}

}  // namespace
}  // namespace vtn
