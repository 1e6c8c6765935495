// The searches of PageTree: descents, fingers and the steps between neighbouring leaves.
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_tree.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckWrongChildLevel = 231;
constexpr int32_t kCheckEmptyIndexPage = 232;
}  // namespace

RecordPage* PageTree::child_of(RecordPage* parent, size_t slot) {
  RecordPage* child = s_.page(parent->contents.children[slot]);
  if (child->level() + 1 != parent->level()) raise_internal_error(kCheckWrongChildLevel);
  return child;
}

void PageTree::descend(std::span<const uint8_t> key) {
  path_.clear();
  has_lower_fence_ = has_upper_fence_ = false;
  RecordPage* page = s_.page(s_.header.root_page);
  while (page->is_index()) {
    if (page->empty()) raise_internal_error(kCheckEmptyIndexPage);
    const size_t slot = page->child_slot(key);
    lower_fence_ = page->key(slot);  // the child's first key
    has_lower_fence_ = true;
    if (slot + 1 < page->size()) {  // a deeper level gives the closer fence
      upper_fence_ = page->key(slot + 1);
      has_upper_fence_ = true;
    }
    path_.push_back({page, slot});
    page = child_of(page, slot);
  }
  path_.push_back({page, 0});
}

bool PageTree::below_fence(const PageStore::Finger& f, std::span<const uint8_t> key) {
  return !f.has_upper_fence || compare_keys(key, f.upper_fence) < 0;
}

RecordPage* PageTree::leaf_for(std::span<const uint8_t> key, Enclose enclose) {
  for (PageStore::Finger& f : s_.fingers) {
    if (f.version != s_.tree_version) continue;
    const int first = compare_keys(f.first_key, key);
    if (first > 0 || (first == 0 && enclose == Enclose::last_may_equal)) continue;
    if (!below_fence(f, key)) continue;
    RecordPage* leaf = s_.page(f.page);
    // The answer of find_first_after is a record after the key: the leaf holds one while the key
    // is before its last key.
    if (enclose == Enclose::first_may_equal && compare_keys(key, leaf->key(leaf->size() - 1)) >= 0)
      continue;
    descended_ = false;
    finger_ = &f;
    return leaf;
  }
  descended_ = true;
  descend(key);
  RecordPage* leaf = path_.back().page;
  note_finger(leaf);
  return leaf;
}

void PageTree::note_finger(RecordPage* leaf) {
  finger_ = nullptr;
  if (leaf->empty()) return;
  PageStore::Finger& f = s_.fingers[s_.next_finger];
  s_.next_finger = (s_.next_finger + 1) % PageStore::kFingers;
  f.page = leaf->number;
  f.version = s_.tree_version;
  f.slot = PageStore::Finger::kNoSlot;
  const auto first = has_lower_fence_ ? lower_fence_ : leaf->first_key();
  f.first_key.assign(first.begin(), first.end());
  f.has_upper_fence = has_upper_fence_;
  if (has_upper_fence_) f.upper_fence.assign(upper_fence_.begin(), upper_fence_.end());
  finger_ = &f;
}

bool PageTree::at_hint(const RecordPage* leaf, std::span<const uint8_t> key, size_t& at) const {
  if (finger_ == nullptr) return false;
  // The record of the last answer, or the one after it (reading on in key order).
  for (size_t slot = finger_->slot; slot < leaf->size() && slot <= finger_->slot + 1; ++slot) {
    if (same_key(leaf->key(slot), key)) {
      at = slot;
      return true;
    }
  }
  return false;
}

std::optional<RecordRef> PageTree::answer(const RecordPage* leaf, size_t at) {
  if (finger_ != nullptr && finger_->page == leaf->number) finger_->slot = at;
  return leaf->record(at);
}

// From the index page at the end of the path down to its first (or last) leaf.
void PageTree::descend_edge(bool leftmost) {
  RecordPage* page = child_of(path_.back().page, path_.back().slot);
  for (;;) {
    if (page->is_index() && page->empty()) raise_internal_error(kCheckEmptyIndexPage);
    const size_t slot = leftmost ? 0 : page->size() - (page->is_index() ? 1 : 0);
    path_.push_back({page, slot});
    if (!page->is_index()) return;
    page = child_of(page, slot);
  }
}

bool PageTree::step_to_next_leaf() {
  path_.pop_back();
  while (!path_.empty()) {
    TreeStep& step = path_.back();
    if (step.slot + 1 < step.page->size()) {
      ++step.slot;
      descend_edge(true);
      return true;
    }
    path_.pop_back();
  }
  return false;
}

bool PageTree::step_to_previous_leaf() {
  path_.pop_back();
  while (!path_.empty()) {
    TreeStep& step = path_.back();
    if (step.slot > 0) {
      --step.slot;
      descend_edge(false);
      return true;
    }
    path_.pop_back();
  }
  return false;
}

std::optional<RecordRef> PageTree::record_at_or_after() {
  for (;;) {
    const TreeStep& leaf = path_.back();
    if (leaf.slot < leaf.page->size()) return answer(leaf.page, leaf.slot);
    if (!step_to_next_leaf()) return std::nullopt;
  }
}

std::optional<RecordRef> PageTree::record_before() {
  for (;;) {
    const TreeStep& leaf = path_.back();
    if (leaf.slot > 0) return answer(leaf.page, leaf.slot - 1);
    if (!step_to_previous_leaf()) return std::nullopt;
  }
}

// Each search below takes its leaf from leaf_for(); when a finger gave it, the enclosure
// guarantees that the answer lies inside that leaf, so the path (needed only to step to a
// neighbouring leaf) is never used. A finger also remembers the slot of its last answer: a search
// from exactly that key (NEXT, PREVIOUS, reading again) needs no binary search.

std::optional<RecordRef> PageTree::find_exact(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::inclusive);
  size_t at = 0;
  if (at_hint(leaf, key, at)) return answer(leaf, at);
  at = leaf->lower_bound(key);
  if (at < leaf->size() && same_key(leaf->key(at), key)) return answer(leaf, at);
  return std::nullopt;
}

std::optional<RecordRef> PageTree::find_first_after(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::first_may_equal);
  size_t at = 0;
  if (!descended_ && at_hint(leaf, key, at)) return answer(leaf, at + 1);
  at = leaf->upper_bound(key);
  if (!descended_) return answer(leaf, at);
  path_.back().slot = at;
  return record_at_or_after();
}

std::optional<RecordRef> PageTree::find_last_before(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::last_may_equal);
  size_t at = 0;
  if (!descended_ && at_hint(leaf, key, at)) return answer(leaf, at - 1);
  at = leaf->lower_bound(key);
  if (!descended_) return answer(leaf, at - 1);
  path_.back().slot = at;
  return record_before();
}

std::optional<RecordRef> PageTree::find_at_or_before(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::inclusive);
  size_t at = 0;
  if (!descended_ && at_hint(leaf, key, at)) return answer(leaf, at);
  at = leaf->upper_bound(key);
  if (!descended_) return answer(leaf, at - 1);
  path_.back().slot = at;
  return record_before();
}

}  // namespace vtn::tarnwell
