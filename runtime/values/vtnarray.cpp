#include "runtime/values/vtnarray.hpp"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/core/fatal_error.hpp"

namespace vtn {
namespace {

constexpr int32_t kOutOfMemory = 501;
constexpr const char* kOutOfMemoryText = "Out of memory in VTNARRAY!";
constexpr int32_t kIndexOutOfRange = 409;

// After a step down the remaining entries must still fit.
constexpr bool thresholds_fit() {
  for (int c = 1; c < VTNARRAY::kClassCount; ++c) {
    if (VTNARRAY::kShrinkThreshold[c] > VTNARRAY::kCapacity[c - 1] + 1) return false;
    if (VTNARRAY::kCapacity[c] <= VTNARRAY::kCapacity[c - 1]) return false;
  }
  return true;
}
static_assert(thresholds_fit());

}  // namespace

VTNARRAY::VTNARRAY(VTNARRAY&& other) noexcept
    : size_class_(std::exchange(other.size_class_, 0)),
      count_(std::exchange(other.count_, 0)),
      entries_(std::exchange(other.entries_, nullptr)) {}

VTNARRAY& VTNARRAY::operator=(VTNARRAY&& other) noexcept {
  if (this != &other) {
    clear();
    size_class_ = std::exchange(other.size_class_, 0);
    count_ = std::exchange(other.count_, 0);
    entries_ = std::exchange(other.entries_, nullptr);
  }
  return *this;
}

VTNARRAY::~VTNARRAY() {
  std::free(entries_);
}

void VTNARRAY::clear() {
  std::free(entries_);
  entries_ = nullptr;
  count_ = 0;
  size_class_ = 0;
}

void VTNARRAY::reallocate(uint8_t size_class) {
  const size_t capacity = kCapacity[size_class];
  if (capacity == 0) {
    std::free(entries_);
    entries_ = nullptr;
  } else {
    void* moved = std::realloc(entries_, capacity * sizeof(Entry));
    if (moved == nullptr) {
      fatal_runtime_error(kOutOfMemory, kOutOfMemoryText);
      return;  // only after the program procedure has returned: keep the old block
    }
    entries_ = static_cast<Entry*>(moved);
  }
  size_class_ = size_class;
}

void VTNARRAY::grow_if_full() {
  if (count_ < capacity()) return;
  if (size_class_ + 1 >= kClassCount) {
    // The last class is full: there is no larger block to be had.
    fatal_runtime_error(kOutOfMemory, kOutOfMemoryText);
    return;
  }
  reallocate(static_cast<uint8_t>(size_class_ + 1));
}

void VTNARRAY::append(Entry entry) {
  grow_if_full();
  if (count_ >= capacity()) return;
  entries_[count_++] = entry;
}

void VTNARRAY::insert(uint32_t index, Entry entry) {
  if (index > count_) {
    fatal_runtime_error(kIndexOutOfRange);
    return;
  }
  grow_if_full();
  if (count_ >= capacity()) return;
  std::memmove(entries_ + index + 1, entries_ + index, (count_ - index) * sizeof(Entry));
  entries_[index] = entry;
  ++count_;
}

void VTNARRAY::remove(uint32_t index) {
  if (index >= count_) {
    fatal_runtime_error(kIndexOutOfRange);
    return;
  }
  std::memmove(entries_ + index, entries_ + index + 1, (count_ - index - 1) * sizeof(Entry));
  const bool shrink = count_ <= kShrinkThreshold[size_class_];
  --count_;
  if (shrink) reallocate(static_cast<uint8_t>(size_class_ - 1));
}

}  // namespace vtn
