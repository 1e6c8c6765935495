// The external merge sort: every item comes out once, in byte order, whether the items stayed in
// memory, spilled runs into the run store's memory, or spilled the run store to a temporary file.
#include "runtime/files/tarnwell/external_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace vtn::tarnwell {
namespace {

struct SortCase {
  const char* what;
  size_t items;
  size_t item_size;
  size_t heap_bytes;
  size_t store_memory;
  size_t expect_runs;  // runs written (0: none, all in memory)
  bool expect_file;
  size_t prefix = 0;  // leading bytes the same in every item
  // Non-zero: the prefix changes (downwards) every this many items, so that each run has a common
  // prefix of its own that the other runs do not share.
  size_t prefix_every = 0;
};

TEST(ExternalSort, ItemsComeOutInByteOrder) {
  const SortCase cases[] = {
      {"empty", 0, 6, 1'000'000, 16'384, 0, false},
      {"in memory", 1000, 6, 1'000'000, 16'384, 0, false},
      {"runs in memory", 300, 6, 600, 16'384, 3, false},
      {"runs in a file", 5000, 8, 4000, 1024, 10, true},
      {"one item per run", 50, 5, 5, 64, 50, true},
      {"a common prefix, then more than eight bytes", 3000, 20, 1'000'000, 16'384, 0, false, 5},
      {"a common prefix, then fewer than eight bytes", 3000, 20, 1'000'000, 16'384, 0, false, 17},
      {"a common prefix and runs", 3000, 20, 6'000, 1024, 10, true, 9},
      {"every item the same", 500, 12, 1'000'000, 16'384, 0, false, 12},
      {"items that differ in their last byte only", 2000, 9, 1'000'000, 16'384, 0, false, 8},
      {"eight bytes, then a tail that settles ties", 5000, 16, 1'000'000, 16'384, 0, false},
      {"items of a key build's size in runs", 20'000, 44, 100'000, 16'384, 9, true, 5},
      {"runs with prefixes of their own", 3000, 20, 6'000, 1024, 10, true, 12, 300},
      {"runs with prefixes of their own, shorter than eight bytes", 600, 6, 600, 1024, 6, true, 4,
       100},
  };
  for (const SortCase& c : cases) {
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> items;
    ExternalSorter sorter(c.item_size, c.heap_bytes, c.store_memory);
    for (size_t i = 0; i < c.items; ++i) {
      std::vector<uint8_t> item(c.item_size);
      for (auto& b : item) b = static_cast<uint8_t>(random() % 4);  // many equal items
      const size_t block = c.prefix_every == 0 ? 0 : i / c.prefix_every;
      std::fill_n(item.begin(), c.prefix, static_cast<uint8_t>(0x50 - block));
      items.push_back(item);
      ASSERT_TRUE(sorter.add(item)) << c.what;
    }
    ASSERT_TRUE(sorter.finish()) << c.what;
    std::sort(items.begin(), items.end());
    std::vector<std::vector<uint8_t>> out;
    while (const uint8_t* p = sorter.next()) out.emplace_back(p, p + c.item_size);
    EXPECT_FALSE(sorter.failed()) << c.what;
    EXPECT_EQ(out, items) << c.what;
    EXPECT_EQ(sorter.runs(), c.expect_runs) << c.what;
    EXPECT_EQ(sorter.spilled_to_file(), c.expect_file) << c.what;
  }
}

TEST(ExternalSort, TheHeapHoldsAMillionBytes) {
  ExternalSorter sorter(10);
  std::vector<uint8_t> item(10, 1);
  for (int i = 0; i < 99'999; ++i) ASSERT_TRUE(sorter.add(item));
  EXPECT_EQ(sorter.runs(), 0u);
  ASSERT_TRUE(sorter.add(item));  // the 100,000th item fills 1,000,000 bytes: a run
  EXPECT_EQ(sorter.runs(), 1u);
  EXPECT_TRUE(sorter.spilled_to_file());
}

}  // namespace
}  // namespace vtn::tarnwell
