// The language's date and time functions over date and time serials (see
// runtime/values/calendar.hpp for the serials themselves).
#pragma once

#include <cstdint>
#include <string>

namespace vtn {

// The serial of the date, after a two-digit year is expanded and a month beyond 12 or a day
// beyond the month's length has been carried into the following years and months
// (DATE(13, 1, 2023) is 1 January 2024, DATE(1, 32, 2023) is 1 February 2023). -1 when the
// result is no valid date, and for a month or a day of 0 or below.
int32_t DATE(int32_t month, int32_t day, int32_t year);

// The day (1..31), month (1..12) and year of a date serial; 0 for an invalid serial.
int32_t DAY(int32_t serial);
int32_t MONTH(int32_t serial);
int32_t YEAR(int32_t serial);

// The serial of the local date.
int32_t TODAY();
// The time serial of the local time (0 exactly at midnight).
int32_t CLOCK();

// The age at `base` (today when -1) of someone born on `birth`: "n DAYS" below 61 days, "n MOS"
// up to 24 months, otherwise "n YRS". A birth later than the base is taken as 100 years earlier;
// when that does not help, or when either serial is no date, the text is 255 asterisks.
std::string age_text(int32_t birth, int32_t base = -1);
// The same text, pushed on the StringStack.
void AGE(int32_t birth, int32_t base = -1);

}  // namespace vtn
