// DecodedPages: the decoded pages of one record file, owned in one place and found by number.
//
// The page cache and its reserve (page_cache.hpp, page_reserve.hpp) hold their pages in one such
// table: whether a page counts as cached or as spare is a state of the page and the ring it is
// linked into, so a page trimmed from the cache or taken back from the reserve is relinked, never
// moved, and its address stays good. `destroyed()` advances whenever a page object leaves the
// table (destroyed, cleared away or handed out): whoever keeps a page's address between
// operations (the search fingers, page_store.hpp) trusts it only while that count stands still.
//
// PageRing: a ring of pages in the order they were linked into it, least recent at its head,
// linked through the pages' own ring_prev / ring_next. A page is in at most one ring at a time.
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
  DecodedPages() = default;
  DecodedPages(const DecodedPages&) = delete;
  DecodedPages& operator=(const DecodedPages&) = delete;

  // The page with this number, whatever its state; nullptr when none is held.
  RecordPage* find(int32_t number) {
    std::unique_ptr<RecordPage>* entry = table_.find(number);
    return entry != nullptr ? entry->get() : nullptr;
  }
  // REQUIRES: no page with the same number is held.
  RecordPage* put(std::unique_ptr<RecordPage> page) {
    std::unique_ptr<RecordPage>& slot = table_[page->number];
    assert(!slot);
    slot = std::move(page);
    return slot.get();
  }
  // Hands the page out of the table (it leaves, but lives on with its new owner).
  std::unique_ptr<RecordPage> release(RecordPage* page) {
    ++destroyed_;
    std::unique_ptr<RecordPage> owned = std::move(*table_.find(page->number));
    return owned;
  }
  void destroy(RecordPage* page) {
    ++destroyed_;
    table_.reset(page->number);
  }
  // Gives `page` the number `to`, keeping the object. REQUIRES: no page is held under `to`.
  void renumber(RecordPage* page, int32_t to) {
    std::unique_ptr<RecordPage> owned = std::move(*table_.find(page->number));
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
  PageNumberTable<std::unique_ptr<RecordPage>> table_;
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
