#include "runtime/platform/clock.hpp"

#include <gtest/gtest.h>

#include <ctime>

namespace vtn::platform {
namespace {

TEST(Clock, LocalTimeFieldsAreInRangeAndMatchTheSystemDate) {
  const time_t before = time(nullptr);
  const LocalTime now = local_time();
  tm parts{};
  localtime_r(&before, &parts);
  EXPECT_EQ(now.year, parts.tm_year + 1900);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_GE(now.day_of_week, 0);
  EXPECT_LE(now.day_of_week, 6);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 59);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(Clock, TickCountDoesNotGoBackwards) {
  uint32_t previous = tick_count();
  for (int i = 0; i < 1000; ++i) {
    const uint32_t now = tick_count();
    EXPECT_LE(static_cast<uint32_t>(now - previous), 1000u);  // modular: tolerates a wrap
    previous = now;
  }
}

}  // namespace
}  // namespace vtn::platform
