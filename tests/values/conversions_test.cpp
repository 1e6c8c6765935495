#include "runtime/values/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace vtn {
namespace {

TEST(ConversionsTest, TextToLongThroughTheDecimalReader) {
  const struct {
    std::string text;
    int32_t value;
  } cases[] = {
      {"  -12.50", -12},
      {"+5", 0},   // "+" is not part of a number here
      {"1E3", 1},  // an exponent only after a point
      {"1.E3", 1000},
      {"1.5e1", 15},
      {"2.5E-1", 0},
      {"3,75", 3},
      {"-1.9", -1},
      {"12abc", 12},
      {"   7", 7},
      {"\t7", 0},  // only blanks are skipped
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"-0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"4294967295", -1},               // beyond 32 bits the integer wraps
      {"99999999999", 1215752191},      // 99999999999 mod 2^32
      {"1.5E40", 0},                    // only the low 32 integer digits survive
      {std::string(98, ' ') + "5", 5},  // the 99th character is still read
      {std::string(99, ' ') + "5", 0},  // the 100th is not
      {"12" + std::string(97, '0') + "9", static_cast<int32_t>(0)},  // 99 digits: 12 x 10^97
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_to_long(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(ConversionsTest, DecimalReaderDigitsAndExponent) {
  const struct {
    std::string text;
    bool negative;
    std::string digits;
    int32_t exponent;
  } cases[] = {
      {"3,75", false, "375", -2}, {"0.050", false, "50", -3},   {"  -007.5", true, "75", -1},
      {"1.E3", false, "1", 3},    {"1.25e+2", false, "125", 0}, {"1.25e-2", false, "125", -4},
      {"1E3", false, "1", 0},     {"-0.000", false, "", 0},  // zero is never negative
      {"x1", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const DecimalText d = read_decimal_text(c.text);
    EXPECT_EQ(d.negative, c.negative);
    EXPECT_EQ(d.digits, c.digits);
    EXPECT_EQ(d.exponent, c.exponent);
  }
}

TEST(ConversionsTest, TextToReal) {
  const struct {
    std::string text;
    double value;
    size_t used;
  } cases[] = {
      {"1E3", 1000.0, 3},
      {"  -2.5xyz", -2.5, 6},
      {"+4", 4.0, 2},
      {"\t 3", 3.0, 3},
      {".5", 0.5, 2},
      {"5.", 5.0, 2},
      {"1e", 1.0, 1},  // an exponent needs digits
      {"1e+", 1.0, 1},
      {"-1.5E-2", -0.015, 7},
      {"3,75", 3.0, 1},  // only "." is a point here
      {"abc", 0.0, 0},
      {"", 0.0, 0},
      {"-", 0.0, 0},
      {".", 0.0, 0},
      {"1e400", HUGE_VAL, 5},
      {"-1e400", -HUGE_VAL, 6},
      {"1e-400", 0.0, 6},
      {std::string(38, '0') + "7", 7.0, 39},
      {std::string(39, '0') + "7", 0.0, 39},  // only the first 39 characters are read
      // Around the one-pass reading: 15 significant digits and powers up to 22 either way, and
      // just beyond (16 digits, 10^23), where the value must be rounded as carefully.
      {"999999999999999e22", 999999999999999e22, 18},
      {"0.0000000999999999999999", 0.0000000999999999999999, 24},
      {"9007199254740993", 9007199254740993.0, 16},
      {"1e23", 1e23, 4},
      {"8.589973e9", 8.589973e9, 10},
      {"00000.0001230e-3x", 1.23e-7, 16},
      {"-0", -0.0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    size_t used = 99;
    EXPECT_EQ(text_to_real_prefix(c.text, &used), c.value);
    EXPECT_EQ(used, c.used);
    EXPECT_EQ(text_to_real(c.text), c.value);
  }
}

TEST(ConversionsTest, RealToText) {
  const struct {
    double value;
    std::string text;
  } cases[] = {
      {100.0, "100"},
      {0.0, "0"},
      {-0.0, "0"},  // a zero shows no sign
      {-7.5, "-7.5"},
      {0.1, "0.1"},
      {1.0 / 3.0, "0.33333333333333"},
      {2.0 / 3.0, "0.66666666666667"},
      {12345678901234.0, "12345678901234"},
      {1234567890123456.0, "1.2345678901235E+15"},
      {1e20, "1E+20"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {-1.5e-300, "-1.5E-300"},
      // The longest forms keep 13 digits so that the text stays within 20 characters.
      {-1.2345678901234567e-300, "-1.234567890123E-300"},
      {1.2345678901234567e-300, "1.2345678901235E-300"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(real_to_text(c.value), c.text) << c.value;
  }
  EXPECT_EQ(long_to_text(-7), "-7");
  EXPECT_EQ(long_to_text(INT32_MIN), "-2147483648");
}

// Every REAL turns into at most 20 characters that read back as nearly the same value.
TEST(ConversionsTest, RealTextRoundTripsWithin14Digits) {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-307, 307);
  for (int i = 0; i < 20000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    const std::string text = real_to_text(value);
    ASSERT_LE(text.size(), 20u) << text;
    const double back = text_to_real(text);
    ASSERT_NEAR(back, value, std::fabs(value) * 1e-12) << text;
  }
}

}  // namespace
}  // namespace vtn
