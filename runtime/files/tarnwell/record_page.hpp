// RecordPage: one page of the record tree, decoded, as the page cache holds it.
//
// The records of a page are kept packed, in key order (PackedPage, page_image.hpp): a page holds
// at most a few hundred records, so binary search finds a key in a handful of comparisons and an
// insertion moves a few hundred 8-byte slots, with nothing to allocate per record. The
// capacity of the page image (13, + 4 per record of an index page, + length + 5 per record) is
// kept up to date with every change: it decides when a page splits.
//
// Invariants: records strictly increase by key part; an index page has one child per record;
// capacity == page_capacity(contents).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/files/tarnwell/page_image.hpp"

namespace vtn::tarnwell {

// A page splits when its capacity exceeds this, ...
inline constexpr size_t kSplitCapacity = 15094;
// ... or exceeds this while it holds more than kSplitRecordCount records.
inline constexpr size_t kSplitCapacityManyRecords = 4096;
inline constexpr size_t kSplitRecordCount = 20;

// What a search and the cache's and reserve's bookkeeping touch comes first, within two cache
// lines: a random search over a large file finds most pages outside the processor's caches, and
// each further line of a page is another wait for memory.
struct alignas(64) RecordPage {
  int32_t number = 0;
  bool dirty = false;

  // Page cache and reserve bookkeeping (page_cache.hpp, page_reserve.hpp).
  bool pinned = false;
  bool in_ring = false;      // in the cache's ring: released, clean, counted as cached
  bool spare = false;        // kept by the reserve: let go by the cache, not counted as cached
  uint32_t pinned_slot = 0;  // its place in the cache's list of pinned pages, while pinned
  uint32_t dirty_slot = 0;   // ...and in its list of dirty pages, while dirty
  uint64_t loaded_at = 0;
  uint64_t last_use = 0;
  RecordPage* ring_prev = nullptr;  // in the cache's ring
  RecordPage* ring_next = nullptr;
  size_t reserve_bytes = 0;  // its footprint while a PageReserve keeps it

  PackedPage contents;
  size_t capacity = kPageHeaderSize;
  int unit_size = 0;           // units of its place in the file; 0 while it has none
  std::vector<uint8_t> image;  // the encoded image during a flush

  size_t size() const { return contents.records.size(); }
  bool empty() const { return contents.records.empty(); }
  bool is_index() const { return contents.is_index(); }
  uint8_t level() const { return contents.level; }
  std::span<const uint8_t> key(size_t i) const { return contents.records.key(i); }
  RecordRef record(size_t i) const { return contents.records[i]; }
  std::span<const uint8_t> first_key() const { return key(0); }

  // Recomputes the capacity after the contents were replaced wholesale.
  void recount() { capacity = page_capacity(contents); }

  // The first record whose key is >= `key` (size() when none).
  size_t lower_bound(std::span<const uint8_t> key) const;
  // The first record whose key is > `key` (size() when none).
  size_t upper_bound(std::span<const uint8_t> key) const;
  // The record an index search follows: the last whose key is <= `key`, or the first when `key`
  // sorts before every record. REQUIRES: !empty().
  size_t child_slot(std::span<const uint8_t> key) const;

  // REQUIRES: the order stays strict; `child` only on an index page; the bytes are not this
  // page's own.
  void insert(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data,
              int32_t child = 0) {
    capacity += record_capacity(key.size() + data.size());
    contents.records.insert(at, key, data);
    if (is_index()) {
      contents.children.insert(contents.children.begin() + static_cast<ptrdiff_t>(at), child);
    }
  }
  void erase(size_t at);
  // Removes records [from, to) of a leaf.
  void erase_leaf_records(size_t from, size_t to);
  // Replaces the bytes of record `at` (same key part, or a new key that keeps the order).
  void replace(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data);

  // Whether the page must be split (see the limits above).
  bool needs_split() const {
    return capacity > kSplitCapacity ||
           (capacity > kSplitCapacityManyRecords && size() > kSplitRecordCount);
  }

  // Moves records [from, size()) (and their children) to the end of `to`.
  void move_tail_to(size_t from, RecordPage& to);

  size_t record_capacity(size_t length) const { return length + 5 + (is_index() ? 4 : 0); }
};

// One page of a path from the root down, and the slot taken in it: in an index page the record
// whose child the path follows, in a leaf the record position reached.
struct TreeStep {
  RecordPage* page = nullptr;
  size_t slot = 0;
};

}  // namespace vtn::tarnwell
