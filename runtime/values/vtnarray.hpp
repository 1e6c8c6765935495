// VTNARRAY: the run-time's growable array of pointer-sized entries, used by its containers.
//
// The capacity moves through fixed size classes (0, 2, 4, 8, ..., 100,000,000 entries) rather than
// doubling freely, and steps down one class when a removal finds the count at or below the class's
// shrink threshold, so that a container that grows and shrinks around a boundary does not
// reallocate on every call. When memory cannot be had (or the last class is full) the program ends
// with the fatal run-time error 501, "Out of memory in VTNARRAY!".
#pragma once

#include <array>
#include <cstdint>

namespace vtn {

class VTNARRAY {
 public:
  using Entry = void*;

  static constexpr int kClassCount = 38;
  // Capacity of each size class, in entries.
  static constexpr std::array<uint32_t, kClassCount> kCapacity = {
      0,        2,        4,        8,        16,       32,       64,       128,
      256,      1024,     2048,     4096,     8192,     16000,    32000,    65000,
      130000,   250000,   500000,   1000000,  2000000,  3000000,  4000000,  5000000,
      6000000,  7000000,  8000000,  9000000,  10000000, 20000000, 30000000, 40000000,
      50000000, 60000000, 70000000, 80000000, 90000000, 100000000};
  // A class steps down by one when a removal finds the count (before the removal) at or below
  // its threshold.
  static constexpr std::array<uint32_t, kClassCount> kShrinkThreshold = {
      0,        0,        0,        0,        0,        0,       0,        48,
      96,       192,      640,      1536,     3072,     6144,    14000,    28000,
      55000,    120000,   200000,   400000,   800000,   1600000, 2400000,  3600000,
      4500000,  5500000,  6500000,  7500000,  8500000,  9500000, 19000000, 29000000,
      39000000, 49000000, 59000000, 69000000, 79000000, 89000000};

  VTNARRAY() = default;
  VTNARRAY(const VTNARRAY&) = delete;
  VTNARRAY& operator=(const VTNARRAY&) = delete;
  VTNARRAY(VTNARRAY&& other) noexcept;
  VTNARRAY& operator=(VTNARRAY&& other) noexcept;
  ~VTNARRAY();

  uint32_t count() const { return count_; }
  uint8_t size_class() const { return size_class_; }
  uint32_t capacity() const { return kCapacity[size_class_]; }

  // REQUIRES: index < count().
  Entry operator[](uint32_t index) const { return entries_[index]; }
  Entry& operator[](uint32_t index) { return entries_[index]; }
  Entry* begin() { return entries_; }
  Entry* end() { return entries_ + count_; }
  const Entry* begin() const { return entries_; }
  const Entry* end() const { return entries_ + count_; }

  // Frees the entries and goes back to class 0.
  void clear();
  void append(Entry entry);
  // Entries from `index` on move up by one. An index beyond count() ends the program with the
  // fatal error "Index out of range".
  void insert(uint32_t index, Entry entry);
  // Entries after `index` move down by one. An index at or beyond count() ends the program with
  // the fatal error "Index out of range".
  void remove(uint32_t index);

 private:
  void grow_if_full();
  void reallocate(uint8_t size_class);

  uint8_t size_class_ = 0;
  uint32_t count_ = 0;
  Entry* entries_ = nullptr;
};

}  // namespace vtn
