// The searches of PageTree: descents, fingers and the steps between neighbouring leaves.
#include <cstring>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_tree.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckWrongChildLevel = 231;
constexpr int32_t kCheckEmptyIndexPage = 232;

// Equality of two keys a word at a time; the last word may overlap the one before it.
inline bool keys_equal(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) return n == 0 || std::memcmp(a.data(), b.data(), n) == 0;
  for (size_t i = 0; i + 8 < n; i += 8) {
    if (load_le64(a.data() + i) != load_le64(b.data() + i)) return false;
  }
  return load_le64(a.data() + n - 8) == load_le64(b.data() + n - 8);
}

// The record an index search follows in `page` (RecordPage::child_slot), by the slots' key heads.
inline size_t child_slot(const RecordPage& page, std::span<const uint8_t> key) {
  const size_t after = page.contents.records.upper_bound(key);
  return after == 0 ? 0 : after - 1;
}

// Where the answer of a search from `key` lies, seen from `slot`, the slot of a finger's last
// answer in `leaf`: here (at `at`), at the near end of a neighbouring leaf, or unknown (the
// finger cannot tell: the full search must run).
enum class Place { unknown, here, next_leaf, previous_leaf };
[[gnu::always_inline]] inline Place locate(const RecordPage& leaf, size_t slot,
                                           std::span<const uint8_t> key, PageTree::Step kind,
                                           size_t& at) {
  using Step = PageTree::Step;
  const size_t size = leaf.size();
  if (slot >= size) return Place::unknown;  // none noted, or records erased behind it
  const std::span<const uint8_t> last = leaf.key(slot);
  if (keys_equal(last, key)) {
    switch (kind) {
      case Step::exact:
      case Step::at_or_before:
        at = slot;
        return Place::here;
      case Step::after:
        at = slot + 1;
        return at == size ? Place::next_leaf : Place::here;
      case Step::before:
        if (slot == 0) return Place::previous_leaf;
        at = slot - 1;
        return Place::here;
    }
  }
  if (kind != Step::exact) return Place::unknown;
  // Reading on by record number: the record after the last answer, maybe the next leaf's first.
  if (slot + 1 < size) {
    if (!keys_equal(leaf.key(slot + 1), key)) return Place::unknown;
    at = slot + 1;
    return Place::here;
  }
  return compare_keys(last, key) < 0 ? Place::next_leaf : Place::unknown;
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
    const size_t slot = child_slot(*page, key);
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

bool PageTree::below_fence(const PageStore::Finger& f, const KeyOrder& order,
                           std::span<const uint8_t> key) {
  return !f.has_upper_fence || compare_key_orders(order, key, f.fence_order, f.upper_fence) < 0;
}

RecordPage* PageTree::leaf_for(std::span<const uint8_t> key, Enclose enclose) {
  const KeyOrder order = key_order(key);
  auto from_finger = [&](uint8_t i) -> RecordPage* {
    PageStore::Finger& f = s_.fingers[i];
    if (f.version != s_.tree_version || !f.fenced) return nullptr;
    const int first = compare_key_orders(f.first_order, f.first_key, order, key);
    if (first > 0 || (first == 0 && enclose == Enclose::last_may_equal)) return nullptr;
    if (!below_fence(f, order, key)) return nullptr;
    RecordPage* leaf = s_.page(f.page);
    // The answer of find_first_after is a record after the key: the leaf holds one while the key
    // is before its last key.
    if (enclose == Enclose::first_may_equal && compare_keys(key, leaf->key(leaf->size() - 1)) >= 0)
      return nullptr;
    descended_ = false;
    finger_ = &f;
    if (i != s_.leaf_hints[0]) s_.leaf_hints = {i, s_.leaf_hints[0]};
    use(f, leaf);
    return leaf;
  };
  // The fingers that gave the last two leaves first, the one before the last first of all: inserts
  // and reads in key order land in the same leaf again, and an ADD or a GET alternates between two
  // places of the tree (the data record and its key entry).
  const uint8_t last = s_.leaf_hints[0], earlier = s_.leaf_hints[1];
  if (RecordPage* leaf = from_finger(earlier)) return leaf;
  if (last != earlier) {
    if (RecordPage* leaf = from_finger(last)) return leaf;
  }
  for (uint8_t i = 0; i < PageStore::kFingers; ++i) {
    if (i == last || i == earlier) continue;
    if (RecordPage* leaf = from_finger(i)) return leaf;
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
  PageStore::Finger& f = next_finger();
  f.page = leaf->number;
  f.version = s_.tree_version;
  f.fenced = true;
  f.slot = PageStore::Finger::kNoSlot;
  const auto first = has_lower_fence_ ? lower_fence_ : leaf->first_key();
  keep_bound(first, f.first_order, f.first_key);
  f.has_upper_fence = has_upper_fence_;
  if (has_upper_fence_) keep_bound(upper_fence_, f.fence_order, f.upper_fence);
  note_parent(f);
  use(f, leaf);
  finger_ = &f;
}

void PageTree::keep_bound(std::span<const uint8_t> key, KeyOrder& order,
                          std::vector<uint8_t>& bytes) {
  order = key_order(key);
  if (key.size() > 16) bytes.assign(key.begin(), key.end());  // else the order says it all
}

PageStore::Finger& PageTree::next_finger() {
  PageStore::Finger& f = s_.fingers[s_.next_finger];
  s_.next_finger = (s_.next_finger + 1) % PageStore::kFingers;
  return f;
}

void PageTree::use(PageStore::Finger& f, const RecordPage* leaf) {
  f.leaf = leaf;
  f.lost = s_.cache.pages_destroyed();
}

void PageTree::note_parent(PageStore::Finger& f) {
  f.has_parent = path_.size() >= 2;
  if (!f.has_parent) return;
  const TreeStep& parent = path_[path_.size() - 2];
  f.parent = parent.page->number;
  f.parent_slot = parent.slot;
}

RecordPage* PageTree::move_to_neighbour(PageStore::Finger& f, bool next) {
  if (!f.has_parent) return nullptr;
  RecordPage* parent = s_.page(f.parent);
  const size_t slot = f.parent_slot;
  // The parent is as it was when the finger was noted (the tree has not changed since); a parent
  // that no longer says so is left to the full search.
  if (!parent->is_index() || slot >= parent->size() || parent->contents.children[slot] != f.page)
    return nullptr;
  if (next ? slot + 1 >= parent->size() : slot == 0) return nullptr;
  const size_t to = next ? slot + 1 : slot - 1;
  RecordPage* leaf = child_of(parent, to);
  if (leaf->is_index() || leaf->empty()) return nullptr;
  f.page = leaf->number;
  f.parent_slot = to;
  f.slot = PageStore::Finger::kNoSlot;
  f.fenced = false;
  f.first_key.clear();
  f.upper_fence.clear();
  f.has_upper_fence = false;
  use(f, leaf);
  return leaf;
}

std::optional<RecordRef> PageTree::step_from_finger(PageStore& s, std::span<const uint8_t> key,
                                                    uint64_t head, Step kind, bool& look_up) {
  uint8_t& hint = s.step_hint[static_cast<size_t>(kind)];
  for (size_t n = 0; n < PageStore::kFingers; ++n) {
    const size_t i = (hint + n) % PageStore::kFingers;
    PageStore::Finger& f = s.fingers[i];
    if (f.head != head || f.version != s.tree_version) continue;
    if (f.lost != s.cache.pages_destroyed()) {  // its address may be stale
      look_up = true;
      continue;
    }
    size_t at = 0;
    const Place place = locate(*f.leaf, f.slot, key, kind, at);
    if (place == Place::unknown) continue;
    if (place != Place::here) {  // the neighbour needs a lookup
      look_up = true;
      return std::nullopt;
    }
    hint = static_cast<uint8_t>(i);
    f.slot = at;
    f.head = key_head(f.leaf->key(at));
    return f.leaf->record(at);
  }
  return std::nullopt;
}

std::optional<RecordRef> PageTree::step_with_look_ups(std::span<const uint8_t> key, Step kind) {
  const uint64_t head = key_head(key);
  for (PageStore::Finger& f : s_.fingers) {
    if (f.head != head || f.version != s_.tree_version || f.slot == PageStore::Finger::kNoSlot)
      continue;
    const RecordPage* leaf = f.leaf;
    if (f.lost != s_.cache.pages_destroyed()) {  // its address may be stale: look it up
      leaf = s_.page(f.page);
      use(f, leaf);
    }
    size_t at = 0;
    const Place place = locate(*leaf, f.slot, key, kind, at);
    if (place == Place::unknown) continue;
    if (place != Place::here) {
      leaf = move_to_neighbour(f, place == Place::next_leaf);
      if (leaf == nullptr) return std::nullopt;
      at = place == Place::next_leaf ? 0 : leaf->size() - 1;
      if (kind == Step::exact && !keys_equal(leaf->key(at), key)) return std::nullopt;
    }
    f.slot = at;
    f.head = key_head(leaf->key(at));
    return leaf->record(at);
  }
  return std::nullopt;
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
  if (finger_ == nullptr || finger_->page != leaf->number) {
    // A leaf the search stepped into from the one it descended to (the path leads to it): a
    // finger without fences, so that reading on from here steps within this leaf.
    PageStore::Finger& f = next_finger();
    f.page = leaf->number;
    f.version = s_.tree_version;
    f.fenced = false;
    f.first_key.clear();
    f.upper_fence.clear();
    f.has_upper_fence = false;
    f.has_parent = false;
    if (descended_ && !path_.empty() && path_.back().page == leaf) note_parent(f);
    finger_ = &f;
  }
  finger_->slot = at;
  finger_->head = key_head(leaf->key(at));
  use(*finger_, leaf);
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
  at = leaf->contents.records.lower_bound(key);
  if (at < leaf->size() && same_key(leaf->key(at), key)) return answer(leaf, at);
  return std::nullopt;
}

std::optional<RecordRef> PageTree::find_first_after(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::first_may_equal);
  size_t at = 0;
  if (!descended_ && at_hint(leaf, key, at)) return answer(leaf, at + 1);
  at = leaf->contents.records.upper_bound(key);
  if (!descended_) return answer(leaf, at);
  path_.back().slot = at;
  return record_at_or_after();
}

std::optional<RecordRef> PageTree::find_last_before(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::last_may_equal);
  size_t at = 0;
  if (!descended_ && at_hint(leaf, key, at)) return answer(leaf, at - 1);
  at = leaf->contents.records.lower_bound(key);
  if (!descended_) return answer(leaf, at - 1);
  path_.back().slot = at;
  return record_before();
}

std::optional<RecordRef> PageTree::find_at_or_before(std::span<const uint8_t> key) {
  if (!s_.has_tree()) return std::nullopt;
  RecordPage* leaf = leaf_for(key, Enclose::inclusive);
  size_t at = 0;
  if (!descended_ && at_hint(leaf, key, at)) return answer(leaf, at);
  at = leaf->contents.records.upper_bound(key);
  if (!descended_) return answer(leaf, at - 1);
  path_.back().slot = at;
  return record_before();
}

}  // namespace vtn::tarnwell
