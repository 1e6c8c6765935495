// PodBuffer: a growable array of trivially copyable values that leaves what it adds unset.
//
// The records of a page (page_records.hpp) live in two such arrays, the record bytes and the
// slots, which grow by values that are written right after: an insert at the end is a store and
// an increment, growing is a realloc, and nothing is zeroed first. Like std::vector otherwise,
// with indexes where the vector has iterators.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace vtn::tarnwell {

template <typename T>
class PodBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodBuffer() = default;
  ~PodBuffer() { std::free(data_); }
  PodBuffer(const PodBuffer& other) { *this = other; }
  PodBuffer& operator=(const PodBuffer& other) {
    if (this != &other) {
      size_ = 0;
      reserve(other.size_);
      if (other.size_ != 0) std::memcpy(data_, other.data_, other.size_ * sizeof(T));
      size_ = other.size_;
    }
    return *this;
  }
  PodBuffer(PodBuffer&& other) noexcept { swap(other); }
  PodBuffer& operator=(PodBuffer&& other) noexcept {
    swap(other);
    other.clear();
    return *this;
  }
  void swap(PodBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  void reserve(size_t n) {
    if (n > capacity_) reallocate(n);
  }
  // New values are unset.
  void resize(size_t n) {
    reserve(n);
    size_ = n;
  }
  void push_back(const T& value) {
    if (size_ == capacity_) reallocate(std::max<size_t>(16, 2 * capacity_));
    data_[size_++] = value;
  }
  void insert(size_t at, const T& value) {
    if (size_ == capacity_) reallocate(std::max<size_t>(16, 2 * capacity_));
    std::memmove(data_ + at + 1, data_ + at, (size_ - at) * sizeof(T));
    data_[at] = value;
    ++size_;
  }
  // Removes [from, to).
  void erase(size_t from, size_t to) {
    if (to != size_) std::memmove(data_ + from, data_ + to, (size_ - to) * sizeof(T));
    size_ -= to - from;
  }
  void clear() { size_ = 0; }

 private:
  [[gnu::noinline]] void reallocate(size_t n) {
    T* grown = static_cast<T*>(std::realloc(data_, n * sizeof(T)));
    if (grown == nullptr) throw std::bad_alloc();
    data_ = grown;
    capacity_ = n;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace vtn::tarnwell
