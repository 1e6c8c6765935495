#include "runtime/files/tarnwell/page_reserve.hpp"

#include <cassert>
#include <cstdlib>

namespace vtn::tarnwell {
namespace {
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kDefaultMiB = 64;
// Heap bookkeeping of one allocation, roughly.
constexpr size_t kAllocationOverhead = 16;
}  // namespace

size_t default_reserve_bytes() {
  static const size_t bytes = [] {
    const char* text = std::getenv("VTN_TWL_RESERVE_MB");
    if (text == nullptr || *text == '\0') return kDefaultMiB * kMiB;
    char* end = nullptr;
    const unsigned long long mib = std::strtoull(text, &end, 10);
    if (*end != '\0' || mib > (SIZE_MAX / kMiB)) return kDefaultMiB * kMiB;
    return static_cast<size_t>(mib) * kMiB;
  }();
  return bytes;
}

size_t PageReserve::footprint(const RecordPage& page) {
  size_t bytes = sizeof(RecordPage) + page.contents.children.capacity() * sizeof(int32_t) +
                 page.contents.records.capacity() * sizeof(Record) + kAllocationOverhead;
  for (const Record& r : page.contents.records) {
    bytes += r.bytes.capacity() + kAllocationOverhead;
  }
  return bytes;
}

void PageReserve::keep(std::unique_ptr<RecordPage> page) {
  assert(!page->dirty && !page->pinned && !page->in_ring);
  if (limit_ == 0) return;
  forget(page->number);
  RecordPage* p = page.get();
  p->reserve_bytes = footprint(*p);
  p->ring_next = nullptr;
  p->ring_prev = newest_;
  if (newest_ != nullptr) {
    newest_->ring_next = p;
  } else {
    oldest_ = p;
  }
  newest_ = p;
  bytes_ += p->reserve_bytes;
  pages_.emplace(p->number, std::move(page));
  while (bytes_ > limit_ && oldest_ != nullptr) evict_oldest();
}

std::unique_ptr<RecordPage> PageReserve::take(int32_t number) {
  if (pages_.empty()) return nullptr;
  const auto it = pages_.find(number);
  if (it == pages_.end()) return nullptr;
  std::unique_ptr<RecordPage> page = std::move(it->second);
  pages_.erase(it);
  unlink(page.get());
  return page;
}

void PageReserve::forget(int32_t number) {
  take(number);
}

void PageReserve::clear() {
  pages_.clear();
  oldest_ = newest_ = nullptr;
  bytes_ = 0;
}

void PageReserve::unlink(RecordPage* page) {
  if (page->ring_prev != nullptr) {
    page->ring_prev->ring_next = page->ring_next;
  } else {
    oldest_ = page->ring_next;
  }
  if (page->ring_next != nullptr) {
    page->ring_next->ring_prev = page->ring_prev;
  } else {
    newest_ = page->ring_prev;
  }
  page->ring_prev = page->ring_next = nullptr;
  bytes_ -= page->reserve_bytes;
}

void PageReserve::evict_oldest() {
  const int32_t number = oldest_->number;
  forget(number);
}

}  // namespace vtn::tarnwell
