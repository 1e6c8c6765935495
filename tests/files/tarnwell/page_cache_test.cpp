#include "runtime/files/tarnwell/page_cache.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vtn::tarnwell {
namespace {

std::unique_ptr<RecordPage> page_numbered(int32_t n) {
  auto p = std::make_unique<RecordPage>();
  p->number = n;
  return p;
}

// Loads pages 0, 1, ... one per operation, as a scan does.
void scan(PageCache& cache, int32_t from, int32_t count, bool dirty = false) {
  for (int32_t n = from; n < from + count; ++n) {
    RecordPage* p = cache.add(page_numbered(n));
    if (dirty) cache.mark_dirty(p);
    cache.release_all();
  }
}

TEST(PageCacheTest, TrimmingRule) {
  struct Case {
    const char* what;
    int32_t pages;
    bool dirty;
    size_t at_least, at_most;
  };
  const std::vector<Case> cases = {
      {"fewer than 20 pages are all kept", 19, false, 19, 19},
      {"pages used once are dropped soon after the 20th", 300, false, 19, 20},
      {"dirty pages stay until written", 300, true, 300, 300},
  };
  for (const Case& c : cases) {
    PageCache cache;
    scan(cache, 0, c.pages, c.dirty);
    EXPECT_GE(cache.size(), c.at_least) << c.what;
    EXPECT_LE(cache.size(), c.at_most) << c.what;
  }
}

TEST(PageCacheTest, RecentlyUsedPagesSurviveAScan) {
  PageCache cache;
  scan(cache, 0, 1);
  for (int32_t n = 1; n < 500; ++n) {
    ASSERT_NE(cache.find(0), nullptr) << "after " << n << " loads";  // used at every step
    cache.release_all();
    scan(cache, n, 1);
  }
  EXPECT_LE(cache.size(), 20u);
}

TEST(PageCacheTest, AHundredPagesOrMoreAlwaysLoseTheLeastRecentlyUsed) {
  PageCache cache;
  for (int32_t n = 0; n < 120; ++n) cache.add(page_numbered(n));  // all in use at once
  EXPECT_EQ(cache.size(), 120u);                                  // pages in use are never dropped
  cache.release_all();
  scan(cache, 1000, 1);
  EXPECT_LT(cache.size(), 100u);
  EXPECT_EQ(cache.find(0), nullptr);  // released first, dropped first
  EXPECT_NE(cache.find(1000), nullptr);
}

TEST(PageCacheTest, WrittenPagesJoinTheRingAndRenumberingFindsThem) {
  PageCache cache;
  RecordPage* p = cache.add(page_numbered(-1));
  cache.mark_dirty(p);
  cache.renumber(p, 207);
  cache.release_all();
  EXPECT_EQ(cache.find(-1), nullptr);
  EXPECT_EQ(cache.find(207), p);
  cache.release_all();
  ASSERT_EQ(cache.dirty_pages().size(), 1u);
  cache.mark_all_clean();
  EXPECT_TRUE(cache.dirty_pages().empty());
  scan(cache, 0, 300);
  EXPECT_EQ(cache.find(207), nullptr);  // clean now, and long unused
}

// Pages dropped while pinned and dirty (a deletion emptying leaves) leave both lists in order,
// whichever pages go, and the pages made dirty afterwards follow them.
TEST(PageCacheTest, DroppedPagesLeaveTheOthersInOrder) {
  struct Case {
    const char* what;
    std::vector<int32_t> dropped;
  };
  const Case cases[] = {
      {"none", {}},
      {"the first", {0}},
      {"the last", {9}},
      {"every other, from the back", {8, 6, 4, 2, 0}},
      {"all", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PageCache cache;
    std::vector<RecordPage*> pages;
    for (int32_t n = 0; n < 10; ++n) {
      pages.push_back(cache.add(page_numbered(-1 - n)));
      cache.mark_dirty(pages.back());
    }
    std::vector<RecordPage*> expected;
    for (int32_t n = 0; n < 10; ++n) {
      if (std::find(c.dropped.begin(), c.dropped.end(), n) == c.dropped.end())
        expected.push_back(pages[n]);
    }
    for (size_t k = 0; k < c.dropped.size(); ++k) {
      cache.drop(pages[c.dropped[k]]);
      if (k == 0) {
        EXPECT_EQ(cache.dirty_pages().size(), 9u);  // seen between two drops
      }
    }
    RecordPage* late = cache.add(page_numbered(-100));
    cache.mark_dirty(late);
    expected.push_back(late);
    EXPECT_EQ(cache.dirty_pages(), expected);
    const uint64_t before = cache.clock();
    cache.release_all();  // the pages left are released, one tick each
    EXPECT_EQ(cache.clock(), before + expected.size());
    for (RecordPage* page : expected) {
      EXPECT_FALSE(page->pinned);
    }
    cache.drop(expected.front());  // a page made dirty after a hole was closed
    expected.erase(expected.begin());
    EXPECT_EQ(cache.dirty_pages(), expected);
    cache.mark_all_clean();
    EXPECT_TRUE(cache.dirty_pages().empty());
    EXPECT_EQ(cache.size(), expected.size());
  }
}

}  // namespace
}  // namespace vtn::tarnwell
