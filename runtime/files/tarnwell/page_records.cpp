#include "runtime/files/tarnwell/page_records.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

namespace vtn::tarnwell {
namespace {
// Below this the unused bytes of a buffer are not worth a compaction.
constexpr size_t kCompactAbove = 4096;
// The room a buffer and a slot table get when they first fill: a leaf of short records splits
// at about 4 KiB and 100 records.
constexpr size_t kFirstBytes = 4096;
constexpr size_t kFirstSlots = 128;
}  // namespace

void PageRecords::grow(size_t extra, size_t records) {
  if (bytes_.size() + extra > bytes_.capacity()) {
    bytes_.reserve(std::max({bytes_.size() + extra, 2 * bytes_.capacity(), kFirstBytes}));
  }
  if (slots_.size() + records > slots_.capacity()) {
    slots_.reserve(std::max({slots_.size() + records, 2 * slots_.capacity(), kFirstSlots}));
  }
}

void PageRecords::compact(size_t extra) {
  Bytes packed;
  packed.reserve(live_ + extra + extra / 2);
  for (Slot& s : slots_) {
    const size_t at = packed.size();
    packed.insert(packed.end(), bytes_.begin() + s.offset, bytes_.begin() + s.offset + s.length);
    s.offset = static_cast<uint32_t>(at);
  }
  bytes_.swap(packed);
}

uint32_t PageRecords::store(std::span<const uint8_t> key, std::span<const uint8_t> data) {
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
  if (!key.empty()) std::memcpy(bytes_.data() + at, key.data(), key.size());
  if (!data.empty()) std::memcpy(bytes_.data() + at + key.size(), data.data(), data.size());
  live_ += length;
  return static_cast<uint32_t>(at);
}

void PageRecords::insert(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data) {
  const uint32_t offset = store(key, data);
  slots_.insert(slots_.begin() + static_cast<ptrdiff_t>(at),
                Slot{offset, static_cast<uint16_t>(key.size() + data.size()),
                     static_cast<uint16_t>(key.size())});
}

void PageRecords::replace(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data) {
  live_ -= slots_[at].length;
  const uint32_t offset = store(key, data);
  slots_[at] = Slot{offset, static_cast<uint16_t>(key.size() + data.size()),
                    static_cast<uint16_t>(key.size())};
}

void PageRecords::erase(size_t at) {
  live_ -= slots_[at].length;
  slots_.erase(slots_.begin() + static_cast<ptrdiff_t>(at));
  if (slots_.empty()) bytes_.clear();
}

void PageRecords::erase_range(size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) live_ -= slots_[i].length;
  slots_.erase(slots_.begin() + static_cast<ptrdiff_t>(from),
               slots_.begin() + static_cast<ptrdiff_t>(to));
  if (slots_.empty()) bytes_.clear();
}

void PageRecords::truncate(size_t count) {
  for (size_t i = count; i < slots_.size(); ++i) live_ -= slots_[i].length;
  slots_.resize(std::min(count, slots_.size()));
  if (slots_.empty()) bytes_.clear();
}

size_t PageRecords::move_tail_to(size_t from, PageRecords& to) {
  assert(from <= size());
  if (from == 0 && to.empty()) {
    const size_t moved = live_;
    std::swap(bytes_, to.bytes_);
    std::swap(slots_, to.slots_);
    std::swap(live_, to.live_);
    clear();
    return moved;
  }
  if (from == size()) return 0;
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
      to.slots_.push_back(Slot{static_cast<uint32_t>(start + done + (end - begin)),
                               slots_[i].length, slots_[i].key_length});
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
}

uint8_t* PageRecords::append_uninitialised(uint16_t length, uint16_t key_length) {
  const size_t at = bytes_.size();
  bytes_.resize(at + length);
  slots_.push_back(Slot{static_cast<uint32_t>(at), length, key_length});
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
