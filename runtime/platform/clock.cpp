#include "runtime/platform/clock.hpp"

#include <ctime>

namespace vtn::platform {

LocalTime local_time() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const time_t seconds = now.tv_sec;
  tm parts{};
  localtime_r(&seconds, &parts);
  LocalTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.day_of_week = parts.tm_wday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  // Windows has no leap second; 60 would make an invalid time serial.
  result.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  result.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return result;
}

uint32_t tick_count() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace vtn::platform
