// COPY and RENAME of one table: the table, with its definition, collation, counters, keys, memos
// and blobs, copied (or moved) into a table of another name, in the same physical file or in
// another one.
//
// Record numbers come from the shared counter of each physical file, so a table copied into
// another file takes new record numbers there: its data records are renumbered in record-number
// order (new numbers ascend as the old ones did), and every place that holds a record number
// follows the new one: the data record's key part, each key entry's data part (and, in a key with
// duplicates, the number at the end of its key part), the memo and blob chunks' key parts and the
// keys' stale marks. Because the order is kept, entries with equal values stay in record order and
// a stale mark still stands below every record it may have left out.
//
// The copy is written inside one write access of the target file, its table-name record last, so
// that a copy cut short leaves no table behind in the target. RENAME removes the source table only
// once the copy is on disk; within one file it only renames the table-name record.
#include <algorithm>

#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/locking_hooks.hpp"
#include "runtime/files/tarnwell/table_names.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/platform/paths.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr uint32_t kCopySourceAccess = 0x40;  // read only, others may read and write
constexpr size_t kFlushEveryDirtyPages = 400;

// Old record numbers to new ones, in ascending order of both.
class Renumbering {
 public:
  void add(uint32_t from, uint32_t to) { pairs_.emplace_back(from, to); }

  // The new number of an old record; none for a record that was not copied.
  std::optional<uint32_t> of(uint32_t from) const {
    auto it = std::lower_bound(pairs_.begin(), pairs_.end(), std::pair{from, 0u});
    if (it == pairs_.end() || it->first != from) return std::nullopt;
    return it->second;
  }

  // A key's stale mark: the new number of the first record at or above the old mark. A mark above
  // every record stays above every copied one.
  uint32_t mark(uint32_t from) const {
    if (from == 0) return 0;
    auto it = std::lower_bound(pairs_.begin(), pairs_.end(), std::pair{from, 0u});
    if (it != pairs_.end()) return it->second;
    return pairs_.empty() ? 1 : pairs_.back().second + 1;
  }

 private:
  std::vector<std::pair<uint32_t, uint32_t>> pairs_;
};

// The write access of the target store, kept when a transaction already holds one.
class TargetAccess {
 public:
  explicit TargetAccess(RecordStore& s) : s_(s) {}
  ~TargetAccess() {
    if (!began_) return;
    // An operation abandoned half-way leaves nothing of it in the target file.
    s_.discard_changes();
    if (s_.in_access()) s_.end_access();
  }
  int32_t begin() {
    if (s_.in_access()) {
      if (s_.access_mode() == StoreAccess::write) return 0;
      if (int32_t r = s_.end_access(); r != 0) return r;
    }
    const int32_t r = s_.begin_access(StoreAccess::write, true);
    began_ = r == 0;
    return r;
  }
  int32_t end() {
    if (!began_) return 0;
    began_ = false;
    return s_.end_access();
  }

 private:
  RecordStore& s_;
  bool began_ = false;
};

struct CopyJob {
  TableInstance& t;  // the source table, open
  RecordStore& target;
  Number to{};
  Renumbering numbers;
};

Bytes with_table(const Number& table, ByteSpan key) {
  Bytes k(key.begin(), key.end());
  std::copy(table.begin(), table.end(), k.begin());
  return k;
}

// Flushes the target while a large copy goes in, as a key build does.
int32_t keep_dirty_pages_bounded(RecordStore& s) {
  return s.dirty_pages() >= kFlushEveryDirtyPages ? s.flush() : 0;
}

int32_t copy_data_records(CopyJob& job) {
  TableInstance& t = job.t;
  const Bytes prefix = kind_key(t.table, kKindData);
  auto r = t.store->find_first_after(prefix);
  while (r && has_prefix(r->key, prefix)) {
    const Bytes key(r->key.begin(), r->key.end());
    const Bytes data(r->data.begin(), r->data.end());
    if (key.size() == 9) {
      const uint32_t record = number_value(job.target.new_number());
      job.numbers.add(load_be32(key.data() + 5), record);
      const DataKey copied = data_key(job.to, record);
      job.target.insert_record(copied, data);
      if (int32_t f = keep_dirty_pages_bounded(job.target); f != 0) return f;
    }
    r = t.store->find_first_after(key);
  }
  return 0;
}

const TableKey* key_of_kind(const TableInstance& t, uint8_t kind) {
  for (const auto& key : t.keys)
    if (key->kind == kind && !key->dynamic()) return key.get();
  return nullptr;
}

// The copy of one record that is not a data record; false when it refers to a record that was
// not copied (an entry whose data record is gone), which is left out.
bool renumber(const CopyJob& job, Bytes& key, Bytes& data) {
  const uint8_t kind = key[4];
  if (kind == kKindCounter && key.size() == 6 && data.size() == 8 && key[5] <= kMaxKeyNumber) {
    store_le32(data.data() + 4, job.numbers.mark(load_le32(data.data() + 4)));
    return true;
  }
  if (kind == kKindMemo && key.size() >= 9) {
    const auto record = job.numbers.of(load_be32(key.data() + 5));
    if (!record) return false;
    store_be32(key.data() + 5, *record);
    return true;
  }
  const TableKey* entry_key = kind <= kMaxKeyNumber ? key_of_kind(job.t, kind) : nullptr;
  if (entry_key == nullptr || data.size() != 4) return true;
  const auto record = job.numbers.of(load_be32(data.data()));
  if (!record) return false;
  store_be32(data.data(), *record);
  if (entry_key->duplicates() && key.size() >= 9) store_be32(key.data() + key.size() - 4, *record);
  return true;
}

int32_t copy_other_records(CopyJob& job) {
  TableInstance& t = job.t;
  const Bytes prefix(t.table.begin(), t.table.end());
  auto r = t.store->find_first_after(prefix);
  while (r && has_prefix(r->key, prefix)) {
    const Bytes source_key(r->key.begin(), r->key.end());
    Bytes key = with_table(job.to, source_key);
    Bytes data(r->data.begin(), r->data.end());
    if (key.size() > 4 && key[4] != kKindData && renumber(job, key, data)) {
      job.target.insert_record(key, data);
      if (int32_t f = keep_dirty_pages_bounded(job.target); f != 0) return f;
    }
    r = t.store->find_first_after(source_key);
  }
  return 0;
}

std::optional<Number> table_number(RecordStore& s, const std::string& table) {
  auto r = s.find_exact(table_name_key(table));
  if (!r || r->data.size() != 4) return std::nullopt;
  Number n{};
  std::copy(r->data.begin(), r->data.end(), n.begin());
  return n;
}

int32_t refuse(uint32_t windows_error) {
  platform::set_last_error(windows_error);
  return system_error();
}

// Writes the copy of the open table `t` under `to_table` into `target`, replacing a table of that
// name (COPY) or refusing it with "File Already Exists" (RENAME).
int32_t write_copy(TableInstance& t, RecordStore& target, const std::string& to_table,
                   bool replace) {
  if (auto old = table_number(target, to_table)) {
    if (!replace) return refuse(platform::kErrorFileExists);
    target.delete_record(table_name_key(to_table));
    target.delete_prefix(*old);
  }
  CopyJob job{t, target, target.new_number(), {}};
  if (int32_t r = copy_data_records(job); r != 0) return r;
  if (int32_t r = copy_other_records(job); r != 0) return r;
  const Record name = table_name_record(to_table, job.to);
  target.insert_record(name.key(), name.data());
  return 0;
}

// Both tables in one physical file: RENAME only renames the table-name record.
int32_t copy_within_file(TableInstance& t, const std::string& from_table,
                         const std::string& to_table, bool rename) {
  if (int32_t r = begin_operation_access(t, true); r != 0) return r;
  int32_t result = 0;
  if (!rename) {
    result = write_copy(t, *t.store, to_table, true);
  } else if (table_number(*t.store, to_table)) {
    result = refuse(platform::kErrorFileExists);
  } else {
    t.store->delete_record(table_name_key(from_table));
    const Record name = table_name_record(to_table, t.table);
    t.store->insert_record(name.key(), name.data());
  }
  if (result != 0) t.store->discard_changes();
  const int32_t ended = end_operation_access(t);
  return result != 0 ? result : ended;
}

int32_t copy_to_file(TableInstance& t, RecordStore& target, const std::string& to_table,
                     bool rename) {
  TargetAccess access(target);
  if (int32_t r = access.begin(); r != 0) return r;
  if (int32_t r = begin_operation_access(t, false); r != 0) return r;
  int32_t result = write_copy(t, target, to_table, !rename);
  const int32_t source_ended = end_operation_access(t);
  if (result == 0) result = source_ended;
  if (result != 0) return result;  // the target's changes are dropped with its access
  if (int32_t r = access.end(); r != 0) return r;
  return rename ? remove_open_table(t) : 0;
}

}  // namespace

int32_t copy_table(TableInstance& t, const TableName& from, const std::string& from_path,
                   const TableName& to, const std::string& to_path, bool rename) {
  if (to.table.find('\0') != std::string::npos) return err::kInvalidFilename;
  // The source is written to when the table moves out of it, or when the copy goes into it.
  const bool same_file = platform::same_name_ignoring_case(from_path, to_path);
  const uint32_t access = rename || same_file ? kRemoveAccess : kCopySourceAccess;
  if (int32_t r = open_table(t, access, false, false); r != 0) return r;
  RecordStore* target = nullptr;
  int32_t result = store_provider().open(to_path, kCreateAccess, t.owner, target);
  if (result == 0) {
    if (target == t.store && table_name_key(from.table) == table_name_key(to.table)) {
      // A table copied onto itself would be lost; moved onto itself, it is already there.
      result = refuse(rename ? platform::kErrorFileExists : platform::kErrorSharingViolation);
    } else if (target == t.store) {
      result = copy_within_file(t, from.table, to.table, rename);
    } else {
      result = copy_to_file(t, *target, to.table, rename);
    }
    store_provider().close(target);
  }
  close_table(t);
  return result;
}

}  // namespace vtn::tarnwell
