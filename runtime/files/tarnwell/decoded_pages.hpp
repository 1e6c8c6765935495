// DecodedPages: the decoded pages of one record file, owned in one place and found by number.
//
// The page cache and its reserve (page_cache.hpp, page_reserve.hpp) hold their pages in one such
// table: whether a page counts as cached or as spare is a state of the page (and, for a spare
// page, of its entry here), so a page trimmed from the cache or taken back from the reserve
// changes state, never place, and its address stays good. `destroyed()` advances whenever a page
// object leaves the table (destroyed, cleared away or handed out): whoever keeps a page's address
// between operations (the search fingers, page_store.hpp) trusts it only while that count stands
// still.
//
// PageRing: a ring of pages in the order they were linked into it, least recent at its head,
// linked through the pages' own ring_prev / ring_next (the cache's ring of released pages).
#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <utility>

#include "runtime/files/tarnwell/page_numbers.hpp"
#include "runtime/files/tarnwell/record_page.hpp"

namespace vtn::tarnwell {

class DecodedPages {
 public:
  // What the table holds per number: the page, and while it is spare, the stamp under which the
  // reserve kept it (0: not kept), so that the reserve's order can be checked without touching
  // the pages themselves (page_reserve.hpp).
  struct Held {
    std::unique_ptr<RecordPage> page;
    uint64_t kept = 0;
    bool operator==(const Held&) const = default;
  };

  DecodedPages() = default;
  DecodedPages(const DecodedPages&) = delete;
  DecodedPages& operator=(const DecodedPages&) = delete;

  // The page with this number, whatever its state; nullptr when none is held.
  RecordPage* find(int32_t number) {
    Held* held = table_.find(number);
    return held != nullptr ? held->page.get() : nullptr;
  }
  // The entry of a number; nullptr when none was ever made.
  Held* held(int32_t number) { return table_.find(number); }
  // REQUIRES: no page with the same number is held.
  RecordPage* put(std::unique_ptr<RecordPage> page) {
    Held& held = table_[page->number];
    assert(!held.page);
    held.page = std::move(page);
    held.kept = 0;
    return held.page.get();
  }
  // Hands the page out of the table (it leaves, but lives on with its new owner).
  std::unique_ptr<RecordPage> release(RecordPage* page) {
    ++destroyed_;
    Held* held = table_.find(page->number);
    held->kept = 0;
    return std::move(held->page);
  }
  void destroy(RecordPage* page) {
    ++destroyed_;
    table_.reset(page->number);
  }
  // Gives `page` the number `to`, keeping the object. REQUIRES: no page is held under `to`.
  void renumber(RecordPage* page, int32_t to) {
    Held* held = table_.find(page->number);
    std::unique_ptr<RecordPage> owned = std::move(held->page);
    held->kept = 0;
    owned->number = to;
    put(std::move(owned));
  }
  void clear() {
    ++destroyed_;
    table_.clear();
  }
  // Lets go the table's blocks of numbers of pages created in memory, once all are placed.
  void drop_empty_temporary_blocks() { table_.drop_empty_temporary_blocks(); }

  uint64_t destroyed() const { return destroyed_; }

 private:
  PageNumberTable<Held> table_;
  uint64_t destroyed_ = 0;
};

class PageRing {
 public:
  RecordPage* head() const { return head_; }
  bool empty() const { return head_ == nullptr; }

  void push_back(RecordPage* page) {
    page->ring_prev = tail_;
    page->ring_next = nullptr;
    if (tail_ != nullptr) {
      tail_->ring_next = page;
    } else {
      head_ = page;
    }
    tail_ = page;
  }
  // REQUIRES: `page` is in this ring.
  void remove(RecordPage* page) {
    if (page->ring_prev != nullptr) {
      page->ring_prev->ring_next = page->ring_next;
    } else {
      head_ = page->ring_next;
    }
    if (page->ring_next != nullptr) {
      page->ring_next->ring_prev = page->ring_prev;
    } else {
      tail_ = page->ring_prev;
    }
    page->ring_prev = page->ring_next = nullptr;
  }
  // Forgets the ring without touching its pages (they are being let go with it).
  void clear() { head_ = tail_ = nullptr; }

 private:
  RecordPage* head_ = nullptr;
  RecordPage* tail_ = nullptr;
};

}  // namespace vtn::tarnwell
