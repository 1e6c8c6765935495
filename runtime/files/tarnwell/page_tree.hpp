// PageTree: the ordered record set of a record file as a tree of pages.
//
// Leaf pages (level 0) hold the records; an index page holds, for each child page, a copy of the
// key part of the child's first record and the child's page number. A search descends from the
// root through, at each index page, the last index record whose key is at or before the search
// key (the first record when the key sorts before all of them).
//
// Invariants kept by every change (and verified by the consistency checker):
// - every index record carries exactly the first key of its child: when a page's first record
//   changes, the index records above it follow;
// - no page but the root is empty: a page emptied by deletions leaves the tree (its index record
//   goes, its place in the zones is freed) and an emptied root becomes an empty leaf;
// - after a change every page on the changed path is within the split limits (record_page.hpp):
//   a page over them is divided at its middle record, the middle record joining the half with
//   fewer records (the new half when both hold as many); the new page gets an index record in
//   the parent, and both halves are checked again. A root over the limits first hands all its
//   records to a new page one level down and becomes an index page over it, keeping its number.
//
// Damage found while descending is an internal error: an index page without records (232), a
// child whose level is not one below its parent's (231), a page to split with fewer than two
// records (1364), a record inserted twice (706).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "runtime/files/tarnwell/page_store.hpp"

namespace vtn::tarnwell {

class PageTree {
 public:
  explicit PageTree(PageStore& store) : s_(store), path_(store.path) {}

  std::optional<RecordRef> find_exact(std::span<const uint8_t> key);
  std::optional<RecordRef> find_first_after(std::span<const uint8_t> key);
  std::optional<RecordRef> find_last_before(std::span<const uint8_t> key);
  std::optional<RecordRef> find_at_or_before(std::span<const uint8_t> key);

  // The answer of a search from exactly the key of a finger's last answer, given by that
  // finger's leaf without looking up a page (page_store.hpp): reading on (after), reading back
  // (before), reading again (exact, at_or_before), and the record right after the last answer
  // (exact: reading on by record number). nullopt when the leaf cannot tell: no finger holds the
  // key, or one may but its address may be stale, or the answer lies in a neighbouring leaf; in
  // the last two cases `look_up` is set and step_with_look_ups may still answer. Pins no page,
  // so it needs no operation around it.
  enum class Step { exact, after, before, at_or_before };
  // `head` is key_head(key).
  static std::optional<RecordRef> step_from_finger(PageStore& s, std::span<const uint8_t> key,
                                                   uint64_t head, Step kind, bool& look_up);
  // The same inside an operation: a finger whose leaf address may be stale looks its leaf up by
  // number, and an answer at the near end of a neighbouring leaf under the same parent is taken
  // from there. nullopt: the search above must run.
  std::optional<RecordRef> step_with_look_ups(std::span<const uint8_t> key, Step kind);

  // REQUIRES: the record fits (record_file.hpp's limits); key and data are not bytes of the
  // file's pages. false, nothing changed, when a record has this key part.
  bool insert(std::span<const uint8_t> key, std::span<const uint8_t> data);
  bool erase(std::span<const uint8_t> key);
  bool replace(std::span<const uint8_t> key, std::span<const uint8_t> data);
  // Erases every record whose key part starts with `prefix`, a leaf at a time: the records of a
  // leaf in one go, then, when the leaf is empty, the leaf and the index pages emptied with it,
  // in the order erasing the records one by one in key order frees them (the file ends up the
  // same). The number erased.
  size_t erase_prefix(std::span<const uint8_t> prefix);

  // Renumbers page `from` as `to` and points its parent's index record (or the header's root
  // page number) at the new number. Checks 1891 and 1894 when the parent cannot be found.
  void move_page(int32_t from, int32_t to);

 private:
  // Which keys a leaf must enclose to hold a search's answer: at its ends, `key` may equal the
  // first (last) key only when the search allows it.
  enum class Enclose { inclusive, first_may_equal, last_may_equal };
  RecordPage* child_of(RecordPage* parent, size_t slot);
  // The leaf that holds the answer for `key`, from the fingers (page_store.hpp) when one of them
  // encloses it, else by descending from the root; the path is set only by a descent.
  RecordPage* leaf_for(std::span<const uint8_t> key, Enclose enclose);
  void note_finger(RecordPage* leaf);
  // The finger to note a leaf in, in turn.
  PageStore::Finger& next_finger();
  void use(PageStore::Finger& f, const RecordPage* leaf);
  // Notes the parent of the leaf at the end of the path (from a descent or a step) in `f`.
  void note_parent(PageStore::Finger& f);
  // The leaf after (before) the finger's leaf under the same parent, the finger moved to it;
  // nullptr when the parent is not known or the neighbour is under another parent.
  RecordPage* move_to_neighbour(PageStore::Finger& f, bool next);
  static bool below_fence(const PageStore::Finger& f, const KeyOrder& order,
                          std::span<const uint8_t> key);
  // Notes a finger's first key or upper fence.
  static void keep_bound(std::span<const uint8_t> key, KeyOrder& order, std::vector<uint8_t>& bytes);
  // The insert finger (page_store.hpp) whose leaf `key` goes to right behind the finger's slot;
  // nullptr when none holds it.
  PageStore::InsertFinger* insert_finger_for(std::span<const uint8_t> key);
  // Notes slot `at` of `leaf`, which the last leaf_for() gave, in an insert finger (the one of
  // that leaf, else a retired one, else in turn).
  void note_insert_finger(RecordPage* leaf, size_t at);
  // After a change of `leaf` by `key`: splits it when it is over the limits, descending first
  // when its leaf came from a finger.
  void split_if_needed(RecordPage* leaf, std::span<const uint8_t> key);
  // Whether the slot of the finger's last answer, or the next, holds exactly `key` (then in `at`).
  bool at_hint(const RecordPage* leaf, std::span<const uint8_t> key, size_t& at) const;
  // Where `key`, absent from `leaf`, goes: right behind the finger's last answer when it sorts
  // between that record and the next (inserts in ascending order), else by binary search.
  size_t insert_slot(const RecordPage* leaf, std::span<const uint8_t> key) const;
  // Record `at` of `leaf` as the answer of a search, noted in the finger of that leaf.
  std::optional<RecordRef> answer(const RecordPage* leaf, size_t at);
  void descend(std::span<const uint8_t> key);
  void descend_edge(bool leftmost);
  bool step_to_next_leaf();
  bool step_to_previous_leaf();
  std::optional<RecordRef> record_at_or_after();
  std::optional<RecordRef> record_before();
  void fix_first_keys(size_t level);
  // A split keeps the insert fingers it does not invalidate (those of leaves it did not divide,
  // and those of divided leaves, carried to the half that holds their slot): ascending inserts go
  // on without a descent. `before` is the tree_version the fingers were noted at.
  void split_pages();
  void split_under(size_t level, uint64_t before);
  // Leaf `from` kept its first `kept` records and handed the rest to `to`, the leaf after it.
  void carry_insert_fingers(const RecordPage& from, RecordPage& to, size_t kept, uint64_t before);
  void remove_empty_pages();
  // Frees the place of `page`, which has left the tree; `leaving` have left it too and are freed
  // next.
  void dispose(RecordPage* page, std::span<RecordPage* const> leaving = {});

  static bool same_key(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && compare_keys(a, b) == 0;  // in place, no call
  }

  PageStore& s_;
  std::vector<TreeStep>& path_;
  bool descended_ = false;               // the last leaf_for() descended (and set the path)
  PageStore::Finger* finger_ = nullptr;  // of the leaf the last leaf_for() gave, if any
  // The first key of the leaf the last descent reached, from its index record (none when the
  // root is that leaf), and of the leaf after it (none for the last leaf).
  std::span<const uint8_t> lower_fence_;
  bool has_lower_fence_ = false;
  std::span<const uint8_t> upper_fence_;
  bool has_upper_fence_ = false;
};

}  // namespace vtn::tarnwell
