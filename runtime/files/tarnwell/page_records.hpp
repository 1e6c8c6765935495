// PageRecords: the records of one page, packed into one buffer.
//
//   bytes_   [record 7][record 2][unused][record 5] ...   in the order they were added
//   slots_   {head, offset, length, key length}, one per record, in key order
//   prefix_  the bytes every key of the page begins with (at most kMaxPrefix of them)
//
// A page read from the file is decoded with two allocations (buffer and slots) instead of one per
// record, its records lie next to each other in memory, and what it occupies is known without
// walking it. Finding record i is an index into the slots. Adding a record appends its bytes to
// the buffer and moves the slots after it (16 bytes each); removing or replacing one leaves its
// old bytes unused, and the buffer is compacted when the unused bytes outgrow the live ones.
//
// Searching by key reads the slots alone: each slot carries its key's head, the eight bytes after
// the page's common prefix as a big-endian number (zero-padded), so that keys whose heads differ
// order as their heads do. Only keys with equal heads are compared byte by byte, and a search for
// a key that lies in the page touches the bytes of one or two records, not of every record the
// binary search passes (on a large file each of those is another wait for memory). The common
// prefix only shrinks while records come and go (a key that shares less of it re-reads every
// head once); a page that starts over (decoded, emptied) takes it anew.
//
// Invariants: every slot lies inside the buffer; live_bytes() is the sum of the slots' lengths;
// unused bytes == bytes_.size() - live_bytes(); every key begins with prefix_ (prefix_length_
// bytes, no longer than any key) and slot i's head is head_of(key(i)), except while heads_stale_
// (records appended uninitialised since), which the next search or change mends first.
//
// Views (RecordRef) point into the buffer: they stay valid until the next change of these records.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "runtime/files/tarnwell/pod_buffer.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

class PageRecords {
 public:
  size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }

  RecordRef operator[](size_t i) const {
    const Slot& s = slots_[i];
    return {std::span(bytes_.data() + s.offset, s.length), s.key_length};
  }
  std::span<const uint8_t> key(size_t i) const {
    const Slot& s = slots_[i];
    return {bytes_.data() + s.offset, s.key_length};
  }

  // REQUIRES: key.size() + data.size() <= 0xFFFF; neither points into these records.
  void insert(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data);
  void append(RecordRef r) { insert(size(), r.key(), r.data()); }
  void replace(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data);
  void erase(size_t at);
  // Removes records [from, to).
  void erase_range(size_t from, size_t to);
  // Keeps the first `count` records.
  void truncate(size_t count);
  // Moves records [from, size()) to the end of `to`, in one pass: their bytes are copied next to
  // each other, their slots appended. All of them (into an empty `to`) move without a copy.
  // Returns the bytes moved. REQUIRES: they sort after every record of `to`.
  size_t move_tail_to(size_t from, PageRecords& to);
  void clear();

  // Appends a record of `length` bytes whose contents the caller writes through the pointer
  // (valid until the next change), for decoders that build a record from the one before it.
  uint8_t* append_uninitialised(uint16_t length, uint16_t key_length);
  void reserve(size_t records, size_t bytes);

  // Bytes of all records (key and data parts).
  size_t live_bytes() const { return live_; }
  // Heap bytes held by the buffer and the slot table.
  size_t memory() const { return bytes_.capacity() + slots_.capacity() * sizeof(Slot); }

  // The first record whose key is >= `key` (size() when none).
  size_t lower_bound(std::span<const uint8_t> key) const { return search(key, false); }
  // The first record whose key is > `key` (size() when none).
  size_t upper_bound(std::span<const uint8_t> key) const { return search(key, true); }

  // Reads the key heads of records appended uninitialised now, while their bytes are at hand
  // (else the first search or change does).
  void index_keys() const {
    if (heads_stale_) index_heads();
  }

  bool operator==(const PageRecords& other) const;

  // The longest common prefix kept; keys sharing more are told apart by the bytes after it.
  static constexpr size_t kMaxPrefix = 16;

 private:
  struct Slot {
    uint64_t head;  // head_of(key)
    uint32_t offset;
    uint16_t length;
    uint16_t key_length;
  };
  // Makes room for `extra` more bytes and `records` more slots: a page that starts to fill gets
  // room for a page's worth at once rather than growing a record at a time.
  void grow(size_t extra, size_t records);
  // Appends the record's bytes to the buffer (compacting it first when worthwhile); its offset.
  uint32_t store(std::span<const uint8_t> key, std::span<const uint8_t> data);
  void compact(size_t extra);

  // The eight bytes of `key` after the common prefix, big-endian, zero-padded.
  uint64_t head_of(std::span<const uint8_t> key) const;
  // Whether `key` begins with the common prefix.
  bool shares_prefix(std::span<const uint8_t> key) const;
  // Shortens the common prefix to what `key` shares of it (re-reading every head when it does);
  // on an empty page, takes it from `key`.
  void share_prefix_with(std::span<const uint8_t> key);
  void retake_prefix(std::span<const uint8_t> key);  // ...when it does not share all of it
  // Takes the common prefix from the first and last keys and reads every head anew.
  void index_heads() const;
  size_t search(std::span<const uint8_t> key, bool after) const;

  // What a search reads comes first, so that it shares a cache line with the page's own fields.
  // The heads and the prefix are a derived index over the records: a search of a freshly decoded
  // page builds it (hence mutable).
  mutable PodBuffer<Slot> slots_;
  mutable std::array<uint8_t, kMaxPrefix> prefix_{};
  mutable uint8_t prefix_length_ = 0;
  mutable bool heads_stale_ = false;
  PodBuffer<uint8_t> bytes_;
  size_t live_ = 0;
};

}  // namespace vtn::tarnwell
