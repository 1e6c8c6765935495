// The local clock: what the run-time reads for TODAY, CLOCK and the century window, and a
// millisecond tick count for timeouts and retry loops.
#pragma once

#include <cstdint>

namespace vtn::platform {

// The local date and time, as the Windows local-time call reports it.
struct LocalTime {
  int32_t year = 0;         // e.g. 2026
  int32_t month = 0;        // 1..12
  int32_t day = 0;          // 1..31
  int32_t day_of_week = 0;  // 0 Sunday .. 6 Saturday
  int32_t hour = 0;         // 0..23
  int32_t minute = 0;       // 0..59
  int32_t second = 0;       // 0..59 (a leap second reads as 59)
  int32_t millisecond = 0;  // 0..999
};

// The current local date and time, with milliseconds.
LocalTime local_time();

// Milliseconds since an arbitrary fixed point (a monotonic clock); wraps after about 49.7 days,
// as the Windows tick count does.
uint32_t tick_count();

}  // namespace vtn::platform
