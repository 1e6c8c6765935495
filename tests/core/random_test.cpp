#include "runtime/core/random.hpp"

#include <gtest/gtest.h>

#include <set>

namespace vtn {
namespace {

TEST(Random, KnownSequences) {
  // Worked out separately from the definition: 55 steps of x = x * BB40E62Dh + 11h, entries
  // x >> 16, then entry[j] += entry[k] with j from 53 and k from 22.
  struct Case {
    uint32_t seed;
    int skip;  // draws before the ones compared
    std::vector<uint32_t> first;
  };
  const Case cases[] = {
      {1, 0, {10317, 14361, 17551, 21084, 13774, 26731, 5014, 8571, 2563, 27487, 4583, 15903}},
      {86400, 0, {18765, 10410, 21215, 31232, 6582, 4360, 12997, 31165, 29697, 26255, 8976, 5186}},
      // Past several turns of both indices.
      {1, 200, {24837, 2871, 26038, 11352, 21576}},
  };
  for (const Case& c : cases) {
    RandomState s;
    seed_random(s, c.seed);
    for (int i = 0; i < c.skip; ++i) draw_random(s);
    std::vector<uint32_t> drawn;
    for (size_t i = 0; i < c.first.size(); ++i) drawn.push_back(draw_random(s));
    EXPECT_EQ(drawn, c.first) << c.seed;
  }
}

TEST(Random, BothIndicesZeroSeedsWithOne) {
  RandomState zero;
  zero.j = 0;
  zero.k = 0;
  RandomState one;
  seed_random(one, 1);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(draw_random(zero), draw_random(one)) << i;
}

TEST(Random, SameSeedSameSequenceAndRange) {
  RandomState a, b, c;
  seed_random(a, 12345);
  seed_random(b, 12345);
  seed_random(c, 12346);
  std::set<uint32_t> seen;
  int differences = 0;
  for (int i = 0; i < 10000; ++i) {
    const uint32_t x = draw_random(a);
    EXPECT_EQ(x, draw_random(b));
    differences += x != draw_random(c);
    EXPECT_LE(x, 32767u);
    seen.insert(x);
  }
  EXPECT_GT(differences, 9000);
  EXPECT_GT(seen.size(), 5000u);  // spread over the range, not stuck
}

TEST(Random, SeedCountsSecondsOfTheLocalDateAndTime) {
  const CalendarDate day{2026, 7, 12};
  const CalendarDate next_day{2026, 8, 12};
  const uint32_t base = random_seed_for(day, {10, 20, 30, 0});
  EXPECT_EQ(random_seed_for(day, {10, 20, 31, 0}), base + 1);
  EXPECT_EQ(random_seed_for(day, {10, 21, 30, 0}), base + 60);
  EXPECT_EQ(random_seed_for(day, {11, 20, 30, 0}), base + 3600);
  EXPECT_EQ(random_seed_for(next_day, {10, 20, 30, 99}), base + 86400);  // hundredths ignored
  // Days count from the date serial: 1 January 1801 is day 4.
  EXPECT_EQ(random_seed_for({1801, 1, 1}, {0, 0, 1, 0}), 4u * 86400u + 1u);
}

TEST(Random, ProcessWideGenerator) {
  seed_random(7);
  RandomState s;
  seed_random(s, 7);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(RANDOM(), draw_random(s));
}

}  // namespace
}  // namespace vtn
