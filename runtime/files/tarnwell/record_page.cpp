#include "runtime/files/tarnwell/record_page.hpp"

#include <cassert>

namespace vtn::tarnwell {

// The page's records search their slots' key heads first (page_records.hpp).
size_t RecordPage::lower_bound(std::span<const uint8_t> key) const {
  return contents.records.lower_bound(key);
}

size_t RecordPage::upper_bound(std::span<const uint8_t> key) const {
  return contents.records.upper_bound(key);
}

size_t RecordPage::child_slot(std::span<const uint8_t> key) const {
  assert(!empty());
  const size_t after = upper_bound(key);
  return after == 0 ? 0 : after - 1;
}

void RecordPage::erase(size_t at) {
  capacity -= record_capacity(contents.records[at].bytes.size());
  contents.records.erase(at);
  if (is_index()) contents.children.erase(contents.children.begin() + static_cast<ptrdiff_t>(at));
}

void RecordPage::erase_leaf_records(size_t from, size_t to) {
  assert(!is_index());
  for (size_t i = from; i < to; ++i) capacity -= record_capacity(contents.records[i].bytes.size());
  contents.records.erase_range(from, to);
}

void RecordPage::replace(size_t at, std::span<const uint8_t> key, std::span<const uint8_t> data) {
  capacity = capacity - contents.records[at].bytes.size() + key.size() + data.size();
  contents.records.replace(at, key, data);
}

void RecordPage::move_tail_to(size_t from, RecordPage& to) {
  assert(to.is_index() == is_index() && from <= size());
  const size_t count = size() - from;
  const size_t bytes = contents.records.move_tail_to(from, to.contents.records);
  const size_t moved = bytes + count * record_capacity(0);
  capacity -= moved;
  to.capacity += moved;
  if (is_index()) {
    auto& children = contents.children;
    to.contents.children.insert(to.contents.children.end(),
                                children.begin() + static_cast<ptrdiff_t>(from), children.end());
    children.resize(from);
  }
}

}  // namespace vtn::tarnwell
