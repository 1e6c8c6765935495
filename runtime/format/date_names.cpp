#include "runtime/format/date_names.hpp"

namespace vtn {
namespace {

constexpr const char* kMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
constexpr const char* kMonthsShort[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr void copy_name(char* slot, const char* name) {
  while ((*slot++ = *name++) != '\0') {
  }
}

// Computed at compile time, so the slots hold their names before any code of the program runs.
constexpr DateNames make_defaults() {
  DateNames names{};
  for (int i = 0; i < 12; ++i) {
    copy_name(names.month[i], kMonths[i]);
    copy_name(names.month_short[i], kMonthsShort[i]);
  }
  copy_name(names.day_part[0], "AM");
  copy_name(names.day_part[1], "PM");
  return names;
}

constinit DateNames g_names = make_defaults();

}  // namespace

DateNames& date_names() {
  return g_names;
}

void reset_date_names() {
  g_names = make_defaults();
}

}  // namespace vtn
