#include "runtime/files/tarnwell/page_cache.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

namespace vtn::tarnwell {

PageCache::~PageCache() {
  if (reserve_ == nullptr) return;
  reserve_->clear();  // its pages lie in this cache's table
  reserve_->share_table(nullptr);
}

void PageCache::spill_to(PageReserve* reserve) {
  assert(count_ == 0 && (reserve == nullptr || reserve->size() == 0));
  if (reserve_ != nullptr) reserve_->share_table(nullptr);
  reserve_ = reserve;
  if (reserve_ != nullptr) reserve_->share_table(&pages_);
}

RecordPage* PageCache::find(int32_t number) {
  RecordPage* page = pages_.find(number);
  if (page == nullptr || page->spare) return nullptr;
  pin(page);
  return page;
}

RecordPage* PageCache::add(std::unique_ptr<RecordPage> page) {
  RecordPage* p = pages_.put(std::move(page));
  p->loaded_at = clock_;
  p->last_use = clock_;
  ++count_;
  pin(p);
  trim();
  return p;
}

void PageCache::take_back(RecordPage* page) {
  reserve_->take_back(page);
  page->loaded_at = clock_;
  page->last_use = clock_;
  ++count_;
  pin(page);
}

void PageCache::renumber(RecordPage* page, int32_t new_number) {
  assert(pages_.find(page->number) == page && !page->spare);
  // The reserve may still keep a page under the new number, from before that page moved away.
  if (reserve_ != nullptr) reserve_->forget(new_number);
  pages_.renumber(page, new_number);
}

void PageCache::drop(RecordPage* page) {
  if (page->spare) {
    reserve_->forget(page->number);
    return;
  }
  if (page->in_ring) ring_remove(page);
  if (page->pinned) pinned_[page->pinned_slot] = nullptr;
  if (page->dirty) {
    dirty_[page->dirty_slot] = nullptr;
    dirty_holes_ = true;
  }
  pages_.destroy(page);
  --count_;
}

void PageCache::clear() {
  if (reserve_ != nullptr) reserve_->clear();
  pages_.clear();
  ring_.clear();
  pinned_count_ = 0;
  dirty_.clear();
  dirty_holes_ = false;
  count_ = 0;
}

void PageCache::mark_dirty(RecordPage* page) {
  if (page->dirty) return;
  if (page->spare) {  // changed without being fetched: it is cached again, and stays
    reserve_->take_back(page);
    ++count_;
  }
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
  for (size_t i = 0; i < pinned_count_; ++i) {
    RecordPage* page = pinned_[i];
    if (page == nullptr) continue;  // dropped
    page->pinned = false;
    page->last_use = ++clock_;
    if (!page->dirty) ring_push_back(page);
  }
  pinned_count_ = 0;
}

void PageCache::pin_released(RecordPage* page) {
  page->pinned = true;
  if (page->in_ring) ring_remove(page);
  if (pinned_count_ == pinned_.size()) grow_pinned();
  page->pinned_slot = static_cast<uint32_t>(pinned_count_);
  pinned_[pinned_count_++] = page;
}

void PageCache::grow_pinned() {
  pinned_.resize(std::max<size_t>(64, 2 * pinned_.size()));
}

void PageCache::ring_push_back(RecordPage* page) {
  assert(!page->in_ring && !page->spare);
  page->in_ring = true;
  ring_.push_back(page);
}

void PageCache::ring_remove(RecordPage* page) {
  assert(page->in_ring);
  ring_.remove(page);
  page->in_ring = false;
}

void PageCache::trim() {
  while (count_ >= kKeepBelow && !ring_.empty()) {
    RecordPage* oldest = ring_.head();
    const uint64_t since_use = clock_ - oldest->last_use;
    const uint64_t since_load = clock_ - oldest->loaded_at;
    if (count_ < kAlwaysTrimAt && since_use * count_ < 4 * since_load) break;
    ring_remove(oldest);
    --count_;
    if (reserve_ != nullptr) {
      reserve_->keep(oldest);  // spare where it lies, or destroyed when the reserve cannot keep it
    } else {
      pages_.destroy(oldest);
    }
  }
}

}  // namespace vtn::tarnwell
