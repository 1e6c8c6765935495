// The reserve of decoded pages: its bound and order of leaving, how the cache hands it the pages
// it trims, and, on real files, that a page it kept is never served after the file changed:
// neither after another process flushed, nor after this process moved, freed or rewrote pages.
#include "runtime/files/tarnwell/page_reserve.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "runtime/files/tarnwell/page_cache.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

std::unique_ptr<RecordPage> page_of(int32_t number, size_t records, size_t record_bytes) {
  auto p = std::make_unique<RecordPage>();
  p->number = number;
  for (size_t i = 0; i < records; ++i) {
    Record r;
    r.bytes.assign(record_bytes, static_cast<uint8_t>(i));
    r.bytes[0] = static_cast<uint8_t>(i);
    r.key_length = 1;
    p->contents.records.append(RecordRef{r.bytes, r.key_length});
  }
  p->recount();
  return p;
}

TEST(PageReserveTest, BoundAndOrderOfLeaving) {
  const size_t one = PageReserve::footprint(*page_of(0, 10, 100));
  struct Case {
    const char* what;
    size_t limit;
    std::vector<int32_t> kept;     // pages kept in this order (10 records of 100 bytes each)
    std::vector<int32_t> taken;    // then taken out
    std::vector<int32_t> present;  // afterwards still there
    std::vector<int32_t> absent;
  };
  const Case cases[] = {
      {"within the bound everything stays", 10 * one, {1, 2, 3}, {}, {1, 2, 3}, {}},
      {"over the bound the oldest leaves first", 2 * one, {1, 2, 3}, {}, {2, 3}, {1}},
      {"a page taken out leaves no trace", 2 * one, {1, 2, 3, 2, 4}, {}, {2, 4}, {1, 3}},
      {"taking makes room", 2 * one, {1, 2}, {1}, {2}, {1}},
      {"a page larger than the bound is not kept", one / 2, {1}, {}, {}, {1}},
      {"a bound of 0 keeps nothing", 0, {1, 2}, {}, {}, {1, 2}},
  };
  for (const Case& c : cases) {
    PageReserve reserve(c.limit);
    for (int32_t n : c.kept) {
      reserve.take(n);  // a page is kept again only after the cache had it back
      reserve.keep(page_of(n, 10, 100));
    }
    for (int32_t n : c.taken) EXPECT_NE(reserve.take(n), nullptr) << c.what;
    EXPECT_LE(reserve.bytes(), c.limit) << c.what;
    EXPECT_EQ(reserve.bytes(), reserve.size() * one) << c.what;
    for (int32_t n : c.absent) EXPECT_EQ(reserve.take(n), nullptr) << c.what << ": " << n;
    for (int32_t n : c.present) {
      auto p = reserve.take(n);
      ASSERT_NE(p, nullptr) << c.what << ": " << n;
      EXPECT_EQ(p->number, n);
      EXPECT_EQ(p->size(), 10u);
    }
    EXPECT_EQ(reserve.bytes(), 0u) << c.what;
  }
}

// Two reserves under one budget of three pages: a reserve that would take the budget over lets its
// own oldest pages go, never the other's; whatever leaves a reserve (taken, evicted, cleared, the
// reserve destroyed) leaves the budget too.
TEST(PageReserveTest, ReservesShareTheBudgetOfTheProcess) {
  const size_t one = PageReserve::footprint(*page_of(0, 10, 100));
  ReserveBudget budget(3 * one);
  PageReserve a(10 * one, budget);
  auto b = std::make_unique<PageReserve>(10 * one, budget);
  struct Step {
    char reserve;  // 'a' or 'b' keeps `page`; 't' takes `page` from b; 'c' clears a
    int32_t page;
    size_t a_pages, b_pages;
  };
  const Step steps[] = {
      {'a', 1, 1, 0}, {'a', 2, 2, 0}, {'b', 3, 2, 1},
      {'b', 4, 2, 1},  // over the budget: b's own oldest (3) goes, not a's
      {'a', 5, 2, 1},  // a's oldest (1) goes
      {'t', 4, 2, 0}, {'b', 6, 2, 1}, {'b', 7, 2, 1},  // 6 goes: only b's pages
  };
  for (const Step& st : steps) {
    if (st.reserve == 't') {
      EXPECT_NE(b->take(st.page), nullptr) << st.page;
    } else {
      (st.reserve == 'a' ? a : *b).keep(page_of(st.page, 10, 100));
    }
    EXPECT_EQ(a.size(), st.a_pages) << "after page " << st.page;
    EXPECT_EQ(b->size(), st.b_pages) << "after page " << st.page;
    EXPECT_EQ(budget.used(), a.bytes() + b->bytes()) << "after page " << st.page;
    EXPECT_LE(budget.used(), budget.limit());
  }
  EXPECT_NE(a.take(2), nullptr);
  EXPECT_NE(a.take(5), nullptr);
  EXPECT_NE(b->take(7), nullptr);
  EXPECT_EQ(budget.used(), 0u);
  b->keep(page_of(8, 10, 100));
  a.keep(page_of(9, 10, 100));
  b.reset();
  EXPECT_EQ(budget.used(), a.bytes());
  a.clear();
  EXPECT_EQ(budget.used(), 0u);
}

TEST(PageReserveTest, TheCacheHandsOverWhatItTrimsAndClearsBoth) {
  PageReserve reserve(1 << 20);
  PageCache cache;
  cache.spill_to(&reserve);
  for (int32_t n = 0; n < 150; ++n) {
    RecordPage* p = cache.add(page_of(n, 2, 20));
    if (n == 149) cache.mark_dirty(p);
    cache.release_all();
  }
  EXPECT_LT(cache.size(), 100u);
  EXPECT_EQ(cache.size() + reserve.size(), 150u);  // nothing destroyed, nothing twice
  EXPECT_EQ(cache.find(0), nullptr);
  auto first = reserve.take(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(reserve.take(149), nullptr);  // dirty pages stay in the cache
  cache.release_all();
  // A page renumbered onto a number the reserve still holds replaces it there.
  reserve.keep(page_of(500, 1, 10));
  RecordPage* moved = cache.add(page_of(-1, 1, 10));
  cache.renumber(moved, 500);
  EXPECT_EQ(reserve.take(500), nullptr);
  cache.release_all();
  cache.clear();
  EXPECT_EQ(reserve.size(), 0u);
  EXPECT_EQ(cache.size(), 0u);
}

class ReserveFileTest : public StoreTest {
 protected:
  // Enough records for a few hundred pages, so that most of them pass through the reserve.
  static constexpr uint32_t kRecords = 4000;

  Model fill(RecordFile& f) {
    Model m;
    EXPECT_EQ(f.begin_access(AccessMode::write, true), 0);
    for (uint32_t n = 0; n < kRecords; ++n) {
      m[key_of(n)] = data_of(120 + n % 50, n);
      f.insert_record(key_of(n), m[key_of(n)]);
    }
    EXPECT_EQ(f.end_access(), 0);
    return m;
  }

  static size_t kept(RecordFile& f) { return f.store().reserve.size(); }
};

TEST_F(ReserveFileTest, AReaderNeverServesKeptPagesAfterAnotherProcessFlushed) {
  RecordFile* writer = open();
  ASSERT_NE(writer, nullptr);
  Model m = fill(*writer);
  RecordFile* reader = nullptr;
  ASSERT_EQ(open_record_file(other_process_name(), kReadOnlyShared, "", reader), 0);
  open_.push_back(reader);

  struct Change {
    const char* what;
    uint32_t every;  // records n with n % every == phase change
    uint32_t phase;
    int kind;  // 0 replace with longer data, 1 delete, 2 insert after
  };
  const Change changes[] = {
      {"records grow: pages move to other zones", 7, 3, 0},
      {"records go: pages empty and are freed", 3, 1, 1},
      {"records come: pages split", 5, 2, 2},
  };
  for (const Change& c : changes) {
    ASSERT_EQ(reader->begin_access(AccessMode::read, true), 0);
    EXPECT_TRUE(same_records(records_of(*reader), m)) << "before: " << c.what;
    reader->end_access();
    EXPECT_GT(kept(*reader), 0u) << c.what;

    ASSERT_EQ(writer->begin_access(AccessMode::write, true), 0);
    for (uint32_t n = c.phase; n < kRecords; n += c.every) {
      if (c.kind == 0 && m.contains(key_of(n))) {
        m[key_of(n)] = data_of(900, n + 7);
        EXPECT_TRUE(writer->replace_record(key_of(n), m[key_of(n)]));
      } else if (c.kind == 1 && m.contains(key_of(n))) {
        EXPECT_TRUE(writer->delete_record(key_of(n)));
        m.erase(key_of(n));
      } else if (c.kind == 2) {
        const Bytes key = key_of(n, 3);
        m[key] = data_of(200, n + 11);
        writer->insert_record(key, m[key]);
      }
    }
    ASSERT_EQ(writer->end_access(), 0);

    ASSERT_EQ(reader->begin_access(AccessMode::read, true), 0);
    EXPECT_TRUE(same_records(records_of(*reader), m)) << "after: " << c.what;
    reader->end_access();
  }
}

TEST_F(ReserveFileTest, OwnChangesNeverLeaveAStaleKeptPage) {
  // One process alone, opened exclusively: it never rereads the header, so only the rule that
  // every change goes through the cache keeps the reserve current.
  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  Model m = fill(*f);
  close(f);
  f = open(0x152);
  ASSERT_NE(f, nullptr);
  for (uint32_t round = 0; round < 4; ++round) {
    ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    EXPECT_TRUE(same_records(records_of(*f), m)) << "round " << round;
    EXPECT_GT(kept(*f), 0u) << "round " << round;
    // Changes in one quarter of the file, flushed, so that the flush moves pages (zones
    // compacted) while the pages of the other quarters wait in the reserve.
    const uint32_t from = round * kRecords / 4;
    for (uint32_t n = from; n < from + kRecords / 4; n += 1 + round % 2) {
      const Bytes key = key_of(n);
      if (!m.contains(key)) {
        m[key] = data_of(60, n + round);
        f->insert_record(key, m[key]);
      } else if (n % 3 == 0) {
        EXPECT_TRUE(f->delete_record(key));
        m.erase(key);
      } else {
        m[key] = data_of(n % 2 == 0 ? 40 : 700, n + round);
        EXPECT_TRUE(f->replace_record(key, m[key]));
      }
    }
    ASSERT_EQ(f->end_access(), 0);
  }
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
  EXPECT_TRUE(same_records(records_of(*f), m));
  const CheckResult check = check_record_file(*f);
  EXPECT_TRUE(check.ok) << check.what;
  f->end_access();
  close(f);
  EXPECT_TRUE(same_records(reopened_records(), m));
}

}  // namespace
}  // namespace vtn::tarnwell
