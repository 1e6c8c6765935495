// The external merge sort of a key build: fixed-size items, compared byte by byte.
//
// Items gather in memory until they amount to the heap limit (1,000,000 bytes); they are then
// written out in order as one run. Runs go to a run store that keeps up to 16,384 bytes in memory
// and, once it grows beyond that, moves to a temporary file, written through a 16,384-byte
// buffer. finish() merges the runs through a heap of their current items; a sort that never
// filled its heap merges nothing and hands out its items straight from memory.
//
// A failure of the temporary file (a full disk, no temporary directory) makes add() or finish()
// return false; platform::last_error() then says why, and the build reports it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "runtime/platform/file_handle.hpp"

namespace vtn::tarnwell {

class ExternalSorter {
 public:
  static constexpr size_t kHeapBytes = 1'000'000;
  static constexpr size_t kRunStoreMemory = 16'384;

  // REQUIRES: item_size > 0.
  explicit ExternalSorter(size_t item_size, size_t heap_bytes = kHeapBytes,
                          size_t run_store_memory = kRunStoreMemory);
  ~ExternalSorter();
  ExternalSorter(const ExternalSorter&) = delete;
  ExternalSorter& operator=(const ExternalSorter&) = delete;

  // REQUIRES: item.size() == item_size, and finish() not yet called.
  bool add(std::span<const uint8_t> item);
  bool finish();
  // The next item in order, or null after the last (or after a read failure: failed() then).
  const uint8_t* next();

  bool failed() const { return failed_; }
  size_t runs() const { return run_offsets_.size(); }
  bool spilled_to_file() const { return temp_.is_open(); }

 private:
  struct Cursor {
    uint64_t position, end;
    std::vector<uint8_t> buffer;
    size_t at = 0;
    uint64_t head = 0;  // the current item's head (see merge_skip_)
  };

  bool write_run();
  bool append_to_store(std::span<const uint8_t> bytes);
  bool flush_store_buffer();
  bool fill(Cursor& c);
  void sort_memory();
  void sort_by_head();
  bool cursor_greater(uint32_t a, uint32_t b) const;
  void take_head(Cursor& c) const;
  void sift_down_top();

  size_t item_size_;
  size_t heap_items_;
  size_t store_memory_;
  // An item in memory: its first eight bytes as a number (zero-padded), and where it lies.
  struct SortSlot {
    uint64_t head;
    uint32_t index;
  };
  std::vector<uint8_t> items_;
  std::vector<SortSlot> order_;
  std::vector<SortSlot> scratch_;  // the other half of the radix sort
  size_t memory_next_ = 0;

  // Run store: the bytes of every run, in memory while small, else in the temporary file (with
  // `pending_` waiting to be written at `file_size_`).
  std::vector<uint8_t> store_;
  std::vector<uint8_t> pending_;
  uint64_t file_size_ = 0;
  platform::FileHandle temp_;
  std::string temp_path_;
  std::vector<uint64_t> run_offsets_;  // where each run begins in the store
  uint64_t store_size_ = 0;

  // The bytes every item of every run begins with, measured against the first run's first item
  // (`first_item_`): the merge compares from there on, eight bytes (the head) as one number first.
  size_t merge_skip_ = 0;
  std::vector<uint8_t> first_item_;

  std::vector<Cursor> cursors_;
  std::vector<uint32_t> heap_;  // cursor indices, smallest current item on top
  bool merging_ = false;
  bool finished_ = false;
  bool failed_ = false;
};

}  // namespace vtn::tarnwell
