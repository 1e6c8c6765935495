// The page cache and its reserve holding their pages in one table: pages trimmed, taken back,
// dropped by the reserve's bound and the process budget, dirtied while spare, renumbered, freed and
// cleared, in random order against a model of what must still be there. A page keeps its address
// while the count of destroyed pages stands still (the search fingers rely on it), so every address
// seen is checked against the page found again.
//
// The file half runs a real file through a reserve far smaller than the file, so that pages leave
// the reserve all the time while readers step from the leaves of their last answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "runtime/files/tarnwell/page_cache.hpp"
#include "runtime/files/tarnwell/page_reserve.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

// One megabyte of reserve per file for the file tests of this program.
const bool g_small_reserve = (setenv("VTN_TWL_RESERVE_MB", "1", 1), true);

// A page whose single record carries its tag: which page object this is.
std::unique_ptr<RecordPage> tagged_page(int32_t number, uint32_t tag, size_t bytes) {
  auto p = std::make_unique<RecordPage>();
  p->number = number;
  Bytes record(bytes, 0x5A);
  for (int i = 0; i < 4; ++i) record[i] = static_cast<uint8_t>(tag >> (24 - 8 * i));
  p->contents.records.append(RecordRef{record, 4});
  p->recount();
  return p;
}

uint32_t tag_of(const RecordPage& p) {
  const auto key = p.key(0);
  return uint32_t{key[0]} << 24 | uint32_t{key[1]} << 16 | uint32_t{key[2]} << 8 | key[3];
}

struct Limits {
  const char* what;
  size_t reserve_pages;  // the reserve's own bound, in pages
  size_t budget_pages;   // the process budget, in pages
};

class CacheReserveModelTest : public ::testing::TestWithParam<Limits> {};

TEST_P(CacheReserveModelTest, PagesComeAndGoAsTheModelAllows) {
  const Limits& lim = GetParam();
  const size_t one = PageReserve::footprint(*tagged_page(0, 0, 300));
  ReserveBudget budget(lim.budget_pages * one);
  PageReserve reserve(lim.reserve_pages * one, budget);
  PageCache cache;
  cache.spill_to(&reserve);

  // The model: for each number, the tag of the page held under it, and whether that page must
  // still be there (dirty pages are never let go) or may have been let go (clean ones).
  struct Held {
    uint32_t tag;
    bool dirty;
  };
  std::map<int32_t, Held> held;
  std::map<int32_t, RecordPage*> addresses;  // seen since the destroyed count last moved
  uint64_t destroyed_seen = cache.pages_destroyed();
  uint32_t next_tag = 1;
  int32_t next_temporary = -1;
  std::mt19937 rng(7);

  auto check_address = [&](int32_t number, RecordPage* p) {
    if (cache.pages_destroyed() != destroyed_seen) {
      addresses.clear();
      destroyed_seen = cache.pages_destroyed();
    }
    auto [it, fresh] = addresses.emplace(number, p);
    if (!fresh) {
      EXPECT_EQ(it->second, p) << "page " << number << " moved without a destroy";
    }
  };
  // Fetches a page, as a search does: found as the model says, or (clean) let go.
  auto fetch = [&](int32_t number) -> RecordPage* {
    RecordPage* p = cache.fetch(number);
    const auto it = held.find(number);
    if (it == held.end()) {
      EXPECT_EQ(p, nullptr) << "page " << number << " never held";
      return nullptr;
    }
    if (p == nullptr) {
      EXPECT_FALSE(it->second.dirty) << "dirty page " << number << " let go";
      held.erase(it);
      return nullptr;
    }
    EXPECT_EQ(p->number, number);
    EXPECT_EQ(tag_of(*p), it->second.tag) << "page " << number;
    check_address(number, p);
    return p;
  };

  for (int step = 0; step < 20000; ++step) {
    const int op = static_cast<int>(rng() % 100);
    const int32_t number = static_cast<int32_t>(rng() % 160);
    if (op < 35) {  // read a page: from the cache, the reserve, or "the file"
      if (fetch(number) == nullptr) {
        const uint32_t tag = next_tag++;
        RecordPage* p = cache.add(tagged_page(number, tag, 300));
        held[number] = {tag, false};
        check_address(number, p);
      }
    } else if (op < 45) {  // change a page: dirty until the next write
      RecordPage* p = fetch(number);
      if (p != nullptr) {
        cache.mark_dirty(p);
        held[number].dirty = true;
      }
    } else if (op < 48) {  // a page changed through an address kept from before (a finger's)
      const auto it = addresses.find(number);
      if (cache.pages_destroyed() == destroyed_seen && it != addresses.end() && it->second->spare) {
        cache.mark_dirty(it->second);
        held[number].dirty = true;
        EXPECT_EQ(cache.find(number), it->second) << "dirtied while spare: cached again";
      }
    } else if (op < 52) {  // a new page, placed under a number no cached page has
      if (held.contains(number) && cache.find(number) != nullptr) continue;
      RecordPage* p = cache.add(tagged_page(next_temporary--, next_tag, 300));
      cache.mark_dirty(p);
      cache.renumber(p, number);  // a spare page under that number is stale: it goes
      held[number] = {next_tag++, true};
      check_address(number, p);
    } else if (op < 56) {  // free a page
      if (RecordPage* p = fetch(number)) {
        cache.drop(p);
        held.erase(number);
      }
    } else if (op < 62) {  // a flush: every dirty page is written
      cache.release_all();
      cache.mark_all_clean();
      for (auto& [n, h] : held) h.dirty = false;
    } else if (op < 63) {  // the file changed under us: everything is forgotten
      cache.clear();
      held.clear();
      EXPECT_EQ(reserve.size(), 0u);
      EXPECT_EQ(cache.size(), 0u);
    } else {  // an operation ends
      cache.release_all();
    }
    ASSERT_FALSE(::testing::Test::HasFailure()) << lim.what << ", step " << step;
    EXPECT_LE(reserve.bytes(), reserve.limit());
    EXPECT_EQ(budget.used(), reserve.bytes());
    EXPECT_LE(budget.used(), budget.limit());
    EXPECT_EQ(reserve.bytes(), reserve.size() * one);
  }
  cache.release_all();
  // Everything the model holds as dirty is still there, and nothing is held twice.
  size_t dirty = 0;
  for (auto& [n, h] : held) {
    if (!h.dirty) continue;
    ++dirty;
    RecordPage* p = cache.find(n);
    ASSERT_NE(p, nullptr) << n;
    EXPECT_EQ(tag_of(*p), h.tag);
  }
  cache.release_all();
  EXPECT_EQ(cache.dirty_pages().size(), dirty);
  EXPECT_LE(cache.size() + reserve.size(), 160u + static_cast<size_t>(-next_temporary));
}

INSTANTIATE_TEST_SUITE_P(Limits, CacheReserveModelTest,
                         ::testing::Values(Limits{"a reserve that keeps everything", 1000, 1000},
                                           Limits{"a reserve smaller than the pages", 12, 1000},
                                           Limits{"a budget smaller than the reserve", 1000, 7},
                                           Limits{"no reserve at all", 0, 1000}),
                         [](const auto& info) { return std::to_string(info.index); });

// The same pages, relinked rather than moved: a page let go to the reserve and taken back is the
// same object, and costs no destroy; the reserve's bound destroys, and says so.
TEST(CacheReserveTest, TrimmingAndTakingBackKeepThePageObject) {
  const size_t one = PageReserve::footprint(*tagged_page(0, 0, 300));
  ReserveBudget budget(1000 * one);
  PageReserve reserve(150 * one, budget);
  PageCache cache;
  cache.spill_to(&reserve);
  std::vector<RecordPage*> first;
  for (int32_t n = 0; n < 120; ++n) {
    first.push_back(cache.add(tagged_page(n, n, 300)));
    cache.release_all();
  }
  EXPECT_GT(reserve.size(), 90u);  // most went to the reserve...
  const uint64_t destroyed = cache.pages_destroyed();
  for (int32_t n = 0; n < 120; ++n) {
    EXPECT_EQ(cache.fetch(n), first[n]) << n;  // ...and come back as the same objects
    cache.release_all();
  }
  EXPECT_EQ(cache.pages_destroyed(), destroyed);
  for (int32_t n = 120; n < 400; ++n) {  // more than the reserve's bound
    cache.add(tagged_page(n, n, 300));
    cache.release_all();
  }
  EXPECT_GT(cache.pages_destroyed(), destroyed);
  EXPECT_EQ(cache.fetch(0), nullptr);  // the oldest left for good
  EXPECT_LE(reserve.size(), 150u);
}

// A real file through a reserve of one megabyte: readers step on from their last answers (whose
// leaves the reserve keeps letting go) between random reads all over the file.
class SmallReserveFileTest : public StoreTest {};

TEST_F(SmallReserveFileTest, StepsFromLeavesThatLeftTheReserveAgreeWithTheModel) {
  ASSERT_TRUE(g_small_reserve);
  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  Model m;
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (uint32_t n = 0; n < 30000; n += 2) {
    m[key_of(n)] = data_of(60 + n % 90, n);
    f->insert_record(key_of(n), m[key_of(n)]);
  }
  ASSERT_EQ(f->end_access(), 0);
  close(f);
  f = open(0x152);  // exclusive: the pages stay between accesses
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);

  std::mt19937 rng(3);
  std::vector<Bytes> at(3, key_of(0));  // three readers, each at its last answer
  for (Bytes& k : at) k = key_of(2 * (rng() % 15000));
  for (int step = 0; step < 60000; ++step) {
    Bytes& k = at[rng() % at.size()];
    const int op = static_cast<int>(rng() % 10);
    if (op < 4) {  // read on
      const auto r = f->find_first_after(k);
      const auto want = m.upper_bound(k);
      ASSERT_EQ(r.has_value(), want != m.end()) << step;
      if (!r) {
        k = m.begin()->first;
        continue;
      }
      ASSERT_EQ(Bytes(r->key().begin(), r->key().end()), want->first) << step;
      ASSERT_EQ(Bytes(r->data().begin(), r->data().end()), want->second) << step;
      k = want->first;
    } else if (op < 7) {  // read back
      const auto r = f->find_last_before(k);
      const auto want = m.lower_bound(k);
      ASSERT_EQ(r.has_value(), want != m.begin()) << step;
      if (!r) {
        k = std::prev(m.end())->first;
        continue;
      }
      ASSERT_EQ(Bytes(r->key().begin(), r->key().end()), std::prev(want)->first) << step;
      k = std::prev(want)->first;
    } else if (op < 8) {  // read again
      const auto r = f->find_exact(k);
      ASSERT_TRUE(r.has_value()) << step;
      ASSERT_EQ(Bytes(r->data().begin(), r->data().end()), m[k]) << step;
    } else {  // a random read elsewhere, which loads pages and pushes others out
      const Bytes probe = key_of(static_cast<uint32_t>(rng() % 30000));
      const auto r = f->find_exact(probe);
      ASSERT_EQ(r.has_value(), m.contains(probe)) << step;
    }
  }
  EXPECT_LE(f->store().reserve.bytes(), f->store().reserve.limit());
  EXPECT_GT(f->store().cache.pages_destroyed(), 10u);  // the reserve did let pages go
  f->end_access();
}

}  // namespace
}  // namespace vtn::tarnwell
