// PageNumberTable: something per page number, found by indexing rather than hashing.
//
// The pages of a file are numbered densely from 0 (a page's number is its offset in 256-byte
// units), so the pages a process holds are found by indexing: a small directory of blocks of
// 1,024 entries, each block made when a number in it is first stored. A lookup is two indexed
// loads where a hash table needs a hash and two or three dependent loads, and a file of any size
// costs only the blocks of the numbers it used. Pages created in memory and not yet placed carry
// negative numbers; those few live in a hash table beside it.
//
// Looking up any number, however large (a damaged child reference), stores nothing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace vtn::tarnwell {

template <typename T>
class PageNumberTable {
 public:
  // The entry of `number`; nullptr when none was ever made.
  T* find(int32_t number) {
    if (number < 0) {
      const auto it = temporary_.find(number);
      return it == temporary_.end() ? nullptr : &it->second;
    }
    const auto n = static_cast<size_t>(number);
    const size_t b = n / kBlock;
    if (b >= blocks_.size() || !blocks_[b]) return nullptr;
    return &(*blocks_[b])[n % kBlock];
  }
  // The entry of `number`, made (value-initialised) when missing.
  T& operator[](int32_t number) {
    if (number < 0) return temporary_[number];
    const auto n = static_cast<size_t>(number);
    const size_t b = n / kBlock;
    if (b >= blocks_.size()) blocks_.resize(b + 1);
    if (!blocks_[b]) blocks_[b] = std::make_unique<Block>();
    return (*blocks_[b])[n % kBlock];
  }
  // Resets the entry of `number` (a temporary number's entry goes altogether).
  void reset(int32_t number) {
    if (number < 0) {
      temporary_.erase(number);
    } else if (T* entry = find(number)) {
      *entry = T{};
    }
  }
  void clear() {
    blocks_.clear();
    temporary_.clear();
  }

 private:
  static constexpr size_t kBlock = 1024;
  using Block = std::array<T, kBlock>;
  std::vector<std::unique_ptr<Block>> blocks_;
  std::unordered_map<int32_t, T> temporary_;
};

}  // namespace vtn::tarnwell
