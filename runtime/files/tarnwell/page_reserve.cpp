#include "runtime/files/tarnwell/page_reserve.hpp"

#include <cassert>
#include <cstdlib>

namespace vtn::tarnwell {
namespace {
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kDefaultMiB = 256;
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

ReserveBudget& process_reserve_budget() {
  static ReserveBudget budget(default_reserve_bytes() > SIZE_MAX / 2 ? SIZE_MAX
                                                                     : 2 * default_reserve_bytes());
  return budget;
}

size_t PageReserve::footprint(const RecordPage& page) {
  return sizeof(RecordPage) + page.contents.children.capacity() * sizeof(int32_t) +
         page.contents.records.memory() + 3 * kAllocationOverhead;
}

void PageReserve::keep(std::unique_ptr<RecordPage> page) {
  assert(!page->dirty && !page->pinned && !page->in_ring && !page->spare);
  if (limit_ == 0 || page->number < 0) return;  // a page never written is never clean
  if (RecordPage* old = pages_->find(page->number)) {
    assert(old->spare);  // never a page the cache holds
    take_back(old);
    pages_->destroy(old);
  }
  keep(pages_->put(std::move(page)));
}

void PageReserve::keep(RecordPage* page) {
  assert(!page->dirty && !page->pinned && !page->in_ring && !page->spare);
  if (limit_ == 0 || page->number < 0) {
    pages_->destroy(page);
    return;
  }
  page->reserve_bytes = footprint(*page);
  count_in(*page);
  page->spare = true;
  const uint64_t stamp = ++next_stamp_;
  pages_->held(page->number)->kept = stamp;
  order_.push_back({page->number, stamp});
  while ((bytes_ > limit_ || budget_.exceeded()) && count_ > 0) evict_oldest();
  prune_order();
}

void PageReserve::count_in(const RecordPage& page) {
  bytes_ += page.reserve_bytes;
  budget_.add(page.reserve_bytes);
  ++count_;
}

std::unique_ptr<RecordPage> PageReserve::take(int32_t number) {
  if (count_ == 0) return nullptr;
  RecordPage* page = pages_->find(number);
  if (page == nullptr || !page->spare) return nullptr;
  take_back(page);
  return pages_->release(page);
}

void PageReserve::forget(int32_t number) {
  if (count_ == 0) return;
  RecordPage* page = pages_->find(number);
  if (page == nullptr || !page->spare) return;
  take_back(page);
  pages_->destroy(page);
}

void PageReserve::clear() {
  while (count_ > 0) evict_oldest();
  order_.clear();
}

void PageReserve::evict_oldest() {
  while (!order_.empty()) {
    const Kept oldest = order_.front();
    order_.pop_front();
    DecodedPages::Held* held = pages_->held(oldest.number);
    if (held == nullptr || held->kept != oldest.stamp) continue;  // taken back since
    RecordPage* page = held->page.get();
    take_back(page);
    pages_->destroy(page);
    return;
  }
}

void PageReserve::prune_order() {
  if (order_.size() < 1024 || order_.size() < 4 * count_) return;
  std::erase_if(order_, [this](const Kept& k) {
    const DecodedPages::Held* held = pages_->held(k.number);
    return held == nullptr || held->kept != k.stamp;
  });
}

}  // namespace vtn::tarnwell
