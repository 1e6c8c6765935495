#include "runtime/format/date_names.hpp"

#include <cstring>

namespace vtn {
namespace {

constexpr const char* kMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
constexpr const char* kMonthsShort[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

DateNames make_defaults() {
  DateNames names{};
  for (int i = 0; i < 12; ++i) {
    std::strcpy(names.month[i], kMonths[i]);
    std::strcpy(names.month_short[i], kMonthsShort[i]);
  }
  std::strcpy(names.day_part[0], "AM");
  std::strcpy(names.day_part[1], "PM");
  return names;
}

DateNames g_names = make_defaults();

}  // namespace

DateNames& date_names() {
  return g_names;
}

void reset_date_names() {
  g_names = make_defaults();
}

}  // namespace vtn
