#include "runtime/core/random.hpp"

#include "runtime/platform/clock.hpp"

namespace vtn {

RandomState& random_state() {
  static RandomState s;
  return s;
}

void seed_random(RandomState& state, uint32_t seed) {
  uint32_t x = seed;
  for (uint32_t& entry : state.entries) {
    x = x * 0xBB40E62Du + 0x11u;
    entry = x >> 16;
  }
  state.j = 54;
  state.k = 23;
}

void seed_random(uint32_t seed) {
  seed_random(random_state(), seed);
}

uint32_t random_seed_for(CalendarDate date, ClockTime time) {
  int32_t day = date_to_serial(date);
  if (day < 0) day = 0;
  return static_cast<uint32_t>(day) * 86400u + time.hours * 3600u + time.minutes * 60u +
         time.seconds;
}

void seed_random_from_clock() {
  const platform::LocalTime now = platform::local_time();
  CalendarDate date{now.year, static_cast<uint8_t>(now.day), static_cast<uint8_t>(now.month)};
  ClockTime time{static_cast<uint8_t>(now.hour), static_cast<uint8_t>(now.minute),
                 static_cast<uint8_t>(now.second), 0};
  seed_random(random_seed_for(date, time));
}

uint32_t draw_random(RandomState& state) {
  if (state.j == 0 && state.k == 0) seed_random(state, 1);
  state.j = state.j == 0 ? 54 : state.j - 1;
  state.k = state.k == 0 ? 54 : state.k - 1;
  state.entries[state.j] += state.entries[state.k];
  return state.entries[state.j] & 0x7FFFu;
}

uint32_t RANDOM() {
  return draw_random(random_state());
}

}  // namespace vtn
