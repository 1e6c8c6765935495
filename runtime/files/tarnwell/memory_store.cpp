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
  auto [it, inserted] =
      records_.try_emplace(Bytes(key.begin(), key.end()), data.begin(), data.end());
  if (!inserted) raise_internal_error(kDuplicateKeyPart);
}

bool MemoryStore::delete_record(ByteSpan key) {
  auto it = records_.find(key);
  if (it == records_.end()) return false;
  records_.erase(it);
  return true;
}

void MemoryStore::replace_record(ByteSpan key, ByteSpan data) {
  auto it = records_.find(key);
  if (it == records_.end()) raise_internal_error(kRecordMissing);
  it->second.assign(data.begin(), data.end());
}

}  // namespace vtn::tarnwell
