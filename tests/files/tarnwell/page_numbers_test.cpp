// The table of entries by page number against a map: numbers on both sides of zero and of the
// block edges, entries made, changed and reset in any order, and the blocks of negative numbers
// let go only when nothing in them is set.
#include "runtime/files/tarnwell/page_numbers.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace vtn::tarnwell {
namespace {

::testing::AssertionResult agrees(PageNumberTable<int>& table, const std::map<int32_t, int>& model,
                                  int32_t low, int32_t high) {
  for (int32_t n = low; n <= high; ++n) {
    const int* entry = table.find(n);
    const auto it = model.find(n);
    const int expected = it == model.end() ? 0 : it->second;
    if ((entry ? *entry : 0) != expected)
      return ::testing::AssertionFailure()
             << "number " << n << ": " << (entry ? *entry : 0) << ", expected " << expected;
  }
  return ::testing::AssertionSuccess();
}

TEST(PageNumberTableTest, AgreesWithAMapOnBothSidesOfZero) {
  constexpr int32_t kLow = -2600, kHigh = 2600;  // three blocks each way
  std::mt19937 rng(5);
  PageNumberTable<int> table;
  std::map<int32_t, int> model;
  for (int step = 0; step < 20000; ++step) {
    const int32_t n = kLow + static_cast<int32_t>(rng() % (kHigh - kLow + 1));
    if (rng() % 3 == 0) {
      table.reset(n);
      model.erase(n);
    } else {
      const int value = 1 + static_cast<int>(rng() % 1000);
      table[n] = value;
      model[n] = value;
    }
    if (step % 997 == 0) {
      table.drop_empty_temporary_blocks();  // must keep every set entry
      ASSERT_TRUE(agrees(table, model, kLow, kHigh)) << "step " << step;
    }
  }
  ASSERT_TRUE(agrees(table, model, kLow, kHigh));
}

TEST(PageNumberTableTest, EmptyTemporaryBlocksAreLetGo) {
  struct Case {
    const char* what;
    int32_t set_and_kept;  // 0: none kept
    int32_t block_expected_gone;
  };
  const Case cases[] = {
      {"all reset", 0, -1},
      {"one kept in the first block, the third goes", -5, -2049},
      {"the last one of a block kept, the next goes", -1024, -1025},
      {"the first of the second block kept, the first goes", -1025, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PageNumberTable<int> table;
    for (int32_t n = -1; n >= -3000; --n) table[n] = 7;
    for (int32_t n = -1; n >= -3000; --n) {
      if (n != c.set_and_kept) table.reset(n);
    }
    table[5] = 9;  // placed pages are not touched
    table.drop_empty_temporary_blocks();
    EXPECT_EQ(table.find(c.block_expected_gone), nullptr);
    if (c.set_and_kept != 0) {
      ASSERT_NE(table.find(c.set_and_kept), nullptr);
      EXPECT_EQ(*table.find(c.set_and_kept), 7);
    }
    ASSERT_NE(table.find(5), nullptr);
    EXPECT_EQ(*table.find(5), 9);
    table[-2] = 3;  // a block let go is made again when needed
    EXPECT_EQ(*table.find(-2), 3);
  }
}

}  // namespace
}  // namespace vtn::tarnwell
