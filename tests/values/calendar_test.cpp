#include "runtime/values/calendar.hpp"

#include <gtest/gtest.h>

namespace vtn {
namespace {

class CalendarTest : public ::testing::Test {
 protected:
  void SetUp() override { set_century_window_year(2026); }
  void TearDown() override { set_century_window_year(0); }
};

TEST_F(CalendarTest, KnownDatesAndSerials) {
  struct Case {
    int32_t year, month, day, serial;
  };
  // Serials counted independently as days since 28 December 1800.
  const Case cases[] = {
      {1801, 1, 1, 4},      {1801, 3, 1, 63},        {1900, 3, 1, 36222}, {2000, 1, 1, 72687},
      {2000, 2, 29, 72746}, {2023, 2, 1, 81119},     {2024, 1, 1, 81453}, {2024, 2, 29, 81512},
      {2026, 12, 7, 82524}, {9999, 12, 31, 2994626},
  };
  for (const Case& c : cases) {
    CalendarDate date{c.year, static_cast<uint8_t>(c.day), static_cast<uint8_t>(c.month)};
    EXPECT_EQ(date_to_serial(date), c.serial) << c.year << "-" << c.month << "-" << c.day;
    CalendarDate back;
    ASSERT_EQ(serial_to_date(c.serial, back), 0);
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
  }
}

// Every serial in range, against a calendar walked forward one day at a time.
TEST_F(CalendarTest, EverySerialRoundTripsAgainstDayByDayWalk) {
  int32_t year = 1801, month = 1, day = 1;
  for (int32_t serial = kFirstDateSerial; serial <= kLastDateSerial; ++serial) {
    CalendarDate date;
    ASSERT_EQ(serial_to_date(serial, date), 0) << serial;
    ASSERT_TRUE(date.year == year && date.month == month && date.day == day)
        << serial << ": " << date.year << "-" << int(date.month) << "-" << int(date.day);
    ASSERT_EQ(date_to_serial(date), serial);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (++day > lengths[month - 1]) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
  EXPECT_EQ(year, 10000);
}

TEST_F(CalendarTest, InvalidSerialsGiveZeroRecord) {
  for (int32_t serial : {-1, 0, 1, 3, kLastDateSerial + 1, INT32_MAX, INT32_MIN}) {
    CalendarDate date{1999, 9, 9};
    EXPECT_EQ(serial_to_date(serial, date), -1) << serial;
    EXPECT_EQ(date.year, 0);
    EXPECT_EQ(date.month, 0);
    EXPECT_EQ(date.day, 0);
  }
}

TEST_F(CalendarTest, Validity) {
  struct Case {
    int32_t year, month, day;
    bool valid;
  };
  const Case cases[] = {
      {1800, 12, 31, false}, {1801, 1, 1, true},   {9999, 12, 31, true}, {10000, 1, 1, false},
      {2000, 2, 29, true},   {1900, 2, 29, false}, {2024, 2, 29, true},  {2023, 2, 29, false},
      {2023, 4, 31, false},  {2023, 0, 1, false},  {2023, 13, 1, false}, {2023, 1, 0, false},
      {24, 2, 29, true},     {23, 2, 29, false},   {-5, 1, 1, false},
  };
  for (const Case& c : cases) {
    CalendarDate date{c.year, static_cast<uint8_t>(c.day), static_cast<uint8_t>(c.month)};
    EXPECT_EQ(is_valid_date(date), c.valid) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(date_to_serial(date) != -1, c.valid);
  }
}

TEST_F(CalendarTest, LeapYears) {
  EXPECT_TRUE(is_leap_year(2000));
  EXPECT_TRUE(is_leap_year(2024));
  EXPECT_FALSE(is_leap_year(1900));
  EXPECT_FALSE(is_leap_year(2023));
  EXPECT_EQ(days_in_month(2000, 2), 29);
  EXPECT_EQ(days_in_month(2100, 2), 28);
  EXPECT_EQ(days_in_month(2023, 0), 0);
  EXPECT_EQ(days_in_month(2023, 13), 0);
}

TEST_F(CalendarTest, TwoDigitYearsFollowTheWindow) {
  struct Case {
    int32_t window, year, pivot, expected;
  };
  const Case cases[] = {
      {2026, 45, 80, 2045},   {2026, 46, 80, 1946}, {2026, 0, 80, 2000},  {2026, 99, 80, 1999},
      {2026, 26, 80, 2026},   {2099, 0, 80, 2100},  {2000, 99, 80, 1999}, {2000, 19, 80, 2019},
      {2000, 20, 80, 1920},   {2026, 75, 50, 2075}, {2026, 76, 50, 1976}, {2026, 100, 80, 100},
      {2026, 1999, 80, 1999},
  };
  for (const Case& c : cases) {
    set_century_window_year(c.window);
    EXPECT_EQ(expand_two_digit_year(c.year, c.pivot), c.expected)
        << c.window << " " << c.year << " " << c.pivot;
  }
}

TEST_F(CalendarTest, TwoDigitYearInRecordIsExpanded) {
  CalendarDate date{24, 1, 1};
  EXPECT_EQ(date_to_serial(date), 81453);
}

TEST_F(CalendarTest, CenturyWindowFallsBackToClock) {
  set_century_window_year(0);
  const int32_t year = century_window_year();
  EXPECT_GE(year, 2000);
  EXPECT_LE(year, 9999);
  set_century_window_year(1990);
  EXPECT_EQ(century_window_year(), 1990);
  set_century_window_year(0);
  EXPECT_EQ(century_window_year(), year);
}

TEST_F(CalendarTest, DayOfWeek) {
  EXPECT_EQ(day_of_week(4), 4);      // 1 January 1801, Thursday
  EXPECT_EQ(day_of_week(82524), 1);  // 7 December 2026, Monday
  EXPECT_EQ(day_of_week(72687), 6);  // 1 January 2000, Saturday
  EXPECT_EQ(day_of_week(0), -1);
}

TEST(TimeSerial, RecordsAndSerials) {
  struct Case {
    int h, m, s, hs;
    int32_t serial;
  };
  const Case cases[] = {
      {0, 0, 0, 1, 2},      {0, 0, 1, 0, 101},         {0, 1, 0, 0, 6001},
      {1, 0, 0, 0, 360001}, {12, 34, 56, 78, 4529679}, {23, 59, 59, 99, 8640000},
  };
  for (const Case& c : cases) {
    ClockTime time{uint8_t(c.h), uint8_t(c.m), uint8_t(c.s), uint8_t(c.hs)};
    EXPECT_EQ(time_to_serial(time), c.serial);
    ClockTime back{9, 9, 9, 9};
    ASSERT_EQ(serial_to_time(c.serial, back), 0);
    EXPECT_EQ(back.hours, c.h);
    EXPECT_EQ(back.minutes, c.m);
    EXPECT_EQ(back.seconds, c.s);
    EXPECT_EQ(back.hundredths, c.hs);
  }
}

TEST(TimeSerial, MidnightAndOutOfRange) {
  ClockTime midnight;
  EXPECT_EQ(time_to_serial(midnight), 0);
  ClockTime t;
  ASSERT_EQ(serial_to_time(1, t), 0);
  EXPECT_EQ(t.hours + t.minutes + t.seconds + t.hundredths, 0);

  const ClockTime bad[] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 100}};
  for (const ClockTime& b : bad) EXPECT_EQ(time_to_serial(b), -1);

  for (int32_t serial : {0, -1, kLastTimeSerial + 1, INT32_MIN}) {
    ClockTime out{1, 2, 3, 4};
    EXPECT_EQ(serial_to_time(serial, out), -1) << serial;
    EXPECT_EQ(out.hours + out.minutes + out.seconds + out.hundredths, 0);
  }
}

}  // namespace
}  // namespace vtn
