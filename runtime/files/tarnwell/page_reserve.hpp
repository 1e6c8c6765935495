// PageReserve: decoded pages that the page cache has let go, kept for the next time they are
// asked for, so that a page read again costs neither a read nor a decoding.
//
// The page cache pins, trims and writes pages by its own rule (page_cache.hpp); that rule also
// bounds what a process holds of a file between operations. The reserve sits behind it: a clean
// page trimmed from the cache's ring becomes spare instead of being destroyed, and a page the cache
// does not hold is looked for among the spare ones before the file is read. The reserve is bounded
// in bytes (least recently let go leaves first) and is only ever as current as the cache itself:
//
// - it holds clean pages only, each number at most once, and never a number the cache holds:
//   every change to a page goes through the cache, which takes the page back first;
// - it is emptied with the cache, whenever the page store forgets its pages (another process
//   flushed: the header's change counter advanced; a flush failed; a rollback).
//
// The cache and its reserve hold their pages in one table (decoded_pages.hpp): a page the cache
// lets go stays where it is, marked spare, with its number and a stamp queued in the order of
// keeping; taking it back clears the mark. Nothing is allocated, moved or unlinked, and no other
// page is touched. A reserve on its own (no cache spilling into it) holds the pages handed to it
// in a table of its own.
//
// Besides its own bound, every reserve counts against a budget of the whole process, so that a
// program reading many large files at once holds no more than that budget in all its reserves: a
// reserve that would take the process over its budget lets its own oldest pages go first.
//
// The default bounds suit a desktop machine: a file of a million 160-byte records takes about
// 55 MB on disk and about 220 MB decoded, so 256 MiB keeps such a file whole once it has been
// read, and 512 MiB for the process leaves two of them, against the several gigabytes of memory a
// desktop has. A reserve holds only pages that were read, so small files cost what they are.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "runtime/files/tarnwell/decoded_pages.hpp"
#include "runtime/files/tarnwell/record_page.hpp"

namespace vtn::tarnwell {

// The bound of a reserve, in bytes, for every file opened from now on: 256 MiB, or the number of
// MiB in the environment variable VTN_TWL_RESERVE_MB (0 turns the reserve off).
size_t default_reserve_bytes();

// What the reserves that share it hold together, and their bound.
class ReserveBudget {
 public:
  explicit ReserveBudget(size_t limit_bytes) : limit_(limit_bytes) {}
  size_t limit() const { return limit_; }
  size_t used() const { return used_.load(std::memory_order_relaxed); }
  bool exceeded() const { return used() > limit_; }
  void add(size_t bytes) { used_.fetch_add(bytes, std::memory_order_relaxed); }
  void remove(size_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }

 private:
  const size_t limit_;
  std::atomic<size_t> used_{0};
};

// The budget of every reserve of the process: twice default_reserve_bytes().
ReserveBudget& process_reserve_budget();

class PageReserve {
 public:
  explicit PageReserve(size_t limit_bytes = default_reserve_bytes(),
                       ReserveBudget& budget = process_reserve_budget())
      : limit_(limit_bytes), budget_(budget) {}
  ~PageReserve() { budget_.remove(bytes_); }
  PageReserve(const PageReserve&) = delete;
  PageReserve& operator=(const PageReserve&) = delete;

  // Takes a clean, unpinned page; the least recently kept pages leave while the reserve is over
  // its bound (the page itself too, when it alone exceeds the bound). A page kept under the same
  // number before is replaced.
  void keep(std::unique_ptr<RecordPage> page);
  // The page with this number, taken out of the reserve; nullptr when it is not kept.
  std::unique_ptr<RecordPage> take(int32_t number);
  // Drops the page with this number, if kept.
  void forget(int32_t number);
  // Drops every kept page.
  void clear();

  size_t size() const { return count_; }
  size_t bytes() const { return bytes_; }
  size_t limit() const { return limit_; }

  // What a decoded page occupies in memory, roughly: the page, its children and its records.
  static size_t footprint(const RecordPage& page);

  // ---- for the cache that spills into this reserve (page_cache.hpp) ----

  // Keeps its pages in `pages`, the cache's table, from now on (nullptr: in its own again).
  // REQUIRES: nothing is kept.
  void share_table(DecodedPages* pages) { pages_ = pages != nullptr ? pages : &own_; }
  // The cache lets `page` go: it becomes spare where it lies in the shared table, or is destroyed
  // when the reserve cannot keep it. REQUIRES: clean, unpinned, in no ring, not spare.
  void keep(RecordPage* page);
  // A spare page asked for again: it stays in the table, no longer spare. REQUIRES: page->spare.
  void take_back(RecordPage* page) {
    page->spare = false;
    pages_->held(page->number)->kept = 0;
    count_out(*page);
  }

 private:
  void evict_oldest();
  void count_in(const RecordPage& page);
  void count_out(const RecordPage& page) {
    bytes_ -= page.reserve_bytes;
    budget_.remove(page.reserve_bytes);
    --count_;
  }

  size_t limit_;
  ReserveBudget& budget_;
  size_t bytes_ = 0;
  size_t count_ = 0;
  // Drops the entries of `order_` that no longer name a kept page, once they are three in four.
  void prune_order();

  DecodedPages own_;
  DecodedPages* pages_ = &own_;  // where the spare pages lie
  // The order of keeping, oldest first: (number, stamp), an entry whose stamp is no longer the
  // one its number is kept under being stale and skipped. A page taken back and kept again leaves
  // its old entry behind instead of being unlinked: unlinking a page from a ring writes to the
  // pages let go before and after it, on a large file two more waits for memory per page.
  struct Kept {
    int32_t number;
    uint64_t stamp;
  };
  std::deque<Kept> order_;
  uint64_t next_stamp_ = 0;
};

}  // namespace vtn::tarnwell
