// Date and time serials and the calendar arithmetic behind them.
//
// A date serial counts days: 4 is 1 January 1801, 2,994,626 is 31 December 9999; any other value
// is no date. A time serial counts hundredths of a second since midnight, plus 1: 1 is 00:00:00.00,
// 8,640,000 is 23:59:59.99, 0 is no time. The calendar is Gregorian throughout.
#pragma once

#include <cstdint>

namespace vtn {

inline constexpr int32_t kFirstDateSerial = 4;
inline constexpr int32_t kLastDateSerial = 2994626;
inline constexpr int32_t kLastTimeSerial = 8640000;
inline constexpr int32_t kDefaultYearPivot = 80;

struct CalendarDate {
  int32_t year = 0;
  uint8_t day = 0;
  uint8_t month = 0;
};

struct ClockTime {
  uint8_t hours = 0;
  uint8_t minutes = 0;
  uint8_t seconds = 0;
  uint8_t hundredths = 0;
};

bool is_leap_year(int32_t year);
int days_in_month(int32_t year, int month);  // REQUIRES: 1 <= month <= 12

// The current year from the local clock, read once per process.
int32_t century_window_year();
// Overrides the century window (tests); 0 goes back to the clock.
void set_century_window_year(int32_t year);

// A year below 100 placed in the century window with `pivot`; other years unchanged.
int32_t expand_two_digit_year(int32_t year, int32_t pivot = kDefaultYearPivot);

bool is_valid_date(CalendarDate date);  // expands a two-digit year first

// -1 when the date is not valid.
int32_t date_to_serial(CalendarDate date);
// Fills `date` (all zero for an invalid serial) and returns 0, or -1 for an invalid serial.
int32_t serial_to_date(int32_t serial, CalendarDate& date);
// 0 Sunday .. 6 Saturday (serial 4, 1 January 1801, was a Thursday); -1 for an invalid serial.
int day_of_week(int32_t serial);

// 0 for all fields zero, -1 for a field out of range.
int32_t time_to_serial(ClockTime time);
// Fills `time` (all zero for an invalid serial) and returns 0, or -1.
int32_t serial_to_time(int32_t serial, ClockTime& time);

}  // namespace vtn
