// PageNumberTable: something per page number, found by indexing rather than hashing.
//
// The pages of a file are numbered densely from 0 (a page's number is its offset in 256-byte
// units), so the pages a process holds are found by indexing: a small directory of blocks of
// 1,024 entries, each block made when a number in it is first stored. A lookup is two indexed
// loads where a hash table needs a hash and two or three dependent loads, and a file of any size
// costs only the blocks of the numbers it used. Pages created in memory and not yet placed carry
// negative numbers, given out densely downwards from -1: they are found the same way in blocks of
// their own, indexed by -1 - number, which are let go once all their entries are empty again.
//
// Looking up any number, however large (a damaged child reference), stores nothing.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace vtn::tarnwell {

template <typename T>
class PageNumberTable {
 public:
  // The entry of `number`; nullptr when none was ever made.
  T* find(int32_t number) {
    const Directory& blocks = number < 0 ? temporary_ : blocks_;
    const size_t n = index_of(number);
    const size_t b = n / kBlock;
    if (b >= blocks.size() || !blocks[b]) return nullptr;
    return &(*blocks[b])[n % kBlock];
  }
  // The entry of `number`, made (value-initialised) when missing.
  T& operator[](int32_t number) {
    Directory& blocks = number < 0 ? temporary_ : blocks_;
    const size_t n = index_of(number);
    const size_t b = n / kBlock;
    if (b >= blocks.size()) blocks.resize(b + 1);
    if (!blocks[b]) blocks[b] = std::make_unique<Block>();
    return (*blocks[b])[n % kBlock];
  }
  // Resets the entry of `number`.
  void reset(int32_t number) {
    if (T* entry = find(number)) *entry = T{};
  }
  // Lets go the blocks of negative numbers whose entries are all empty (T{}).
  void drop_empty_temporary_blocks() {
    for (std::unique_ptr<Block>& block : temporary_) {
      if (block && std::all_of(block->begin(), block->end(), [](const T& e) { return e == T{}; }))
        block.reset();
    }
    while (!temporary_.empty() && !temporary_.back()) temporary_.pop_back();
  }
  void clear() {
    blocks_.clear();
    temporary_.clear();
  }

 private:
  static constexpr size_t kBlock = 1024;
  using Block = std::array<T, kBlock>;
  using Directory = std::vector<std::unique_ptr<Block>>;

  static size_t index_of(int32_t number) {
    return number < 0 ? static_cast<size_t>(-1 - static_cast<int64_t>(number))
                      : static_cast<size_t>(number);
  }

  Directory blocks_;
  Directory temporary_;
};

}  // namespace vtn::tarnwell
