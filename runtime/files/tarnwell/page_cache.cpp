#include "runtime/files/tarnwell/page_cache.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

namespace vtn::tarnwell {

RecordPage* PageCache::find(int32_t number) {
  std::unique_ptr<RecordPage>* entry = pages_.find(number);
  if (entry == nullptr || !*entry) return nullptr;
  pin(entry->get());
  return entry->get();
}

RecordPage* PageCache::add(std::unique_ptr<RecordPage> page) {
  RecordPage* p = page.get();
  p->loaded_at = clock_;
  p->last_use = clock_;
  std::unique_ptr<RecordPage>& slot = pages_[p->number];
  assert(!slot);
  slot = std::move(page);
  ++count_;
  pin(p);
  trim();
  return p;
}

void PageCache::renumber(RecordPage* page, int32_t new_number) {
  std::unique_ptr<RecordPage>* entry = pages_.find(page->number);
  assert(entry != nullptr && entry->get() == page);
  std::unique_ptr<RecordPage> owned = std::move(*entry);
  pages_.reset(page->number);
  owned->number = new_number;
  if (reserve_ != nullptr) reserve_->forget(new_number);
  std::unique_ptr<RecordPage>& slot = pages_[new_number];
  assert(!slot);
  slot = std::move(owned);
}

void PageCache::drop(RecordPage* page) {
  if (page->in_ring) ring_remove(page);
  if (page->pinned) pinned_[page->pinned_slot] = nullptr;
  if (page->dirty) {
    dirty_[page->dirty_slot] = nullptr;
    dirty_holes_ = true;
  }
  pages_.reset(page->number);
  --count_;
}

void PageCache::clear() {
  if (reserve_ != nullptr) reserve_->clear();
  pages_.clear();
  ring_head_ = ring_tail_ = nullptr;
  pinned_.clear();
  dirty_.clear();
  dirty_holes_ = false;
  count_ = 0;
}

void PageCache::mark_dirty(RecordPage* page) {
  if (page->dirty) return;
  page->dirty = true;
  if (page->in_ring) ring_remove(page);
  page->dirty_slot = static_cast<uint32_t>(dirty_.size());
  dirty_.push_back(page);
}

void PageCache::close_dirty_holes() const {
  std::erase(dirty_, nullptr);
  for (size_t i = 0; i < dirty_.size(); ++i) dirty_[i]->dirty_slot = static_cast<uint32_t>(i);
  dirty_holes_ = false;
}

void PageCache::mark_all_clean() {
  for (RecordPage* page : dirty_pages()) {
    page->dirty = false;
    page->image.clear();
    page->image.shrink_to_fit();
    if (!page->pinned) ring_push_back(page);
  }
  dirty_.clear();
  pages_.drop_empty_temporary_blocks();  // every page has its place now
}

void PageCache::release_all() {
  for (RecordPage* page : pinned_) {
    if (page == nullptr) continue;  // dropped
    page->pinned = false;
    page->last_use = ++clock_;
    if (!page->dirty) ring_push_back(page);
  }
  pinned_.clear();
}

void PageCache::pin(RecordPage* page) {
  if (page->pinned) return;
  page->pinned = true;
  if (page->in_ring) ring_remove(page);
  page->pinned_slot = static_cast<uint32_t>(pinned_.size());
  pinned_.push_back(page);
}

void PageCache::ring_push_back(RecordPage* page) {
  assert(!page->in_ring);
  page->in_ring = true;
  page->ring_prev = ring_tail_;
  page->ring_next = nullptr;
  if (ring_tail_ != nullptr) {
    ring_tail_->ring_next = page;
  } else {
    ring_head_ = page;
  }
  ring_tail_ = page;
}

void PageCache::ring_remove(RecordPage* page) {
  assert(page->in_ring);
  if (page->ring_prev != nullptr) {
    page->ring_prev->ring_next = page->ring_next;
  } else {
    ring_head_ = page->ring_next;
  }
  if (page->ring_next != nullptr) {
    page->ring_next->ring_prev = page->ring_prev;
  } else {
    ring_tail_ = page->ring_prev;
  }
  page->ring_prev = page->ring_next = nullptr;
  page->in_ring = false;
}

void PageCache::trim() {
  while (count_ >= kKeepBelow && ring_head_ != nullptr) {
    RecordPage* oldest = ring_head_;
    const uint64_t since_use = clock_ - oldest->last_use;
    const uint64_t since_load = clock_ - oldest->loaded_at;
    if (count_ < kAlwaysTrimAt && since_use * count_ < 4 * since_load) break;
    if (reserve_ == nullptr) {
      drop(oldest);
      continue;
    }
    ring_remove(oldest);
    // The entry stays, empty, for when the page comes back from the reserve.
    std::unique_ptr<RecordPage> owned = std::move(*pages_.find(oldest->number));
    --count_;
    reserve_->keep(std::move(owned));
  }
}

}  // namespace vtn::tarnwell
