#include "runtime/format/dates.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "runtime/platform/clock.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override { set_century_window_year(2026); }
  void TearDown() override { set_century_window_year(0); }
};

TEST_F(DatesTest, DateNormalisesAndValidates) {
  struct Case {
    int32_t month, day, year, serial;
  };
  const Case cases[] = {
      {1, 1, 1801, 4},
      {12, 31, 9999, 2994626},
      {12, 31, 1800, -1},
      {12, 32, 1800, 4},  // overflows into 1 January 1801
      {2, 29, 2000, 72746},
      {2, 29, 1900, 36222},   // 1 March 1900: the day overflows February
      {13, 1, 2023, 81453},   // 1 January 2024
      {14, 29, 2023, 81512},  // 29 February 2024
      {1, 32, 2023, 81119},   // 1 February 2023
      {1, 366, 2023, 81453},
      {1, 366, 2024, 81818},  // 31 December 2024
      {25, 1, 24, 82184},     // two-digit year, then two years of months: 1 January 2026
      {12, 32, 99, 72687},    // 99 is 1999 before the day runs into 1 January 2000
      {13, 1, 99, 72687},     // and before the month does
      {12, 32, 9999, -1},     // runs past the last year
      {0, 1, 2023, -1},
      {1, 0, 2023, -1},
      {-1, 1, 2023, -1},
      {1, -1, 2023, -1},
      {INT32_MIN, INT32_MIN, 2023, -1},
      {1, 1, -1, -1},
      {1, 1, INT32_MIN, -1},
      {INT32_MAX, 1, 2023, -1},
      {1, INT32_MAX, 2023, -1},
      {1, 1, INT32_MAX, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DATE(c.month, c.day, c.year), c.serial) << c.month << "/" << c.day << "/" << c.year;
  }
}

TEST_F(DatesTest, DayMonthYear) {
  struct Case {
    int32_t serial, day, month, year;
  };
  const Case cases[] = {
      {4, 1, 1, 1801}, {72746, 29, 2, 2000}, {2994626, 31, 12, 9999},
      {3, 0, 0, 0},    {2994627, 0, 0, 0},   {-1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DAY(c.serial), c.day) << c.serial;
    EXPECT_EQ(MONTH(c.serial), c.month) << c.serial;
    EXPECT_EQ(YEAR(c.serial), c.year) << c.serial;
  }
}

TEST_F(DatesTest, AgeUnits) {
  const int32_t base = DATE(6, 15, 2026);
  const std::string stars(255, '*');
  struct Case {
    int32_t birth;
    const char* text;
  };
  const Case cases[] = {
      {base, "0 DAYS"},
      {base - 60, "60 DAYS"},
      {base - 61, "2 MOS"},           // 15 April 2026
      {DATE(6, 15, 2024), "24 MOS"},  // exactly 24 months
      {DATE(6, 16, 2024), "23 MOS"},  // one day short of 24 months
      {DATE(7, 14, 2024), "23 MOS"},
      {DATE(5, 15, 2024), "2 YRS"},  // 25 months
      {DATE(6, 15, 2000), "26 YRS"},
      {DATE(6, 16, 2000), "25 YRS"},  // the day before the anniversary
      {DATE(7, 1, 2000), "25 YRS"},
      {DATE(1, 1, 2030), "96 YRS"},       // later than the base: a century earlier
      {DATE(2, 29, 2028), "98 YRS"},      // 29 February 1928 exists
      {DATE(1, 1, 2127), stars.c_str()},  // still later after a century back
      {0, stars.c_str()},                 // no birth date
      {-1, stars.c_str()},
  };
  for (const Case& c : cases) EXPECT_EQ(age_text(c.birth, base), c.text) << c.birth;

  // A century back from 29 February 2000 is no date.
  EXPECT_EQ(age_text(DATE(2, 29, 2000), DATE(1, 1, 1950)), stars);
  EXPECT_EQ(age_text(DATE(1, 1, 2000), 0), stars);
  EXPECT_EQ(age_text(DATE(1, 1, 2000), 2994627), stars);
}

TEST_F(DatesTest, AgeDefaultsToTodayAndGoesOnTheStringStack) {
  const int32_t today = TODAY();
  EXPECT_EQ(age_text(today - 10), "10 DAYS");
  const int depth = string_stack().depth();
  AGE(DATE(1, 1, 2000), DATE(1, 1, 2010));
  ASSERT_EQ(string_stack().depth(), depth + 1);
  EXPECT_EQ(string_stack().pop_string(), "10 YRS");
}

TEST_F(DatesTest, TodayAndClockFollowLocalTime) {
  const platform::LocalTime now = platform::local_time();
  const int32_t today = TODAY();
  EXPECT_EQ(YEAR(today), now.year);
  EXPECT_EQ(MONTH(today), now.month);
  const int32_t clock = CLOCK();
  EXPECT_GE(clock, 0);
  EXPECT_LE(clock, kLastTimeSerial);
}

}  // namespace
}  // namespace vtn
