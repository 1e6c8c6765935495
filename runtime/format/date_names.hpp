// The names that dates and times print: month names (slots of 13 bytes), their abbreviations
// (slots of 4 bytes) and the two day-part marks (slots of 3 bytes), each NUL-terminated. English by
// default; the locale settings overwrite the slots.
#pragma once

#include <string_view>

namespace vtn {

struct DateNames {
  char month[12][13];
  char month_short[12][4];
  char day_part[2][3];  // AM, PM

  std::string_view month_name(int m) const { return month[m - 1]; }                // 1..12
  std::string_view month_abbreviation(int m) const { return month_short[m - 1]; }  // 1..12
};

// The process-wide slots.
DateNames& date_names();
// Puts the English defaults back.
void reset_date_names();

}  // namespace vtn
