// The run-time's random-number generator: a 55-entry additive generator, seeded once at start-up
// from the local date and time, drawn by RANDOM.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/values/calendar.hpp"

namespace vtn {

struct RandomState {
  std::array<uint32_t, 55> entries{};
  int32_t j = 54;
  int32_t k = 23;
};

// The process-wide generator (all zero with j = 54, k = 23 until seeded).
RandomState& random_state();

// Fills the 55 entries from `seed` by a linear congruential walk and resets j and k.
void seed_random(RandomState& state, uint32_t seed);
void seed_random(uint32_t seed);

// The seed for a local date and time: its count of seconds (day serial × 86400 plus the time of
// day), so that it changes every second.
uint32_t random_seed_for(CalendarDate date, ClockTime time);
// Seeds the process-wide generator from the local clock.
void seed_random_from_clock();

// Draws the next value, 0 to 32767. A generator whose indices are both 0 is seeded with 1 first.
uint32_t draw_random(RandomState& state);
// RANDOM: draws from the process-wide generator.
uint32_t RANDOM();

}  // namespace vtn
