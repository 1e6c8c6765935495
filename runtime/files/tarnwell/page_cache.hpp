// PageCache: the decoded pages of one record file that are kept in memory.
//
// Pages are found by number through a table indexed by it (page_numbers.hpp): a transaction or a
// key build may hold thousands of dirty pages, and every search looks up several pages. A page
// taken by an operation is pinned until the operation ends (release_all): pinned pages are never
// dropped, so an operation may hold pointers to every page it touched, and the records it returns
// stay valid until the next operation. Released pages that are clean wait in a ring in order of
// last use; the use clock advances at every release.
//
// After each page load the ring is trimmed from its least recently used end: nothing is dropped
// while fewer than 20 pages are cached; with 100 or more the least recently used page goes; in
// between it goes when the clock ticks since its last use are at least 4 x (ticks since it was
// loaded) / (pages cached). Dirty pages are never in the ring: they stay until they are written.
// A page trimmed from the ring becomes spare in the cache's reserve when it has one
// (page_reserve.hpp), and is destroyed otherwise; clearing the cache clears the reserve with it.
// The cache and its reserve share one table of pages (decoded_pages.hpp): trimming a page and
// taking it back are relinks between two rings, and a page's address stays good until the table
// counts it destroyed (pages_destroyed()).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/files/tarnwell/decoded_pages.hpp"
#include "runtime/files/tarnwell/page_reserve.hpp"
#include "runtime/files/tarnwell/record_page.hpp"

namespace vtn::tarnwell {

class PageCache {
 public:
  static constexpr size_t kKeepBelow = 20;
  static constexpr size_t kAlwaysTrimAt = 100;

  PageCache() = default;
  ~PageCache();
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // Pages trimmed from now on become spare in `reserve` (nullptr: they are destroyed).
  // REQUIRES: the cache and the reserve are empty.
  void spill_to(PageReserve* reserve);

  // The cached page with this number, pinned; nullptr when it is not cached (spare pages
  // included).
  RecordPage* find(int32_t number);
  // The page with this number, pinned, whether cached or spare; a spare page is cached again,
  // as if loaded now, and the ring is trimmed. nullptr when the page is neither.
  RecordPage* fetch(int32_t number) {
    RecordPage* page = pages_.find(number);
    if (page == nullptr) return nullptr;
    if (page->spare) {
      take_back(page);
      trim();
    } else {
      pin(page);
    }
    return page;
  }
  // Adds a page just loaded or created (pinned), then trims the ring.
  RecordPage* add(std::unique_ptr<RecordPage> page);
  void renumber(RecordPage* page, int32_t new_number);
  void drop(RecordPage* page);
  void clear();

  void mark_dirty(RecordPage* page);
  // Every dirty page has been written: they become clean.
  void mark_all_clean();
  // In the order they became dirty.
  const std::vector<RecordPage*>& dirty_pages() const {
    if (dirty_holes_) close_dirty_holes();
    return dirty_;
  }

  // Ends an operation: every pinned page is released, in the order it was taken.
  void release_all();

  size_t size() const { return count_; }
  uint64_t clock() const { return clock_; }
  // Advances whenever a page object is let go: a page's address is good while this stands still.
  uint64_t pages_destroyed() const { return pages_.destroyed(); }

 private:
  void pin(RecordPage* page) {
    if (!page->pinned) pin_released(page);
  }
  void pin_released(RecordPage* page);
  // A spare page comes back from the reserve: cached and pinned, as if loaded now.
  void take_back(RecordPage* page);
  void ring_push_back(RecordPage* page);
  void ring_remove(RecordPage* page);
  void trim();

  DecodedPages pages_;  // cached and spare pages alike
  PageRing ring_;       // released clean cached pages, least recently used first
  // Both lists keep their order; a page dropped leaves a hole (nullptr) where it was, so that
  // dropping the pages of a large deletion one by one costs no search. The holes of the dirty list
  // are closed before anyone sees it, those of the pinned list are skipped at release.
  void close_dirty_holes() const;
  std::vector<RecordPage*> pinned_;  // the first pinned_count_ entries, in the order of pinning
  size_t pinned_count_ = 0;
  [[gnu::noinline]] void grow_pinned();  // kept out of pinning, which is on every lookup
  mutable std::vector<RecordPage*> dirty_;
  mutable bool dirty_holes_ = false;
  uint64_t clock_ = 0;
  size_t count_ = 0;  // cached pages: pinned, dirty or in the ring
  PageReserve* reserve_ = nullptr;
};

}  // namespace vtn::tarnwell
