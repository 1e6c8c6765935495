#include "runtime/format/picture_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/format/date_names.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/format/intl_settings.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

int32_t time_serial(int h, int m, int s = 0) {
  return h * 360000 + m * 6000 + s * 100 + 1;
}

struct RealCase {
  const char* picture;
  double value;
  const char* expected;
};

TEST(PictureFormat, Numbers) {
  const RealCase cases[] = {
      {"@N-12.2", -1234.5, "   -1,234.50"},
      {"@N-12.2", 1234.5, "    1,234.50"},
      {"@N6", 1234567, "##,###"},
      {"@N-6", -1234567, "-#,###"},
      {"@N12.2B", 0, "            "},
      {"@N12.2", 0, "        0.00"},
      {"@N010", 42, "0000000042"},
      {"@N010", 0, "0000000000"},
      {"@N10", 1234567, " 1,234,567"},
      {"@N(12.2)", -1234.5, "  (1,234.50)"},
      {"@N(12.2)", 1234.5, "   1,234.50 "},
      {"@N12.2-", -1234.5, "   1,234.50-"},
      {"@N12.2-", 1234.5, "   1,234.50 "},
      {"@N$12.2", 1234.5, "   $1,234.50"},
      {"@N$-12.2", -5, "      $-5.00"},
      {"@N~EUR~-10.2", -12.5, " EUR-12.50"},
      {"@N10.2~ kr~", 123.45, " 123.45 kr"},
      {"@N10.2~ kr~", 1234.5, " ###.## kr"},
      {"@N$010.2", 12.5, "$000012.50"},
      {"@N-010.2", -12.5, "-000012.50"},
      {"@N*12.2", 1234.5, "****1*234.50"},
      {"@N_12.2", 1234.5, "     1234.50"},
      {"@N12`2", 1234.5, "    1.234,50"},
      {"@N12.`2", 1234.5, "    1.234,50"},
      {"@N12_.2", 1234.5, "    1 234.50"},
      {"@N012_.2", 1234.5, "00001 234.50"},
      {"@N6v2", 123.45, " 12345"},
      {"@N6v2", 0.45, "    45"},
      {"@N-6v2", -0.05, "   -05"},
      // Rounding half up at the last decimal cell, with the carry making a new digit.
      {"@N8.2", 2.345, "    2.35"},
      {"@N-8.2", -2.345, "   -2.35"},
      {"@N8.2", -2.345, "    2.35"},  // no sign cell, no sign,
      {"@N8.2", 2.344, "    2.34"},
      {"@N8.2", 9.995, "   10.00"},
      {"@N8.2", 999.995, "1,000.00"},
      {"@N8.2", 9999.995, "#,###.##"},
      {"@N8", 0.5, "       1"},
      {"@N-8.2", -0.001, "    0.00"},  // no "-0.00"
      {"@N8.2", 0.001, "    0.00"},
      {"@N8.2B", 0.001, "    0.00"},  // only a zero value blanks
      // A REAL gives 14 significant digits.
      {"@N25", 123456789012345678.0, "  123,456,789,012,350,000"},
      {"@N25.0", 1e15, "    1,000,000,000,000,000"},
      {"@N20.15", 0.1, "   0.100000000000000"},
      {"@N12.2", std::numeric_limits<double>::infinity(), "#,###,###.##"},
      // Scientific.
      {"@E12.1", 1234.5, " 1.2345E+003"},
      {"@E12.1", -0.00012345, "-1.2345E-004"},
      {"@E12.1", 0, " 0.0000E+000"},
      {"@E12.1", 9.999995, " 1.0000E+001"},
      {"@E12.2", 1234.5, " 12.345E+002"},
      {"@E12`1", 1234.5, " 1,2345E+003"},
      {"@E15_.4", 1234.5, " 1 234.500E+000"},
      {"@E15_.4", 12.5, " 1 250.000E-002"},
      {"@E15.`4", 1234.5, " 1.234,500E+000"},  // a comma for the point: "." between groups
      {"@E12.1B", 0, "            "},
      // No integer digits: the first significant digit follows the point.
      {"@E12.0", 1234.5, " .12345E+004"},
      {"@E12.0", -0.00012345, "-.12345E-003"},
      {"@E12.0", 0.9999996, " .10000E+001"},
      {"@E12.0", 0, " .00000E+000"},
      // Patterns.
      {"@P(###)###-####P", 5551234567, "(555)123-4567"},
      {"@P<<#P", 5, "  5"},
      {"@P<<#P", 0, "  0"},
      {"@P###P", 7, "007"},
      {"@P###P", 1234, "###"},
      {"@P##.##P", 1234, "12.34"},
      {"@P<#/##P", 507.6, " 5/08"},
      // Text pictures show the number as text.
      {"@S8", -12.5, "-12.5   "},
      // A picture that does not compile shows nothing.
      {"@N255", 1, ""},
  };
  for (const RealCase& c : cases) {
    SCOPED_TRACE(c.picture);
    SCOPED_TRACE(c.value);
    EXPECT_EQ(format_picture(c.value, c.picture), c.expected);
  }
}

TEST(PictureFormat, DecimalValuesKeepAllTheirDigits) {
  struct Case {
    const char* picture;
    NumberDigits number;
    const char* expected;
  } const cases[] = {
      {"@N25", {"123456789012345678", 18, false}, "  123,456,789,012,345,678"},
      {"@N-30.22", {"00012345678901234567890123", 4, true}, "     -1.2345678901234567890123"},
      {"@N8.2", {"0002345", 4, false}, "    2.35"},
      {"@N8.2", {"00000", 1, true}, "    0.00"},
      {"@N8.2B", {"00000", 1, true}, "        "},
      {"@E12.1", {"000123450000", 6, false}, " 1.2345E+002"},
      {"@S12", {"0012500", 4, true}, "-12.5       "},
      {"@D1", {"0000010", 7, false}, " 1/07/01"},  // serial 10: 7 January 1801
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    EXPECT_EQ(format_picture(c.number, c.picture), c.expected);
  }
}

TEST(PictureFormat, DatesAndTimes) {
  const int32_t halloween_1959 = DATE(10, 31, 1959);
  const int32_t jan_5_2024 = DATE(1, 5, 2024);
  const int32_t may_5_2024 = DATE(5, 5, 2024);
  struct Case {
    const char* picture;
    int32_t serial;
    const char* expected;
  } const cases[] = {
      {"@D1", jan_5_2024, " 1/05/24"},
      {"@D1.", jan_5_2024, " 1.05.24"},
      {"@D01", jan_5_2024, "01/05/24"},
      {"@D_1", jan_5_2024, " 1/ 5/24"},
      {"@D2", jan_5_2024, " 1/05/2024"},
      {"@D2-", jan_5_2024, " 1-05-2024"},
      {"@D3", halloween_1959, "OCT 31,1959"},
      {"@D3", may_5_2024, "MAY  5,2024"},
      {"@D4", halloween_1959, "October 31, 1959     "},
      {"@D4", may_5_2024, "May  5, 2024         "},
      {"@D5", halloween_1959, "31/10/59"},
      {"@D6", jan_5_2024, " 5/01/2024"},
      {"@D6_", jan_5_2024, " 5 01 2024"},
      {"@D6`", jan_5_2024, " 5,01,2024"},
      {"@D7", halloween_1959, "31 OCT 59"},
      {"@D8.", halloween_1959, "31.OCT.1959"},
      {"@D9", halloween_1959, "59/10/31"},
      {"@D10", halloween_1959, "1959/10/31"},
      {"@D11", DATE(1, 2, 2005), "050102"},
      {"@D12", halloween_1959, "19591031"},
      {"@D13", halloween_1959, "10/59"},
      {"@D13", may_5_2024, "05/24"},
      {"@D14", halloween_1959, "10/1959"},
      {"@D15", halloween_1959, "59/10"},
      {"@D16", halloween_1959, "1959/10"},
      {"@D1", 0, "  /  /  "},
      {"@D3", 3, "      ,    "},
      {"@D1B", 0, "        "},
      {"@D1B", 2994627, "  /  /  "},  // only zero blanks
      {"@T1", time_serial(13, 5), "13:05"},
      {"@T1", time_serial(1, 5), " 1:05"},
      {"@T01", time_serial(1, 5), "01:05"},
      {"@T1.", time_serial(13, 5), "13.05"},
      {"@T2", time_serial(13, 5), "1305"},
      {"@T2", time_serial(0, 5), " 005"},
      {"@T3", time_serial(13, 5), " 1:05PM"},
      {"@T3", time_serial(0, 30), "12:30AM"},
      {"@T3", time_serial(12, 0), "12:00PM"},
      {"@T3", time_serial(11, 59), "11:59AM"},
      {"@T4", time_serial(13, 5, 9), "13:05:09"},
      {"@T5", time_serial(13, 5, 9), "130509"},
      {"@T6", time_serial(23, 59, 59) + 99, "11:59:59PM"},
      {"@T1", 0, "  :  "},
      {"@T3", 8640001, "  :    "},
      {"@T1B", 0, "     "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    SCOPED_TRACE(c.serial);
    EXPECT_EQ(format_picture(c.serial, c.picture), c.expected);
  }
}

TEST(PictureFormat, MonthNamesAndMarksComeFromTheLocale) {
  DateNames& names = date_names();
  std::strcpy(names.month[9], "Oktober");
  std::strcpy(names.day_part[1], "pm");
  EXPECT_EQ(format_picture(DATE(10, 31, 1959), "@D3"), "OKT 31,1959");
  EXPECT_EQ(format_picture(time_serial(13, 5), "@T3"), " 1:05pm");
  reset_date_names();
}

class LocaleFormatTest : public ::testing::Test {
 protected:
  void TearDown() override {
    intl_settings() = IntlSettings{};
    build_locale_pictures();
  }
};

TEST_F(LocaleFormatTest, LocalePictures) {
  const int32_t day = DATE(1, 5, 2024);
  const int32_t halloween_1959 = DATE(10, 31, 1959);
  build_locale_pictures();
  EXPECT_EQ(format_picture(day, "@D17"), "01/05/24");
  EXPECT_EQ(format_picture(halloween_1959, "@D18"), "October 31, 1959  ");
  EXPECT_EQ(format_picture(time_serial(13, 5), "@T7"), "01:05 PM");
  EXPECT_EQ(format_picture(time_serial(13, 5, 9), "@T8"), "01:05:09 PM");

  IntlSettings& intl = intl_settings();
  intl.s_short_date = "d.M.yyyy";
  intl.s_long_date = "dd MMMM yyyy";
  intl.i_time = 0;
  intl.i_tlzero = 0;
  intl.s1159 = "a";
  intl.s2359 = "p";
  build_locale_pictures();
  EXPECT_EQ(format_picture(day, "@D17"), " 5. 1.2024");
  EXPECT_EQ(format_picture(day, "@D017"), "05.01.2024");
  EXPECT_EQ(format_picture(halloween_1959, "@D18"), "31 October 1959  ");
  EXPECT_EQ(format_picture(time_serial(1, 5), "@T7"), " 1:05 a ");
  EXPECT_EQ(format_picture(time_serial(13, 5), "@T7"), " 1:05 p ");
  // The Windows marks belong to @T7 and @T8 only.
  EXPECT_EQ(format_picture(time_serial(13, 5), "@T3"), " 1:05PM");

  intl.i_time = 1;
  intl.s_time = ".";
  build_locale_pictures();
  EXPECT_EQ(format_picture(time_serial(13, 5, 9), "@T8"), "13.05.09");
}

TEST(PictureFormat, Text) {
  const struct {
    const char* picture;
    const char* text;
    const char* expected;
  } cases[] = {
      {"@S3", "abcdef", "abc"},
      {"@S5", "ab", "ab   "},
      {"@K##-@@K", "12-ab", "12-ab"},
      {"@K##-@@K", "12-abcdef", "12-ab"},
      {"@N-12.2", "-1234.5", "   -1,234.50"},
      {"@N8.2", "12345678901234567.125", "#,###.##"},
      {"@D1", "4", " 1/01/01"},
      {"@T1", "4710001", "13:05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    EXPECT_EQ(format_picture_text(c.text, c.picture), c.expected);
  }
  EXPECT_EQ(format_picture_text("abc", "").size(), 255u);
}

// The language's functions keep the pictures they compiled: more pictures than are kept, in
// turn, and a picture text whose buffer is reused give what a picture compiled anew gives.
TEST(PictureFormat, KeptPicturesGiveWhatFreshOnesGive) {
  const char* pictures[] = {"@N-12.2", "@N12.2B", "@E12.1", "@D1",      "@D6", "@T4",
                            "@S5",     "@P###P",  "@N$9.2", "@N(12.2)", "@T1", "@D17",
                            "@N-14.4", "@K##K",   "@Q",     "",         "@N3", "@T8"};
  const double values[] = {-1234.5, 81762, 0, 4710901};
  for (int round = 0; round < 3; ++round) {
    for (const char* picture : pictures) {
      SCOPED_TRACE(picture);
      CompiledPicture fresh;
      compile_picture(picture, fresh);
      for (const double value : values) {
        ASSERT_EQ(format_picture(value, picture), format_real(value, fresh));
        ASSERT_EQ(format_picture_text("-12.5", picture), format_text("-12.5", fresh));
        const std::string shown = format_real(value, fresh);
        ASSERT_EQ(deformat_picture(shown, picture), deformat(shown, fresh));
      }
    }
  }
  std::string buffer = "@N-12.2";
  EXPECT_EQ(format_picture(-1.5, buffer), "       -1.50");
  buffer = "@N-12.3";
  EXPECT_EQ(format_picture(-1.5, buffer), "      -1.500");
  buffer.replace(0, buffer.size(), "@N-12.2");
  EXPECT_EQ(format_picture(-1.5, buffer), "       -1.50");
}

TEST(PictureFormat, LanguageFunctionsPushTheirResult) {
  StringStack& stack = string_stack();
  const int depth = stack.depth();
  FORMAT(-1234.5, "@N-12.2");
  FORMAT_TEXT("abcdef", "@S3");
  DEFORMAT("  (1,234.50)", "@N(12.2)");
  ASSERT_EQ(stack.depth(), depth + 3);
  EXPECT_EQ(stack.pop_string(), "-01234.50");
  EXPECT_EQ(stack.pop_string(), "abc");
  EXPECT_EQ(stack.pop_string(), "   -1,234.50");
}

}  // namespace
}  // namespace vtn

namespace vtn {
namespace {

TEST(PictureFormat, DecimalStackValues) {
  const struct {
    const char* value;
    const char* picture;
    const char* expected;
  } cases[] = {
      {"-1234.5", "@N-12.2", "   -1,234.50"},
      {"12345678901234567.89", "@N-30.2", "     12,345,678,901,234,567.89"},
      {"0.005", "@N8.2", "    0.01"},
      {"-0.004", "@N-8.2", "    0.00"},
      {"0", "@N8.2B", "        "},
      {"99999999999999999999999999999999", "@E12.1", " 1.0000E+032"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    SCOPED_TRACE(c.picture);
    DecimalStack& decimals = decimal_stack();
    const int depth = decimals.depth();
    decimals.push_text(c.value);
    FORMAT_DECIMAL(c.picture);
    EXPECT_EQ(decimals.depth(), depth);
    EXPECT_EQ(string_stack().pop_string(), c.expected);
  }
}

}  // namespace
}  // namespace vtn
