#include "runtime/files/tarnwell/page_tree.hpp"

#include <algorithm>
#include <vector>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/zones.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckTooFewToSplit = 1364;
constexpr int32_t kCheckParentNotFound = 1891;
constexpr int32_t kCheckParentNotIndex = 1894;
}  // namespace

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

namespace {
// A clean leaf is taken through the cache, which pins it for the operation (a dirty one stays
// cached until it is written); an address that may be stale is looked up by number.
[[gnu::noinline]] void look_up_leaf(PageStore& s, PageStore::InsertFinger& f) {
  f.leaf = s.page(f.page);
  f.lost = s.cache.pages_destroyed();
}
}  // namespace

[[gnu::always_inline]] inline PageStore::InsertFinger* PageTree::insert_finger_for(
    std::span<const uint8_t> key) {
  for (size_t n = 0; n < PageStore::kInsertFingers; ++n) {
    const size_t i = (s_.insert_finger_hint + n) % PageStore::kInsertFingers;
    PageStore::InsertFinger& f = s_.insert_fingers[i];
    if (f.version != s_.tree_version) continue;
    if (f.lost != s_.cache.pages_destroyed() || !f.leaf->dirty) [[unlikely]] {
      look_up_leaf(s_, f);
    }
    const RecordPage* leaf = f.leaf;
    const size_t next = f.slot + 1;
    if (next > leaf->size() || compare_keys(leaf->key(f.slot), key) >= 0) continue;
    if (next < leaf->size() ? compare_keys(key, leaf->key(next)) >= 0
                            : f.has_upper_fence && compare_keys(key, f.upper_fence) >= 0) {
      continue;
    }
    s_.insert_finger_hint = (i + 1) % PageStore::kInsertFingers;
    return &f;
  }
  return nullptr;
}

void PageTree::note_insert_finger(RecordPage* leaf, size_t at) {
  if (!descended_ && (finger_ == nullptr || !finger_->fenced)) return;  // its fence is not known
  PageStore::InsertFinger* noted = nullptr;
  for (PageStore::InsertFinger& f : s_.insert_fingers) {
    if (f.version == s_.tree_version && f.page == leaf->number) {
      noted = &f;
      break;
    }
    if (noted == nullptr && f.version != s_.tree_version) noted = &f;
  }
  if (noted == nullptr) {
    noted = &s_.insert_fingers[s_.next_insert_finger];
    s_.next_insert_finger = (s_.next_insert_finger + 1) % PageStore::kInsertFingers;
  }
  PageStore::InsertFinger& f = *noted;
  f.page = leaf->number;
  f.version = s_.tree_version;
  f.leaf = leaf;
  f.lost = s_.cache.pages_destroyed();
  f.slot = at;
  if (descended_) {
    f.has_upper_fence = has_upper_fence_;
    if (has_upper_fence_) f.upper_fence.assign(upper_fence_.begin(), upper_fence_.end());
  } else {
    f.has_upper_fence = finger_->has_upper_fence;
    if (finger_->has_upper_fence) f.upper_fence = finger_->upper_fence;
  }
}

bool PageTree::insert(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (!s_.has_tree()) s_.ensure_tree();
  if (PageStore::InsertFinger* f = insert_finger_for(key)) {
    RecordPage* leaf = f->leaf;
    leaf->insert(++f->slot, key, data);
    s_.mark_dirty(leaf);
    s_.records_changed();
    descended_ = false;
    split_if_needed(leaf, key);
    return true;
  }
  RecordPage* leaf = leaf_for(key, Enclose::inclusive);
  const size_t at = insert_slot(leaf, key);
  if (at < leaf->size() && same_key(leaf->key(at), key)) return false;
  // Behind the last record or right behind the finger's last answer: keys in ascending order.
  const bool ascending = at == leaf->size() || (finger_ != nullptr && finger_->slot + 1 == at);
  leaf->insert(at, key, data);
  s_.mark_dirty(leaf);
  s_.records_changed();
  if (finger_ != nullptr) finger_->slot = at;
  if (at == 0) {  // only after a descent: a finger's leaf starts at or before the key
    s_.tree_changed();
    fix_first_keys(path_.size() - 1);
  } else if (ascending && !leaf->needs_split()) {
    note_insert_finger(leaf, at);  // the next key in that order goes right behind
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
  const uint64_t before = s_.tree_version;
  for (size_t l = path_.size(); l-- > 0;) {
    RecordPage* page = path_[l].page;
    if (!page->needs_split()) continue;
    if (l > 0) {
      split_under(l, before);
      continue;
    }
    // The root keeps its number: its records move one level down into a new page, which the
    // root, one level higher, now indexes alone; that page is then split like any other.
    if (page->size() < 2) raise_internal_error(kCheckTooFewToSplit);
    RecordPage* below = s_.new_page(page->level());
    page->move_tail_to(0, *below);
    if (below->level() == 0) carry_insert_fingers(*page, *below, 0, before);
    page->contents.level = static_cast<uint8_t>(page->level() + 1);
    page->recount();
    page->insert(0, below->first_key(), {}, below->number);
    s_.mark_dirty(page);
    path_.insert(path_.begin() + 1, TreeStep{below, 0});
    l = 2;  // the loop goes on with the new page, then the root again
  }
  // The fingers kept go on; their leaves' addresses stand as long as no page was let go (a new
  // page may trim others, which pages_destroyed() counts).
  for (PageStore::InsertFinger& f : s_.insert_fingers) {
    if (f.version == before) f.version = s_.tree_version;
  }
}

void PageTree::carry_insert_fingers(const RecordPage& from, RecordPage& to, size_t kept,
                                    uint64_t before) {
  for (PageStore::InsertFinger& f : s_.insert_fingers) {
    if (f.version != before || f.page != from.number) continue;
    if (f.slot >= kept) {
      f.page = to.number;
      f.leaf = &to;
      f.slot -= kept;
    } else {
      f.has_upper_fence = true;
      const std::span<const uint8_t> fence = to.first_key();
      f.upper_fence.assign(fence.begin(), fence.end());
    }
  }
}

// Splits the page at path level `level` and, again and again, both halves of every split, until
// every page under the same parent is within the limits.
void PageTree::split_under(size_t level, uint64_t before) {
  RecordPage* parent = path_[level - 1].page;
  std::vector<RecordPage*> work{path_[level].page};
  while (!work.empty()) {
    RecordPage* page = work.back();
    work.pop_back();
    if (!page->needs_split()) continue;
    if (page->size() < 2) raise_internal_error(kCheckTooFewToSplit);
    RecordPage* half = s_.new_page(page->level());
    const size_t kept = page->size() / 2;
    page->move_tail_to(kept, *half);
    if (page->level() == 0) carry_insert_fingers(*page, *half, kept, before);
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
