// PageRecords: the records of one page, packed into one buffer.
//
//   bytes_   [record 7][record 2][unused][record 5] ...   in the order they were added
//   slots_   {offset, length, key length}, one per record, in key order
//
// A page read from the file is decoded with two allocations (buffer and slots) instead of one per
// record, its records lie next to each other in memory, and what it occupies is known without
// walking it. Finding record i is an index into the slots. Adding a record appends its bytes to
// the buffer and moves the slots after it (8 bytes each); removing or replacing one leaves its old
// bytes unused, and the buffer is compacted when the unused bytes outgrow the live ones.
//
// Invariants: every slot lies inside the buffer; live_bytes() is the sum of the slots' lengths;
// unused bytes == bytes_.size() - live_bytes().
//
// Views (RecordRef) point into the buffer: they stay valid until the next change of these records.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

// An allocator whose resize() leaves the new elements unset: a record buffer grows only by bytes
// that are written right after.
template <typename T>
struct NoFillAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = NoFillAllocator<U>;
  };
  NoFillAllocator() = default;
  template <typename U>
  NoFillAllocator(const NoFillAllocator<U>&) {}
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
};

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

  bool operator==(const PageRecords& other) const;

 private:
  struct Slot {
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

  using Bytes = std::vector<uint8_t, NoFillAllocator<uint8_t>>;

  Bytes bytes_;
  std::vector<Slot> slots_;
  size_t live_ = 0;
};

}  // namespace vtn::tarnwell
