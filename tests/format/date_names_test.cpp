#include "runtime/format/date_names.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace vtn {
namespace {

TEST(DateNames, EnglishDefaultsInTheirSlots) {
  reset_date_names();
  const DateNames& names = date_names();
  const char* full[12] = {"January", "February", "March",     "April",   "May",      "June",
                          "July",    "August",   "September", "October", "November", "December"};
  const char* abbreviated[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_EQ(names.month_name(m), full[m - 1]);
    EXPECT_EQ(names.month_abbreviation(m), abbreviated[m - 1]);
  }
  EXPECT_STREQ(names.day_part[0], "AM");
  EXPECT_STREQ(names.day_part[1], "PM");
  static_assert(sizeof names.month[0] == 13 && sizeof names.month_short[0] == 4 &&
                sizeof names.day_part[0] == 3);
}

TEST(DateNames, ResetUndoesOverwrittenSlots) {
  std::strcpy(date_names().month[0], "Janvier");
  std::strcpy(date_names().day_part[1], "pm");
  EXPECT_EQ(date_names().month_name(1), "Janvier");
  reset_date_names();
  EXPECT_EQ(date_names().month_name(1), "January");
  EXPECT_STREQ(date_names().day_part[1], "PM");
}

}  // namespace
}  // namespace vtn
