#include "runtime/values/calendar.hpp"

#include "runtime/platform/clock.hpp"

namespace vtn {
namespace {

constexpr int kMonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

constexpr int32_t kFirstYear = 1801;
constexpr int32_t kLastYear = 9999;

constexpr int32_t kHundredthsPerHour = 360000;
constexpr int32_t kHundredthsPerMinute = 6000;
constexpr int32_t kHundredthsPerSecond = 100;

// Leap days from year 1 up to and including year n (n >= 0).
constexpr int32_t leap_days_through(int32_t n) {
  return n / 4 - n / 100 + n / 400;
}

// Days in the years 1 .. y-1.
constexpr int32_t days_before_year(int32_t y) {
  return 365 * y + leap_days_through(y - 1);
}

// 0 means "not read yet"; the override, when set, wins over the clock.
int32_t g_clock_year = 0;
int32_t g_override_year = 0;

}  // namespace

bool is_leap_year(int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int32_t year, int month) {
  if (month < 1 || month > 12) return 0;
  if (month == 2 && is_leap_year(year)) return 29;
  return kMonthLength[month - 1];
}

int32_t century_window_year() {
  if (g_override_year != 0) return g_override_year;
  if (g_clock_year == 0) g_clock_year = platform::local_time().year;
  return g_clock_year;
}

void set_century_window_year(int32_t year) {
  g_override_year = year;
}

int32_t expand_two_digit_year(int32_t year, int32_t pivot) {
  // Negative years are left alone: they are no date, and placing them in the window would turn
  // garbage into a plausible year.
  if (year < 0 || year >= 100) return year;
  const int32_t current = century_window_year();
  const int32_t current_two_digits = current % 100;
  const int32_t distance = current_two_digits - year;
  int32_t result = current - current_two_digits + year;
  if (distance <= pivot - 100) {
    result -= 100;
  } else if (distance > pivot) {
    result += 100;
  }
  return result;
}

bool is_valid_date(CalendarDate date) {
  const int32_t year = expand_two_digit_year(date.year);
  if (year < kFirstYear || year > kLastYear) return false;
  if (date.month < 1 || date.month > 12) return false;
  return date.day >= 1 && date.day <= days_in_month(year, date.month);
}

int32_t date_to_serial(CalendarDate date) {
  date.year = expand_two_digit_year(date.year);
  if (!is_valid_date(date)) return -1;
  int32_t serial = (date.year - kFirstYear) * 365 + kDaysBeforeMonth[date.month - 1] + date.day +
                   3 + leap_days_through(date.year) - leap_days_through(kFirstYear - 1);
  // leap_days_through(year) already counts this year's 29 February.
  if (date.month <= 2 && is_leap_year(date.year)) --serial;
  return serial;
}

int32_t serial_to_date(int32_t serial, CalendarDate& date) {
  date = CalendarDate{};
  if (serial < kFirstDateSerial || serial > kLastDateSerial) return -1;
  const int32_t n = serial + days_before_year(kFirstYear) - kFirstDateSerial;
  int32_t year = n / 365;
  while (days_before_year(year) > n) --year;
  int32_t remaining = n - days_before_year(year) + 1;
  int month = 1;
  while (remaining > days_in_month(year, month)) {
    remaining -= days_in_month(year, month);
    ++month;
  }
  date.year = year;
  date.month = static_cast<uint8_t>(month);
  date.day = static_cast<uint8_t>(remaining);
  return 0;
}

int day_of_week(int32_t serial) {
  if (serial < kFirstDateSerial || serial > kLastDateSerial) return -1;
  return serial % 7;
}

int32_t time_to_serial(ClockTime time) {
  if (time.hours == 0 && time.minutes == 0 && time.seconds == 0 && time.hundredths == 0) return 0;
  if (time.hours > 23 || time.minutes > 59 || time.seconds > 59 || time.hundredths > 99) return -1;
  return time.hours * kHundredthsPerHour + time.minutes * kHundredthsPerMinute +
         time.seconds * kHundredthsPerSecond + time.hundredths + 1;
}

int32_t serial_to_time(int32_t serial, ClockTime& time) {
  time = ClockTime{};
  if (serial < 1 || serial > kLastTimeSerial) return -1;
  const int32_t t = serial - 1;
  time.hours = static_cast<uint8_t>(t / kHundredthsPerHour);
  time.minutes = static_cast<uint8_t>(t % kHundredthsPerHour / kHundredthsPerMinute);
  time.seconds = static_cast<uint8_t>(t % kHundredthsPerMinute / kHundredthsPerSecond);
  time.hundredths = static_cast<uint8_t>(t % kHundredthsPerSecond);
  return 0;
}

}  // namespace vtn
