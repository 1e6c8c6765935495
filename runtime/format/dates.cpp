#include "runtime/format/dates.hpp"

#include "runtime/platform/clock.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

constexpr int32_t kLastYear = 9999;
constexpr int kAgeDaysLimit = 61;
constexpr int kAgeMonthsLimit = 24;
constexpr size_t kAgeUnknownLength = 255;

}  // namespace

int32_t DATE(int32_t month, int32_t day, int32_t year) {
  // A month or day of 0 or below has no place in the month table: it is no date.
  if (month < 1 || day < 1 || year < 0) return -1;
  int64_t y = expand_two_digit_year(year);
  int64_t m = month;
  int64_t d = day;
  if (m > 12) {
    y += (m - 1) / 12;
    m = (m - 1) % 12 + 1;
  }
  // Day overflow walks month by month; once past the last valid year the answer is -1 anyway,
  // which also bounds the walk for huge day counts.
  while (y <= kLastYear && d > days_in_month(static_cast<int32_t>(y), static_cast<int>(m))) {
    d -= days_in_month(static_cast<int32_t>(y), static_cast<int>(m));
    if (++m > 12) {
      m = 1;
      ++y;
    }
  }
  if (y > kLastYear) return -1;
  CalendarDate date;
  date.year = static_cast<int32_t>(y);
  date.month = static_cast<uint8_t>(m);
  date.day = static_cast<uint8_t>(d);
  return date_to_serial(date);
}

int32_t DAY(int32_t serial) {
  CalendarDate date;
  serial_to_date(serial, date);
  return date.day;
}

int32_t MONTH(int32_t serial) {
  CalendarDate date;
  serial_to_date(serial, date);
  return date.month;
}

int32_t YEAR(int32_t serial) {
  CalendarDate date;
  serial_to_date(serial, date);
  return date.year;
}

int32_t TODAY() {
  const platform::LocalTime now = platform::local_time();
  CalendarDate date;
  date.year = now.year;
  date.month = static_cast<uint8_t>(now.month);
  date.day = static_cast<uint8_t>(now.day);
  return date_to_serial(date);
}

int32_t CLOCK() {
  const platform::LocalTime now = platform::local_time();
  ClockTime time;
  time.hours = static_cast<uint8_t>(now.hour);
  time.minutes = static_cast<uint8_t>(now.minute);
  time.seconds = static_cast<uint8_t>(now.second);
  time.hundredths = static_cast<uint8_t>(now.millisecond / 10);
  return time_to_serial(time);
}

std::string age_text(int32_t birth, int32_t base) {
  const std::string unknown(kAgeUnknownLength, '*');
  if (base == -1) base = TODAY();
  CalendarDate born;
  CalendarDate at;
  // Without both dates there is no age to tell.
  if (serial_to_date(birth, born) != 0 || serial_to_date(base, at) != 0) return unknown;
  if (birth > base) {
    // A birth "in the future" is a two-digit year placed in the wrong century.
    born.year -= 100;
    birth = date_to_serial(born);
    if (birth == -1 || birth > base) return unknown;
  }
  const int32_t days = base - birth;
  if (days < kAgeDaysLimit) return std::to_string(days) + " DAYS";
  if (at.year <= born.year + 2) {
    int32_t months = (at.year - born.year) * 12 + (at.month - born.month);
    if (at.day < born.day) --months;
    if (months <= kAgeMonthsLimit) return std::to_string(months) + " MOS";
  }
  int32_t years = at.year - born.year;
  if (at.month < born.month || (at.month == born.month && at.day < born.day)) --years;
  return std::to_string(years) + " YRS";
}

void AGE(int32_t birth, int32_t base) {
  string_stack().push_copy(age_text(birth, base));
}

}  // namespace vtn
