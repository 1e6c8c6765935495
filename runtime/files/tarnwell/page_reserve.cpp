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
  assert(!page->dirty && !page->pinned && !page->in_ring);
  if (limit_ == 0 || page->number < 0) return;  // a page never written is never clean
  Kept& k = pages_[page->number];
  if (k.page) count_out(*k.page);
  page->reserve_bytes = footprint(*page);
  count_in(*page);
  k.stamp = ++next_stamp_;
  order_.emplace_back(page->number, k.stamp);
  k.page = std::move(page);
  while ((bytes_ > limit_ || budget_.exceeded()) && count_ > 0) evict_oldest();
  prune_order();
}

void PageReserve::count_in(const RecordPage& page) {
  bytes_ += page.reserve_bytes;
  budget_.add(page.reserve_bytes);
  ++count_;
}

void PageReserve::count_out(const RecordPage& page) {
  bytes_ -= page.reserve_bytes;
  budget_.remove(page.reserve_bytes);
  --count_;
}

std::unique_ptr<RecordPage> PageReserve::take(int32_t number) {
  if (count_ == 0) return nullptr;
  Kept* k = pages_.find(number);
  if (k == nullptr || !k->page) return nullptr;
  std::unique_ptr<RecordPage> page = std::move(k->page);
  count_out(*page);
  return page;
}

void PageReserve::forget(int32_t number) {
  take(number);
}

void PageReserve::clear() {
  pages_.clear();
  order_.clear();
  budget_.remove(bytes_);
  bytes_ = 0;
  count_ = 0;
}

void PageReserve::evict_oldest() {
  while (!order_.empty()) {
    const auto [number, stamp] = order_.front();
    order_.pop_front();
    Kept* k = pages_.find(number);
    if (k == nullptr || !k->page || k->stamp != stamp) continue;
    count_out(*k->page);
    k->page.reset();
    return;
  }
}

void PageReserve::prune_order() {
  if (order_.size() < 1024 || order_.size() < 4 * count_) return;
  std::erase_if(order_, [this](const std::pair<int32_t, uint64_t>& entry) {
    Kept* k = pages_.find(entry.first);
    return k == nullptr || !k->page || k->stamp != entry.second;
  });
}

}  // namespace vtn::tarnwell
