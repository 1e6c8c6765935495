#include "runtime/files/tarnwell/page_tree.hpp"

#include <algorithm>
#include <vector>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/zones.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckWrongChildLevel = 231;
constexpr int32_t kCheckEmptyIndexPage = 232;
constexpr int32_t kCheckTooFewToSplit = 1364;
constexpr int32_t kCheckParentNotFound = 1891;
constexpr int32_t kCheckParentNotIndex = 1894;

bool same_key(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && compare_keys(a, b) == 0;  // in place, no call
}
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

// An insert or a replace takes its leaf from a finger when one encloses the key (at or after the
// leaf's first key, before its upper fence: a descent would reach the same leaf); the path is
// needed only when the leaf must split, and is then made by a descent.
void PageTree::split_if_needed(RecordPage* leaf, std::span<const uint8_t> key) {
  if (!leaf->needs_split()) return;
  if (!descended_) descend(key);
  split_pages();
}

size_t PageTree::insert_slot(const RecordPage* leaf, std::span<const uint8_t> key) const {
  if (finger_ != nullptr && finger_->slot < leaf->size()) {
    const size_t after = finger_->slot + 1;
    if (compare_keys(leaf->key(finger_->slot), key) < 0 &&
        (after == leaf->size() || compare_keys(key, leaf->key(after)) < 0)) {
      return after;
    }
  }
  return leaf->lower_bound(key);
}

bool PageTree::insert(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  s_.ensure_tree();
  RecordPage* leaf = leaf_for(key, Enclose::inclusive);
  const size_t at = insert_slot(leaf, key);
  if (at < leaf->size() && same_key(leaf->key(at), key)) return false;
  leaf->insert(at, key, data);
  s_.mark_dirty(leaf);
  s_.records_changed();
  if (finger_ != nullptr) finger_->slot = at;
  if (at == 0) {  // only after a descent: a finger's leaf starts at or before the key
    s_.tree_changed();
    fix_first_keys(path_.size() - 1);
  }
  split_if_needed(leaf, key);
  return true;
}

bool PageTree::replace(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (!s_.has_tree()) return false;
  RecordPage* leaf = leaf_for(key, Enclose::inclusive);
  size_t at = 0;
  if (!at_hint(leaf, key, at)) {
    at = leaf->lower_bound(key);
    if (at == leaf->size() || !same_key(leaf->key(at), key)) return false;
  }
  leaf->replace(at, key, data);
  s_.mark_dirty(leaf);
  s_.records_changed();
  if (finger_ != nullptr) finger_->slot = at;
  split_if_needed(leaf, key);
  return true;
}

bool PageTree::erase(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return false;
  descend(key);
  RecordPage* leaf = path_.back().page;
  const size_t at = leaf->lower_bound(key);
  if (at == leaf->size() || !same_key(leaf->key(at), key)) return false;
  leaf->erase(at);
  s_.mark_dirty(leaf);
  s_.tree_changed();
  s_.records_changed();
  if (leaf->empty()) {
    remove_empty_pages();
  } else if (at == 0) {
    fix_first_keys(path_.size() - 1);
  }
  return true;
}

size_t PageTree::erase_prefix(std::span<const uint8_t> prefix) {
  if (!s_.has_tree()) return 0;
  size_t erased = 0;
  descend(prefix);
  for (;;) {
    RecordPage* leaf = path_.back().page;
    const size_t from = leaf->lower_bound(prefix);
    if (from == leaf->size()) {  // the records of the prefix, if any, begin in the next leaf
      if (!step_to_next_leaf()) break;
      continue;
    }
    size_t to = from;
    while (to < leaf->size() && key_starts_with(leaf->key(to), prefix)) ++to;
    if (to == from) break;
    const bool ends_here = to < leaf->size();
    leaf->erase_leaf_records(from, to);
    erased += to - from;
    s_.mark_dirty(leaf);
    s_.tree_changed();
    s_.records_changed();
    if (leaf->empty()) {
      remove_empty_pages();
      descend(prefix);  // the tree above changed: a fresh path to the next leaf
      continue;
    }
    if (from == 0) fix_first_keys(path_.size() - 1);
    if (ends_here || !step_to_next_leaf()) break;
  }
  return erased;
}

// The page at path level `level` has a new first key: the index records above follow, as far up
// as the changed record is the first of its page.
void PageTree::fix_first_keys(size_t level) {
  for (size_t l = level; l > 0; --l) {
    RecordPage* child = path_[l].page;
    TreeStep& up = path_[l - 1];
    if (child->empty()) return;
    if (same_key(up.page->key(up.slot), child->first_key())) return;
    up.page->replace(up.slot, child->first_key(), {});
    s_.mark_dirty(up.page);
    if (up.slot != 0) return;
  }
}

void PageTree::split_pages() {
  for (size_t l = path_.size(); l-- > 0;) {
    RecordPage* page = path_[l].page;
    if (!page->needs_split()) continue;
    if (l > 0) {
      split_under(l);
      continue;
    }
    // The root keeps its number: its records move one level down into a new page, which the
    // root, one level higher, now indexes alone; that page is then split like any other.
    if (page->size() < 2) raise_internal_error(kCheckTooFewToSplit);
    RecordPage* below = s_.new_page(page->level());
    page->move_tail_to(0, *below);
    page->contents.level = static_cast<uint8_t>(page->level() + 1);
    page->recount();
    page->insert(0, below->first_key(), {}, below->number);
    s_.mark_dirty(page);
    path_.insert(path_.begin() + 1, TreeStep{below, 0});
    l = 2;  // the loop goes on with the new page, then the root again
  }
}

// Splits the page at path level `level` and, again and again, both halves of every split, until
// every page under the same parent is within the limits.
void PageTree::split_under(size_t level) {
  RecordPage* parent = path_[level - 1].page;
  std::vector<RecordPage*> work{path_[level].page};
  while (!work.empty()) {
    RecordPage* page = work.back();
    work.pop_back();
    if (!page->needs_split()) continue;
    if (page->size() < 2) raise_internal_error(kCheckTooFewToSplit);
    RecordPage* half = s_.new_page(page->level());
    page->move_tail_to(page->size() / 2, *half);
    const auto& children = parent->contents.children;
    const auto at = std::find(children.begin(), children.end(), page->number);
    if (at == children.end()) raise_internal_error(kCheckParentNotFound);
    parent->insert(static_cast<size_t>(at - children.begin()) + 1, half->first_key(), {},
                   half->number);
    s_.mark_dirty(page);
    s_.mark_dirty(parent);
    work.push_back(page);
    work.push_back(half);
  }
}

void PageTree::remove_empty_pages() {
  std::vector<RecordPage*> gone;
  size_t l = path_.size() - 1;
  while (l > 0 && path_[l].page->empty()) {
    TreeStep& up = path_[l - 1];
    up.page->erase(up.slot);
    s_.mark_dirty(up.page);
    gone.push_back(path_[l].page);
    --l;
  }
  RecordPage* kept = path_[l].page;
  if (l == 0 && kept->empty() && kept->is_index()) {
    kept->contents.level = 0;
    kept->contents.children.clear();
    kept->recount();
  } else if (path_[l].slot == 0) {
    fix_first_keys(l);
  }
  for (size_t i = 0; i < gone.size(); ++i) dispose(gone[i], std::span(gone).subspan(i + 1));
}

// Freeing a page's place moves the last page of its zone into it. That page may be one of
// `leaving`, out of the tree already and waiting to be freed itself: it only takes its new number,
// as it has no parent to point at it.
void PageTree::dispose(RecordPage* page, std::span<RecordPage* const> leaving) {
  const int32_t number = page->number;
  const int units = page->unit_size;
  s_.tree_changed();
  s_.cache.drop(page);
  if (number < 0 || units == 0) return;
  Zones zones(s_.header, [this, leaving](int32_t from, int32_t to) {
    for (RecordPage* out : leaving) {
      if (out->number != from) continue;
      s_.tree_changed();
      s_.cache.renumber(out, to);
      return;
    }
    PageTree(s_).move_page(from, to);
  });
  zones.free(units, number);
  s_.dirty = true;
}

void PageTree::move_page(int32_t from, int32_t to) {
  s_.tree_changed();
  RecordPage* page = s_.page(from);
  if (from == s_.header.root_page) {
    s_.header.root_page = to;
  } else {
    if (page->empty()) raise_internal_error(kCheckParentNotFound);
    const std::span<const uint8_t> key = page->first_key();
    RecordPage* parent = s_.page(s_.header.root_page);
    if (parent->level() <= page->level()) raise_internal_error(kCheckParentNotFound);
    while (parent->level() > page->level() + 1) {
      if (parent->empty()) raise_internal_error(kCheckParentNotFound);
      parent = child_of(parent, parent->child_slot(key));
    }
    if (!parent->is_index()) raise_internal_error(kCheckParentNotIndex);
    if (parent->empty()) raise_internal_error(kCheckParentNotFound);
    const size_t slot = parent->child_slot(key);
    if (parent->contents.children[slot] != from) raise_internal_error(kCheckParentNotFound);
    parent->contents.children[slot] = to;
    s_.mark_dirty(parent);
  }
  s_.cache.renumber(page, to);
  s_.mark_dirty(page);
  s_.dirty = true;
}

}  // namespace vtn::tarnwell
