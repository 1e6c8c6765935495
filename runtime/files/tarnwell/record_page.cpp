#include "runtime/files/tarnwell/record_page.hpp"

#include <cassert>
#include <utility>

namespace vtn::tarnwell {

size_t RecordPage::lower_bound(std::span<const uint8_t> key) const {
  size_t low = 0, high = size();
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (compare_keys(this->key(mid), key) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

size_t RecordPage::upper_bound(std::span<const uint8_t> key) const {
  size_t low = 0, high = size();
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (compare_keys(this->key(mid), key) <= 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

size_t RecordPage::child_slot(std::span<const uint8_t> key) const {
  assert(!empty());
  const size_t after = upper_bound(key);
  return after == 0 ? 0 : after - 1;
}

void RecordPage::insert(size_t at, Record record, int32_t child) {
  capacity += record_capacity(record);
  auto& records = contents.records;
  records.insert(records.begin() + static_cast<ptrdiff_t>(at), std::move(record));
  if (is_index()) {
    contents.children.insert(contents.children.begin() + static_cast<ptrdiff_t>(at), child);
  }
}

void RecordPage::erase(size_t at) {
  auto& records = contents.records;
  capacity -= record_capacity(records[at]);
  records.erase(records.begin() + static_cast<ptrdiff_t>(at));
  if (is_index()) contents.children.erase(contents.children.begin() + static_cast<ptrdiff_t>(at));
}

void RecordPage::replace(size_t at, Record record) {
  Record& slot = contents.records[at];
  capacity = capacity - slot.bytes.size() + record.bytes.size();
  slot = std::move(record);
}

void RecordPage::move_tail_to(size_t from, RecordPage& to) {
  auto& records = contents.records;
  for (size_t i = from; i < records.size(); ++i) {
    capacity -= record_capacity(records[i]);
    to.insert(to.size(), std::move(records[i]), is_index() ? contents.children[i] : 0);
  }
  records.resize(from);
  if (is_index()) contents.children.resize(from);
}

Record index_record(std::span<const uint8_t> key) {
  Record r;
  r.bytes.assign(key.begin(), key.end());
  r.key_length = static_cast<uint16_t>(key.size());
  return r;
}

}  // namespace vtn::tarnwell
