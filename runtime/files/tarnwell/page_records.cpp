#include "runtime/files/tarnwell/page_records.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>

#include "runtime/files/tarnwell/byte_order.hpp"

namespace vtn::tarnwell {
namespace {
// Below this the unused bytes of a buffer are not worth a compaction.
constexpr size_t kCompactAbove = 4096;
// The room a buffer and a slot table get when they first fill: a leaf of short records splits
// at about 4 KiB and 100 records.
constexpr size_t kFirstBytes = 4096;
constexpr size_t kFirstSlots = 128;

// The low `n` bytes of a word loaded with load_le64 (its first n bytes in memory), 1 <= n <= 8.
inline uint64_t first_bytes_mask(size_t n) {
  return ~uint64_t{0} >> (64 - 8 * n);
}

// How many of the first `limit` bytes of a and b are equal.
size_t common_prefix(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t i = 0;
  for (; i + 8 <= limit; i += 8) {
    if (const uint64_t differ = load_le64(a + i) ^ load_le64(b + i)) {
      return i + static_cast<size_t>(std::countr_zero(differ)) / 8;
    }
  }
  for (; i < limit; ++i) {
    if (a[i] != b[i]) return i;
  }
  return limit;
}
}  // namespace

uint64_t PageRecords::head_of(std::span<const uint8_t> key) const {
  const size_t from = prefix_length_;
  if (key.size() <= from) return 0;  // (shorter only in a damaged page: any head will do)
  const size_t n = key.size() - from;
  if (n >= 8) return load_be64(key.data() + from);
  if (key.size() >= 8) return load_be64(key.data() + key.size() - 8) << (8 * (8 - n));
  uint64_t head = 0;
  for (size_t i = 0; i < n; ++i) head |= uint64_t{key[from + i]} << (56 - 8 * i);
  return head;
}

[[gnu::always_inline]] inline bool PageRecords::shares_prefix(std::span<const uint8_t> key) const {
  const size_t prefix = prefix_length_;
  if (key.size() < prefix) return false;
  if (prefix == 0) return true;
  if (prefix <= 8 && key.size() >= 8) {  // the usual key: one word
    return ((load_le64(key.data()) ^ load_le64(prefix_.data())) & first_bytes_mask(prefix)) == 0;
  }
  return common_prefix(key.data(), prefix_.data(), prefix) == prefix;
}

[[gnu::always_inline]] inline void PageRecords::share_prefix_with(std::span<const uint8_t> key) {
  if (!slots_.empty() && shares_prefix(key)) return;
  retake_prefix(key);
}

void PageRecords::retake_prefix(std::span<const uint8_t> key) {
  if (slots_.empty()) {
    prefix_length_ = static_cast<uint8_t>(std::min(key.size(), kMaxPrefix));
    if (prefix_length_ != 0) std::memcpy(prefix_.data(), key.data(), prefix_length_);
    return;
  }
  const size_t shared =
      common_prefix(key.data(), prefix_.data(), std::min<size_t>(prefix_length_, key.size()));
  if (shared == prefix_length_) return;
  prefix_length_ = static_cast<uint8_t>(shared);
  for (Slot& s : slots_) s.head = head_of({bytes_.data() + s.offset, s.key_length});
}

void PageRecords::index_heads() const {
  heads_stale_ = false;
  if (slots_.empty()) {
    prefix_length_ = 0;
    return;
  }
  const std::span<const uint8_t> first = key(0);
  const std::span<const uint8_t> last = key(slots_.size() - 1);
  prefix_length_ = static_cast<uint8_t>(
      common_prefix(first.data(), last.data(), std::min({first.size(), last.size(), kMaxPrefix})));
  if (prefix_length_ != 0) std::memcpy(prefix_.data(), first.data(), prefix_length_);
  for (Slot& s : slots_) s.head = head_of({bytes_.data() + s.offset, s.key_length});
}

size_t PageRecords::search(std::span<const uint8_t> key, bool after) const {
  index_keys();
  const size_t prefix = prefix_length_;
  if (prefix != 0 && !shares_prefix(key)) {
    // A key that does not begin with the common prefix lies before or after every record.
    const size_t m = std::min(key.size(), prefix);
    const size_t shared = common_prefix(key.data(), prefix_.data(), m);
    if (shared < m) return key[shared] < prefix_[shared] ? 0 : slots_.size();
    return 0;  // a prefix of every key
  }
  const uint64_t head = head_of(key);
  // Whether the record of `s` goes before the answer: a key < `key` (lower bound) or <= (upper).
  auto before = [&](const Slot& s) {
    if (s.head != head) return s.head < head;
    const int c = compare_keys({bytes_.data() + s.offset, s.key_length}, key);
    return after ? c <= 0 : c < 0;
  };
  // A binary search without a branch on its steps, each step prefetching the slots the next one
  // may read: on a large file the slots are mostly outside the processor's caches.
  const Slot* base = slots_.data();
  size_t n = slots_.size();
  if (n == 0) return 0;
  while (n > 1) {
    const size_t half = n / 2;
    __builtin_prefetch(base + half / 2);
    __builtin_prefetch(base + half + half / 2);
    base = before(base[half]) ? base + half : base;
    n -= half;
  }
  return static_cast<size_t>(base - slots_.data()) + (before(*base) ? 1 : 0);
}

void PageRecords::grow(size_t extra, size_t records) {
  if (bytes_.size() + extra > bytes_.capacity()) {
    bytes_.reserve(std::max({bytes_.size() + extra, 2 * bytes_.capacity(), kFirstBytes}));
  }
  if (slots_.size() + records > slots_.capacity()) {
    slots_.reserve(std::max({slots_.size() + records, 2 * slots_.capacity(), kFirstSlots}));
  }
}

void PageRecords::compact(size_t extra) {
  PodBuffer<uint8_t> packed;
  packed.reserve(live_ + extra + extra / 2);
  for (Slot& s : slots_) {
    const size_t at = packed.size();
    packed.resize(at + s.length);
    std::memcpy(packed.data() + at, bytes_.data() + s.offset, s.length);
    s.offset = static_cast<uint32_t>(at);
  }
  bytes_.swap(packed);
}

[[gnu::always_inline]] inline uint32_t PageRecords::store(std::span<const uint8_t> key,
                                                          std::span<const uint8_t> data) {
  const size_t length = key.size() + data.size();
  assert(length <= 0xFFFF);
  assert(key.empty() || key.data() < bytes_.data() || key.data() >= bytes_.data() + bytes_.size());
  assert(data.empty() || data.data() < bytes_.data() ||
         data.data() >= bytes_.data() + bytes_.size());
  const size_t unused = bytes_.size() - live_;
  if (unused > kCompactAbove && unused > live_) compact(length);
  if (bytes_.size() + length > bytes_.capacity() || slots_.size() == slots_.capacity()) {
    grow(length, 1);
  }
  const size_t at = bytes_.size();
  bytes_.resize(at + length);
  if (length != 0 && key.data() + key.size() == data.data()) {  // in one piece: one copy
    std::memcpy(bytes_.data() + at, key.data(), length);
  } else {
    if (!key.empty()) std::memcpy(bytes_.data() + at, key.data(), key.size());
    if (!data.empty()) std::memcpy(bytes_.data() + at + key.size(), data.data(), data.size());
  }
  live_ += length;
  return static_cast<uint32_t>(at);
}

void PageRecords::insert(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data) {
  index_keys();
  share_prefix_with(key);
  const uint32_t offset = store(key, data);
  const Slot slot{head_of(key), offset, static_cast<uint16_t>(key.size() + data.size()),
                  static_cast<uint16_t>(key.size())};
  if (at == slots_.size()) {  // records added in key order
    slots_.push_back(slot);
  } else {
    slots_.insert(at, slot);
  }
}

void PageRecords::replace(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data) {
  index_keys();
  share_prefix_with(key);
  live_ -= slots_[at].length;
  const uint32_t offset = store(key, data);
  slots_[at] = Slot{head_of(key), offset, static_cast<uint16_t>(key.size() + data.size()),
                    static_cast<uint16_t>(key.size())};
}

void PageRecords::erase(size_t at) {
  live_ -= slots_[at].length;
  slots_.erase(at, at + 1);
  if (slots_.empty()) bytes_.clear();
}

void PageRecords::erase_range(size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) live_ -= slots_[i].length;
  slots_.erase(from, to);
  if (slots_.empty()) bytes_.clear();
}

void PageRecords::truncate(size_t count) {
  for (size_t i = count; i < slots_.size(); ++i) live_ -= slots_[i].length;
  slots_.resize(std::min(count, slots_.size()));
  if (slots_.empty()) bytes_.clear();
}

size_t PageRecords::move_tail_to(size_t from, PageRecords& to) {
  assert(from <= size());
  index_keys();
  to.index_keys();
  if (from == 0 && to.empty()) {
    const size_t moved = live_;
    std::swap(bytes_, to.bytes_);
    std::swap(slots_, to.slots_);
    std::swap(live_, to.live_);
    std::swap(prefix_, to.prefix_);
    std::swap(prefix_length_, to.prefix_length_);
    clear();
    return moved;
  }
  if (from == size()) return 0;
  // The records moved share this page's prefix; behind the records of `to` they share with them
  // what the first of those shares with the last moved.
  if (to.empty()) {
    to.prefix_ = prefix_;
    to.prefix_length_ = prefix_length_;
  } else {
    to.share_prefix_with(key(size() - 1));
  }
  const bool same_heads = to.prefix_length_ == prefix_length_;
  size_t moved = 0;
  for (size_t i = from; i < slots_.size(); ++i) moved += slots_[i].length;
  to.grow(moved, slots_.size() - from);
  const size_t start = to.bytes_.size();
  to.bytes_.resize(start + moved);
  // Records added in key order lie in the buffer next to each other, in key order: each stretch
  // of such records is one copy.
  uint8_t* const out = to.bytes_.data() + start;
  size_t done = 0;
  for (size_t i = from; i < slots_.size();) {
    const uint32_t begin = slots_[i].offset;
    uint32_t end = begin;
    for (; i < slots_.size() && slots_[i].offset == end; ++i) {
      const Slot& s = slots_[i];
      to.slots_.push_back(
          Slot{same_heads ? s.head : to.head_of({bytes_.data() + s.offset, s.key_length}),
               static_cast<uint32_t>(start + done + (end - begin)), s.length, s.key_length});
      end += slots_[i].length;
    }
    std::memcpy(out + done, bytes_.data() + begin, end - begin);
    done += end - begin;
  }
  to.live_ += moved;
  live_ -= moved;
  slots_.resize(from);
  if (slots_.empty()) bytes_.clear();
  return moved;
}

void PageRecords::clear() {
  bytes_.clear();
  slots_.clear();
  live_ = 0;
  prefix_length_ = 0;
  heads_stale_ = false;
}

uint8_t* PageRecords::append_uninitialised(uint16_t length, uint16_t key_length) {
  const size_t at = bytes_.size();
  bytes_.resize(at + length);
  heads_stale_ = true;  // the key is not written yet
  slots_.push_back(Slot{0, static_cast<uint32_t>(at), length, key_length});
  live_ += length;
  return bytes_.data() + at;
}

void PageRecords::reserve(size_t records, size_t bytes) {
  slots_.reserve(records);
  bytes_.reserve(bytes);
}

bool PageRecords::operator==(const PageRecords& other) const {
  if (size() != other.size()) return false;
  for (size_t i = 0; i < size(); ++i) {
    const RecordRef a = (*this)[i];
    const RecordRef b = other[i];
    if (a.key_length != b.key_length || !std::ranges::equal(a.bytes, b.bytes)) return false;
  }
  return true;
}

}  // namespace vtn::tarnwell
