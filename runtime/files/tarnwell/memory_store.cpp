#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_store.hpp"

namespace vtn::tarnwell {
namespace {
// The same checks the page store makes: a key part is unique in a file.
constexpr int32_t kDuplicateKeyPart = 706;
constexpr int32_t kRecordMissing = 780;
}  // namespace

std::optional<RecordView> MemoryStore::find_exact(ByteSpan key) {
  auto it = records_.find(key);
  if (it == records_.end()) return std::nullopt;
  return view(it);
}

std::optional<RecordView> MemoryStore::find_first_after(ByteSpan key) {
  auto it = records_.upper_bound(key);
  if (it == records_.end()) return std::nullopt;
  return view(it);
}

std::optional<RecordView> MemoryStore::find_last_before(ByteSpan key) {
  auto it = records_.lower_bound(key);
  if (it == records_.begin()) return std::nullopt;
  return view(std::prev(it));
}

std::optional<RecordView> MemoryStore::find_at_or_before(ByteSpan key) {
  auto it = records_.upper_bound(key);
  if (it == records_.begin()) return std::nullopt;
  return view(std::prev(it));
}

void MemoryStore::insert_record(ByteSpan key, ByteSpan data) {
  if (!insert_if_absent(key, data)) raise_internal_error(kDuplicateKeyPart);
}

bool MemoryStore::insert_if_absent(ByteSpan key, ByteSpan data) {
  const auto at = records_.lower_bound(key);
  if (at != records_.end() && compare_keys(at->first, key) == 0) return false;
  records_.emplace_hint(at, Bytes(key.begin(), key.end()), Bytes(data.begin(), data.end()));
  change_count_ = next_change_number();
  return true;
}

bool MemoryStore::delete_record(ByteSpan key) {
  auto it = records_.find(key);
  if (it == records_.end()) return false;
  records_.erase(it);
  change_count_ = next_change_number();
  return true;
}

void MemoryStore::replace_record(ByteSpan key, ByteSpan data) {
  auto it = records_.find(key);
  if (it == records_.end()) raise_internal_error(kRecordMissing);
  it->second.assign(data.begin(), data.end());
  change_count_ = next_change_number();
}

size_t MemoryStore::delete_prefix(ByteSpan prefix) {
  const auto from = records_.lower_bound(prefix);
  auto to = from;
  size_t count = 0;
  while (to != records_.end() && key_starts_with(to->first, prefix)) ++to, ++count;
  if (count == 0) return 0;
  records_.erase(from, to);
  change_count_ = next_change_number();
  return count;
}

}  // namespace vtn::tarnwell
