#include "runtime/files/tarnwell/zones.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace vtn::tarnwell {
namespace {

// Pages as the zones see them: page number -> an identity that moves with the page.
class ZonesTest : public ::testing::Test {
 protected:
  ZonesTest() : zones_(h_, [this](int32_t from, int32_t to) { move(from, to); }) {}

  void move(int32_t from, int32_t to) {
    ASSERT_TRUE(pages_.contains(from)) << "moving a page that is not there: " << from;
    ASSERT_FALSE(pages_.contains(to)) << "moving onto a page: " << to;
    pages_[to] = pages_[from];
    pages_.erase(from);
    ++moves_;
  }
  int32_t allocate(int unit) {
    const int32_t p = zones_.allocate(unit);
    EXPECT_FALSE(pages_.contains(p));
    pages_[p] = {unit, next_id_++};
    return p;
  }
  void free(int32_t p) {
    const int unit = pages_.at(p).unit;
    pages_.erase(p);
    zones_.free(unit, p);
  }
  // Zones ordered and disjoint, and every page of every zone is exactly one live page.
  void expect_consistent() {
    ASSERT_TRUE(zones_well_formed(h_));
    size_t slots = 0;
    for (int i = 1; i <= kMaxUnits; ++i) {
      for (int32_t p = h_.zone_start[i]; p < h_.zone_end[i]; p += i) {
        ASSERT_TRUE(pages_.contains(p)) << "hole at " << p << " in zone " << i;
        EXPECT_EQ(pages_[p].unit, i) << "page " << p;
        ++slots;
      }
    }
    EXPECT_EQ(slots, pages_.size());
  }
  void expect_compact() {
    for (int i = 2; i <= kMaxUnits; ++i) {
      EXPECT_LT(h_.zone_start[i] - h_.zone_end[i - 1], i) << "gap below zone " << i;
    }
  }

  struct Page {
    int unit;
    int id;
  };
  FileHeader h_;
  Zones zones_;
  std::map<int32_t, Page> pages_;
  int next_id_ = 0;
  int moves_ = 0;
};

TEST_F(ZonesTest, NewFileGrowsZonesUpward) {
  EXPECT_EQ(allocate(1), 0);
  EXPECT_EQ(allocate(1), 1);
  EXPECT_EQ(allocate(3), 2);
  EXPECT_EQ(allocate(1), 2);  // zone 1 grows up; zone 3 moves its page past its end
  EXPECT_EQ(h_.zone_start[3], 5);
  EXPECT_EQ(allocate(2), 3);  // into the unit left over above zone 1, and one more
  expect_consistent();
  EXPECT_EQ(end_of_used_space(h_), 0x200 + int64_t{h_.zone_end[3]} * 0x100);
}

TEST_F(ZonesTest, GrowsDownwardIntoAGapButZoneOneNever) {
  h_.zone_start[1] = 0;
  h_.zone_end[1] = 2;
  for (int32_t p : {0, 1}) pages_[p] = {1, next_id_++};
  for (int i = 2; i <= kMaxUnits; ++i) h_.zone_start[i] = h_.zone_end[i] = i <= 4 ? 10 : 14;
  h_.zone_end[4] = 14;
  pages_[10] = {4, next_id_++};
  expect_consistent();
  // Zone 4 has 8 free units below it: it grows downward.
  EXPECT_EQ(allocate(4), 6);
  EXPECT_EQ(h_.zone_start[4], 6);
  // Zone 1 grows upward into the gap above it, never below page 0.
  EXPECT_EQ(allocate(1), 2);
  expect_consistent();
  zones_.compact();
  expect_consistent();
  expect_compact();
}

TEST_F(ZonesTest, CompactionShiftsZonesDownPageByPage) {
  h_.zone_end[1] = 2;
  for (int32_t p : {0, 1}) pages_[p] = {1, next_id_++};
  for (int i = 2; i <= kMaxUnits; ++i) h_.zone_start[i] = h_.zone_end[i] = 40;
  h_.zone_start[2] = 20;
  h_.zone_end[2] = 26;
  for (int32_t p : {20, 22, 24}) pages_[p] = {2, next_id_++};
  h_.zone_start[5] = 30;  // a single page moves as a whole, right to the end of zone 4
  h_.zone_end[5] = 35;
  pages_[30] = {5, next_id_++};
  for (int i = 3; i <= 4; ++i) h_.zone_start[i] = h_.zone_end[i] = 26;
  expect_consistent();
  zones_.compact();
  expect_consistent();
  EXPECT_EQ(h_.zone_start[2], 2);
  EXPECT_EQ(h_.zone_end[2], 8);
  EXPECT_EQ(h_.zone_start[5], 8);
  EXPECT_EQ(h_.zone_end[5], 13);
  EXPECT_EQ(h_.zone_start[59], 13);
  EXPECT_EQ(moves_, 9 + 1);  // zone 2 shifts 18 units in 9 moves of its last page
}

TEST_F(ZonesTest, FreeingMovesTheLastPageIntoTheHole) {
  const int32_t a = allocate(2);
  const int32_t b = allocate(2);
  const int32_t c = allocate(2);
  const int id_c = pages_[c].id;
  free(a);
  EXPECT_EQ(pages_.at(a).id, id_c);  // the last page took the hole
  EXPECT_FALSE(pages_.contains(c));
  EXPECT_EQ(h_.zone_end[2], c);
  free(b);  // b is now the last page: nothing moves
  expect_consistent();
}

// Random allocations and frees of every size: zones stay contiguous, ordered and disjoint with
// every page accounted for, and compaction leaves no gap of a whole page below any zone.
TEST_F(ZonesTest, RandomAllocateFreeCompact) {
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    for (int op = 0; op < 25; ++op) {
      if (!pages_.empty() && rng() % 3 == 0) {
        auto it = pages_.begin();
        std::advance(it, rng() % pages_.size());
        free(it->first);
      } else {
        // Mostly small pages, as records make them.
        const int unit = rng() % 4 == 0 ? 1 + static_cast<int>(rng() % kMaxUnits)
                                        : 1 + static_cast<int>(rng() % 6);
        allocate(unit);
      }
      expect_consistent();
    }
    zones_.compact();
    expect_consistent();
    expect_compact();
  }
}

// The zone bounds go to disk in the header: a random run of allocations, frees and compactions
// must leave exactly the bounds it always left, step by step (a digest of every step's bounds,
// taken from the allocator as files written before hold them), pages of the top zones included.
TEST_F(ZonesTest, BoundsAreThoseFilesAlreadyHold) {
  uint64_t digest = 1469598103934665603u;
  auto note = [&] {
    for (int i = 1; i <= kMaxUnits; ++i) {
      for (const int32_t v : {h_.zone_start[i], h_.zone_end[i]}) {
        digest = (digest ^ static_cast<uint32_t>(v)) * 1099511628211u;
      }
    }
  };
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    for (int op = 0; op < 30; ++op) {
      if (!pages_.empty() && rng() % 3 == 0) {
        auto it = pages_.begin();
        std::advance(it, rng() % pages_.size());
        free(it->first);
      } else {
        const int unit = rng() % 5 == 0 ? 1 + static_cast<int>(rng() % kMaxUnits)
                                        : 1 + static_cast<int>(rng() % 16);
        allocate(unit);
      }
      note();
    }
    zones_.compact();
    note();
  }
  expect_consistent();
  EXPECT_EQ(digest, 4411231150760524369u);
}

}  // namespace
}  // namespace vtn::tarnwell
