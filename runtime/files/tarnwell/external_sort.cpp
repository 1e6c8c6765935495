#include "runtime/files/tarnwell/external_sort.hpp"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>

#include "runtime/files/tarnwell/byte_order.hpp"

namespace vtn::tarnwell {
namespace {

constexpr size_t kReadBuffer = 16'384;

// The first eight bytes of an item of `size` bytes as one big-endian number, zero-padded.
uint64_t head_of(const uint8_t* item, size_t size) {
  if (size >= 8) return load_be64(item);
  uint64_t head = 0;
  for (size_t b = 0; b < 8; ++b) head = head << 8 | (b < size ? item[b] : 0);
  return head;
}

// Byte order of two items of n bytes, eight bytes at a time: key values differ early.
int compare_items(const uint8_t* a, const uint8_t* b, size_t n) {
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    const uint64_t x = load_be64(a), y = load_be64(b);
    if (x != y) return x < y ? -1 : 1;
  }
  if (n >= 4) {  // a record number after the value
    const uint32_t x = load_be32(a), y = load_be32(b);
    if (x != y) return x < y ? -1 : 1;
    a += 4, b += 4, n -= 4;
  }
  for (; n != 0; ++a, ++b, --n)
    if (*a != *b) return *a < *b ? -1 : 1;
  return 0;
}

std::string temporary_directory() {
  const char* dir = getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

}  // namespace

ExternalSorter::ExternalSorter(size_t item_size, size_t heap_bytes, size_t run_store_memory)
    : item_size_(item_size),
      heap_items_(std::max<size_t>(1, heap_bytes / item_size)),
      store_memory_(run_store_memory) {
  assert(item_size > 0);
}

ExternalSorter::~ExternalSorter() {
  if (temp_.is_open()) {
    temp_.close();
    platform::delete_file(temp_path_);
  }
}

bool ExternalSorter::add(std::span<const uint8_t> item) {
  assert(item.size() == item_size_ && !finished_);
  if (items_.empty()) items_.reserve(heap_items_ * item_size_);
  items_.insert(items_.end(), item.begin(), item.end());
  if (items_.size() / item_size_ >= heap_items_) return write_run();
  return true;
}

// The bytes every item begins with (key values often share a long prefix) decide nothing; the
// eight after them, read as one big-endian number (the head), put most items in order through a
// radix sort, and only items that agree there compare their remaining bytes. Equal items keep the
// order in which they came.
void ExternalSorter::sort_memory() {
  const size_t n = items_.size() / item_size_;
  const uint8_t* base = items_.data();
  const size_t size = item_size_;
  size_t common = n == 0 ? 0 : size;
  for (size_t i = 1; i < n && common != 0; ++i) {
    const uint8_t* item = base + i * size;
    common = static_cast<size_t>(std::mismatch(base, base + common, item).first - base);
  }
  if (n != 0) {  // the prefix that every run written so far shares
    if (first_item_.empty()) {
      first_item_.assign(base, base + size);
      merge_skip_ = common;
    }
    const size_t shared =
        static_cast<size_t>(std::mismatch(base, base + common, first_item_.data()).first - base);
    merge_skip_ = std::min(merge_skip_, shared);
  }
  const size_t rest = size - common;  // bytes after the common prefix
  const size_t head_bytes = std::min<size_t>(rest, 8);
  order_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* item = base + i * size + common;
    order_[i] = {head_of(item, head_bytes), static_cast<uint32_t>(i)};
  }
  sort_by_head();
  // Items of one head are in the order they came; those that differ after it are put in order.
  const size_t tail = common + head_bytes;  // where the bytes the head leaves out begin
  if (tail == size) return;
  auto by_tail = [base, size, tail](const SortSlot& a, const SortSlot& b) {
    const int d = compare_items(base + size_t{a.index} * size + tail,
                                base + size_t{b.index} * size + tail, size - tail);
    return d != 0 ? d < 0 : a.index < b.index;
  };
  for (size_t from = 0; from < n;) {
    size_t to = from + 1;
    while (to < n && order_[to].head == order_[from].head) ++to;
    if (to - from > 1) std::sort(order_.begin() + from, order_.begin() + to, by_tail);
    from = to;
  }
}

// A stable radix sort of the slots by their heads, a byte at a time from the lowest, with the
// counts of all eight bytes taken in one pass; a byte that every head shares is skipped.
void ExternalSorter::sort_by_head() {
  const size_t n = order_.size();
  if (n < 2) return;
  scratch_.resize(n);
  std::array<std::array<uint32_t, 256>, 8> counts{};
  for (const SortSlot& slot : order_)
    for (int b = 0; b < 8; ++b) ++counts[b][(slot.head >> (8 * b)) & 0xFF];
  for (int b = 0; b < 8; ++b) {
    std::array<uint32_t, 256>& count = counts[b];
    const int shift = 8 * b;
    if (count[(order_[0].head >> shift) & 0xFF] == n) continue;
    uint32_t at = 0;
    for (uint32_t& c : count) {
      const uint32_t here = c;
      c = at;
      at += here;
    }
    for (const SortSlot& slot : order_) scratch_[count[(slot.head >> shift) & 0xFF]++] = slot;
    order_.swap(scratch_);
  }
}

bool ExternalSorter::write_run() {
  if (items_.empty()) return true;
  sort_memory();
  run_offsets_.push_back(store_size_);
  for (const SortSlot& slot : order_) {
    const uint8_t* item = items_.data() + size_t{slot.index} * item_size_;
    // Most items join the temporary file's buffer without filling it.
    if (temp_.is_open() && pending_.size() + item_size_ < store_memory_) {
      const size_t at = pending_.size();
      pending_.resize(at + item_size_);
      std::memcpy(pending_.data() + at, item, item_size_);
      store_size_ += item_size_;
      continue;
    }
    if (!append_to_store({item, item_size_})) return false;
  }
  items_.clear();
  order_.clear();
  return true;
}

bool ExternalSorter::append_to_store(std::span<const uint8_t> bytes) {
  store_size_ += bytes.size();
  if (!temp_.is_open()) {
    store_.insert(store_.end(), bytes.begin(), bytes.end());
    if (store_.size() <= store_memory_) return true;
    // The store outgrows its memory: it moves to a temporary file.
    std::string pattern = temporary_directory() + "/vtn_build_XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return !(failed_ = true);
    ::close(fd);
    temp_path_ = pattern;
    platform::FileOpenMode mode;
    mode.access = platform::FileAccess::kReadWrite;
    mode.sharing = platform::FileSharing::kExclusive;
    mode.disposition = platform::FileDisposition::kCreateAnew;
    if (!temp_.open(temp_path_, mode)) {
      ::unlink(temp_path_.c_str());
      return !(failed_ = true);
    }
    pending_ = std::move(store_);
    store_.clear();
    return pending_.size() < store_memory_ || flush_store_buffer();
  }
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  return pending_.size() < store_memory_ || flush_store_buffer();
}

bool ExternalSorter::flush_store_buffer() {
  if (pending_.empty()) return true;
  size_t written = 0;
  if (!temp_.write_at(file_size_, pending_, written) || written != pending_.size())
    return !(failed_ = true);
  file_size_ += written;
  pending_.clear();
  return true;
}

bool ExternalSorter::finish() {
  assert(!finished_);
  finished_ = true;
  if (run_offsets_.empty()) {
    sort_memory();  // everything fits in memory: no merge
    return true;
  }
  if (!write_run() || !flush_store_buffer()) return false;
  merging_ = true;
  const size_t runs = run_offsets_.size();
  const size_t per_run = std::max(item_size_, (kReadBuffer / runs) / item_size_ * item_size_);
  cursors_.resize(runs);
  for (size_t r = 0; r < runs; ++r) {
    Cursor& c = cursors_[r];
    c.position = run_offsets_[r];
    c.end = r + 1 < runs ? run_offsets_[r + 1] : store_size_;
    c.buffer.reserve(per_run);
    if (!fill(c)) return false;
    if (c.buffer.empty()) continue;
    take_head(c);
    heap_.push_back(static_cast<uint32_t>(r));
  }
  std::make_heap(heap_.begin(), heap_.end(),
                 [this](uint32_t a, uint32_t b) { return cursor_greater(a, b); });
  return true;
}

void ExternalSorter::take_head(Cursor& c) const {
  c.head = head_of(c.buffer.data() + c.at + merge_skip_, item_size_ - merge_skip_);
}

// Equal items: the earlier run first, so that equal items keep the order in which they came.
// Every item begins with the same merge_skip_ bytes; the heads after them decide most
// comparisons.
bool ExternalSorter::cursor_greater(uint32_t a, uint32_t b) const {
  const Cursor &x = cursors_[a], &y = cursors_[b];
  if (x.head != y.head) return x.head > y.head;
  const size_t skip = std::min<size_t>(item_size_, merge_skip_ + 8);
  const int d = compare_items(x.buffer.data() + x.at + skip, y.buffer.data() + y.at + skip,
                              item_size_ - skip);
  return d != 0 ? d > 0 : a > b;
}

// The heap's top moved on (or was replaced by the last cursor): it sinks to its place.
void ExternalSorter::sift_down_top() {
  const size_t n = heap_.size();
  size_t at = 0;
  const uint32_t moving = heap_[0];
  for (;;) {
    size_t child = 2 * at + 1;
    if (child >= n) break;
    if (child + 1 < n && cursor_greater(heap_[child], heap_[child + 1])) ++child;
    if (!cursor_greater(moving, heap_[child])) break;
    heap_[at] = heap_[child];
    at = child;
  }
  heap_[at] = moving;
}

bool ExternalSorter::fill(Cursor& c) {
  c.at = 0;
  c.buffer.clear();
  if (c.position >= c.end) return true;
  const size_t want = std::min<uint64_t>(c.buffer.capacity(), c.end - c.position);
  c.buffer.resize(want);
  if (!temp_.is_open()) {
    std::memcpy(c.buffer.data(), store_.data() + c.position, want);
  } else {
    size_t got = 0;
    if (!temp_.read_at(c.position, c.buffer, got) || got != want) {
      c.buffer.clear();
      return !(failed_ = true);
    }
  }
  c.position += want;
  return true;
}

const uint8_t* ExternalSorter::next() {
  assert(finished_);
  if (failed_) return nullptr;
  if (!merging_) {
    if (memory_next_ >= order_.size()) return nullptr;
    return items_.data() + size_t{order_[memory_next_++].index} * item_size_;
  }
  // The heap's top was handed out last time: move its cursor on first.
  if (memory_next_ != 0) {
    Cursor& c = cursors_[heap_.front()];
    c.at += item_size_;
    if (c.at >= c.buffer.size() && !fill(c)) return nullptr;
    if (c.buffer.empty()) {  // the run is used up
      heap_.front() = heap_.back();
      heap_.pop_back();
    } else {
      take_head(c);
    }
    if (!heap_.empty()) sift_down_top();
  }
  if (heap_.empty()) return nullptr;
  memory_next_ = 1;
  const Cursor& top = cursors_[heap_.front()];
  return top.buffer.data() + top.at;
}

}  // namespace vtn::tarnwell
