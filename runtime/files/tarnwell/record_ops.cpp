// Records of a table: conversion to and from the file's code page, counters, memos, and the
// operations that change records (ADD, APPEND, PUT, DELETE) with the key maintenance they need.
//
// Key maintenance, for every key that is not a dynamic index, in declaration order:
//   - a deferred key, and every key during APPEND, is left alone for a record at or above the
//     key's stale mark (a mark of 0 lies above every record);
//   - an unchanged key part needs nothing;
//   - a deferred key, and every key during APPEND, gets no entry: its stale mark drops to the
//     record's number instead;
//   - otherwise the old entry goes and the new one comes; in a key without duplicates a new key
//     part that is already taken fails the whole change with 40, after the keys changed so far
//     have been changed back.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/locking_hooks.hpp"
#include "runtime/files/tarnwell/memo_chunks.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kMemoTooLong = 57;

std::array<uint8_t, 4> be(uint32_t v) {
  std::array<uint8_t, 4> b;
  store_be32(b.data(), v);
  return b;
}

bool text_field(uint8_t type) {
  return type == static_cast<uint8_t>(ValueType::STRING) ||
         type == static_cast<uint8_t>(ValueType::CSTRING) ||
         type == static_cast<uint8_t>(ValueType::PSTRING);
}

// Converts the text fields of a record between the code pages. Fields laid over others (OVER,
// GROUP members) are converted once, through the first field that covers their bytes.
void convert_record(const TableInstance& t, std::span<uint8_t> record, bool to_oem) {
  thread_local std::vector<std::pair<uint32_t, uint32_t>> done;  // kept: no allocation per record
  done.clear();
  for (size_t i = 0; i < t.fields.size(); ++i) {
    const FieldDescriptor& f = t.fields[i];
    if (!text_field(f.type)) continue;
    if (i < t.definition.fields.size() && t.definition.fields[i].members_after_size[0] != 0)
      continue;  // kept out of conversion by its descriptor
    const uint32_t begin = f.offset, end = f.offset + f.total_size();
    if (end > record.size()) continue;
    bool overlaps = false;
    for (auto [b, e] : done) overlaps |= begin < e && b < end;
    if (overlaps) continue;
    done.emplace_back(begin, end);
    const uint32_t n = f.element_count();
    for (uint32_t k = 0; k < n; ++k) {
      char* p = reinterpret_cast<char*>(record.data() + begin + k * f.size);
      size_t length = f.size;
      if (f.type == static_cast<uint8_t>(ValueType::CSTRING)) {
        length = strnlen(p, f.size);
      } else if (f.type == static_cast<uint8_t>(ValueType::PSTRING)) {
        length = f.size == 0 ? 0 : std::min<size_t>(static_cast<uint8_t>(p[0]), f.size - 1);
        ++p;
      }
      if (to_oem)
        platform::ansi_to_oem(p, length);
      else
        platform::oem_to_ansi(p, length);
    }
  }
}

Record as_record(const RecordView& v) {
  Record r;
  r.bytes.assign(v.key.begin(), v.key.end());
  r.bytes.insert(r.bytes.end(), v.data.begin(), v.data.end());
  r.key_length = static_cast<uint16_t>(v.key.size());
  return r;
}

MemoFormat memo_format(const TableInstance& t, const TableMemo& m) {
  return {m.blob, m.binary, t.oem_file};
}

Bytes memo_prefix(const TableInstance& t, uint32_t record, uint8_t memo) {
  Bytes p = kind_key(t.table, kKindMemo);
  auto r = be(record);
  p.insert(p.end(), r.begin(), r.end());
  p.push_back(memo);
  return p;
}

std::vector<Record> memo_chunks_of(TableInstance& t, uint32_t record, uint8_t memo) {
  std::vector<Record> chunks;
  const Bytes prefix = memo_prefix(t, record, memo);
  auto r = t.store->find_first_after(prefix);
  while (r && has_prefix(r->key, prefix)) {
    chunks.push_back(as_record(*r));
    const Bytes key(r->key.begin(), r->key.end());
    r = t.store->find_first_after(key);
  }
  return chunks;
}

// The contents a memo's buffer holds now, as they would be stored.
std::span<const uint8_t> memo_contents(const TableMemo& m) {
  if (m.blob) return m.blob_contents;
  if (m.block == nullptr || m.block->buffer == nullptr) return {};
  return {reinterpret_cast<const uint8_t*>(m.block->buffer), m.size};
}

// Whether the file holds for `record` exactly the chunks that the memo buffers would make now.
bool memos_unchanged(TableInstance& t, uint32_t record) {
  for (size_t i = 0; i < t.memos.size(); ++i) {
    const TableMemo& m = t.memos[i];
    const auto memo = static_cast<uint8_t>(i);
    if (memo_chunk_records(t.table, number_from_value(record), memo, memo_contents(m),
                           memo_format(t, m)) != memo_chunks_of(t, record, memo))
      return false;
  }
  return true;
}

bool memos_fit(const TableInstance& t) {
  for (const TableMemo& m : t.memos)
    if (!memo_fits(memo_contents(m), memo_format(t, m))) return false;
  return true;
}

void read_memos(TableInstance& t, uint32_t record) {
  for (size_t i = 0; i < t.memos.size(); ++i) {
    TableMemo& m = t.memos[i];
    auto contents =
        read_memo_contents(memo_chunks_of(t, record, static_cast<uint8_t>(i)), memo_format(t, m));
    if (m.blob) {
      m.blob_contents = contents.value_or(Bytes{});
      continue;
    }
    if (m.block == nullptr || m.block->buffer == nullptr) continue;
    const size_t n = contents ? std::min<size_t>(contents->size(), m.size) : 0;
    if (n) std::memcpy(m.block->buffer, contents->data(), n);
    std::memset(m.block->buffer + n, ' ', m.size - n);
  }
}

// The record as the file stores it: the bytes themselves, or their OEM form in the instance's
// scratch (valid until the next change).
ByteSpan file_form(TableInstance& t, ByteSpan record) {
  if (!t.oem_file) return record;
  t.file_copy.assign(record.begin(), record.end());
  record_to_file(t, t.file_copy);
  return t.file_copy;
}

// POSITIONkey reads the key value of the record as it was read or written, whatever the program
// has put into the buffer since; without a key there is nobody to ask for it.
[[gnu::always_inline]] inline void keep_read_copy(TableInstance& t, ByteSpan record) {
  if (t.keys.empty()) return;
  if (t.read_copy.size() != record.size()) t.read_copy.resize(record.size());
  std::memcpy(t.read_copy.data(), record.data(), record.size());
}

// A counter record's key part and data part.
using CounterKey = std::array<uint8_t, 6>;
CounterKey counter_key(const Number& table, uint8_t kind) {
  return {table[0], table[1], table[2], table[3], kKindCounter, kind};
}

// ---- counters known between changes (see TableInstance::known_counters) ----

bool counters_in_step(const TableInstance& t) {
  return t.store->change_count() == t.counters_at;
}

// After a change of records other than counters made by this instance: what was in step stays so.
void keep_in_step(TableInstance& t, bool was_in_step) {
  if (was_in_step) t.counters_at = t.store->change_count();
}

TableInstance::KnownCounter* known_counter(TableInstance& t, uint8_t kind) {
  for (TableInstance::KnownCounter& k : t.known_counters)
    if (k.kind == kind) return &k;
  return nullptr;
}

void note_counter(TableInstance& t, uint8_t kind, bool stored, const std::optional<Counter>& c,
                  bool waiting = false) {
  TableInstance::KnownCounter* k = known_counter(t, kind);
  if (k == nullptr) k = &t.known_counters.emplace_back();
  *k = {kind, stored, c.has_value(), waiting, t.counter_epoch, c ? c->count : 0, c ? c->second : 0};
}

std::array<uint8_t, 8> counter_data(uint32_t count, uint32_t second) {
  std::array<uint8_t, 8> data;
  store_le32(data.data(), count);
  store_le32(data.data() + 4, second);
  return data;
}

// The instances whose ADDs left counts waiting (see settle_waiting_counters): at most one per
// physical file. The list is the process's, read by every driver call of every thread; an
// instance is only ever settled by a call on its own file (which one thread uses at a time) or by
// the end of the transaction (which one thread runs).
struct WaitingCounts {
  const RecordStore* store;
  TableInstance* instance;
};

struct WaitingList {
  std::mutex mutex;
  std::vector<WaitingCounts> entries;
  // The list's size is detail::waiting_count, read without the mutex: most calls find it empty.
};

// Constant-initialised: the calls that find the list empty pay no guard.
constinit WaitingList g_waiting_list;

WaitingList& waiting_list() {
  return g_waiting_list;
}

void note_list_size(const WaitingList& list) {
  detail::waiting_count.store(list.entries.size(), std::memory_order_relaxed);
}

// The instance with counts waiting in `store`, or null. REQUIRES: the list's mutex held.
TableInstance* waiting_in(const WaitingList& list, const RecordStore* store) {
  for (const WaitingCounts& w : list.entries)
    if (w.store == store) return w.instance;
  return nullptr;
}

// Takes `t` off the list (nothing when it is not on it).
void unlist_waiting(TableInstance& t) {
  WaitingList& list = waiting_list();
  const std::lock_guard lock(list.mutex);
  std::erase_if(list.entries, [&t](const WaitingCounts& w) { return w.instance == &t; });
  note_list_size(list);
  t.counts_listed = false;
}

// Whether a count of `t` may wait: inside a transaction (nobody else in the file writes, and
// nothing reaches the disk before COMMIT), with the instance's counters in step, and no other
// instance waiting in the same file. Lists `t` when it may.
bool leave_waiting(TableInstance& t) {
  const RecordFile* file = t.store->record_file();
  if (file == nullptr || !file->in_transaction() || !counters_in_step(t)) return false;
  if (t.counts_listed) return true;  // the file's entry is this instance's already
  WaitingList& list = waiting_list();
  const std::lock_guard lock(list.mutex);
  if (waiting_in(list, t.store) != nullptr) return false;
  list.entries.push_back({t.store, &t});
  note_list_size(list);
  t.counts_listed = true;
  return true;
}

// Stores the counter of `kind`; `exists`: the store holds one (it was just read), which is
// replaced, else it is inserted. `may_wait`: an ADD's count, which may wait in a transaction.
void store_counter(TableInstance& t, uint8_t kind, const Counter& c, bool exists,
                   bool may_wait = false) {
  if (may_wait && exists && leave_waiting(t)) {
    note_counter(t, kind, true, c, true);
    return;
  }
  const bool in_step = counters_in_step(t);
  const CounterKey key = counter_key(t.table, kind);
  const std::array<uint8_t, 8> data = counter_data(c.count, c.second);
  if (exists)
    t.store->replace_record(key, data);
  else
    t.store->insert_record(key, data);
  if (!in_step) ++t.counter_epoch;  // only the counter just written is known now
  t.counters_at = t.store->change_count();
  note_counter(t, kind, true, c);
}

// Writes the counts waiting for `t`. Counts are dropped when the store changed behind them (its
// changes were dropped): there is nothing left to count onto.
void write_waiting(TableInstance& t) {
  unlist_waiting(t);
  if (t.store == nullptr || !counters_in_step(t)) return;
  RecordStore& s = *t.store;
  const bool own_access = !s.in_access() || s.access_mode() != StoreAccess::write;
  if (own_access && s.begin_access(StoreAccess::write, true) != 0) return;
  for (TableInstance::KnownCounter& k : t.known_counters) {
    if (!k.waiting || k.epoch != t.counter_epoch) continue;
    k.waiting = false;
    s.replace_record(counter_key(t.table, k.kind), counter_data(k.count, k.second));
  }
  t.counters_at = s.change_count();
  if (own_access) s.end_access();
}

// The counter of `kind` (none when its record is missing or too short to hold one) and whether
// its record is there at all: a short one is replaced, not inserted again.
std::optional<Counter> find_counter(TableInstance& t, uint8_t kind, bool& stored) {
  if (!counters_in_step(t)) {
    t.counters_at = t.store->change_count();
    ++t.counter_epoch;
  } else if (const TableInstance::KnownCounter* k = known_counter(t, kind);
             k != nullptr && k->epoch == t.counter_epoch) {
    stored = k->stored;
    if (!k->readable) return std::nullopt;
    return Counter{k->count, k->second};
  }
  auto r = t.store->find_exact(counter_key(t.table, kind));
  stored = r.has_value();
  std::optional<Counter> c;
  if (r && r->data.size() >= 8)
    c = Counter{load_le32(r->data.data()), load_le32(r->data.data() + 4)};
  note_counter(t, kind, stored, c);
  return c;
}

// The known counter of `kind` onto which an ADD may count in memory alone: this instance's counts
// wait already (its file is in a transaction, its counters in step) and the counter is known,
// stored and readable. Null otherwise: the count goes through find_counter and store_counter,
// which leave it exactly as counting here does when all of this holds.
bool counts_wait(TableInstance& t) {
  if (!t.counts_listed || !counters_in_step(t)) return false;
  const RecordFile* file = t.store->record_file();
  return file != nullptr && file->in_transaction();
}

// The counter of `kind` as known in this epoch, stored and readable; null otherwise.
TableInstance::KnownCounter* countable(TableInstance& t, uint8_t kind) {
  TableInstance::KnownCounter* k = known_counter(t, kind);
  if (k == nullptr || k->epoch != t.counter_epoch || !k->stored || !k->readable) return nullptr;
  return k;
}

TableInstance::KnownCounter* waiting_counter(TableInstance& t, uint8_t kind) {
  return counts_wait(t) ? countable(t, kind) : nullptr;
}

uint32_t counted(uint32_t count, int32_t delta) {
  const int64_t n = static_cast<int64_t>(count) + delta;
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

// Adds `delta` to the count of the counter of `kind` (never below 0).
void add_to_count(TableInstance& t, uint8_t kind, int32_t delta, bool may_wait = false) {
  if (TableInstance::KnownCounter* k = may_wait ? waiting_counter(t, kind) : nullptr) {
    k->count = counted(k->count, delta);
    k->waiting = true;
    return;
  }
  bool stored = false;
  Counter c = find_counter(t, kind, stored).value_or(Counter{});
  c.count = counted(c.count, delta);
  store_counter(t, kind, c, stored, may_wait);
}

// Deletes the entry `key_part` of `record`. In a key without duplicates the entry of a value may
// belong to another record (this one was appended, or left out by a build): it stays.
bool delete_entry_of(RecordStore& s, const TableKey& key, ByteSpan key_part, uint32_t record) {
  if (!key.duplicates()) {
    auto r = s.find_exact(key_part);
    if (!r || r->data.size() < 4 || load_be32(r->data.data()) != record) return false;
  }
  return s.delete_record(key_part);
}

// Whether the key gets entries when records change (dynamic indexes are built on demand, a key
// without components has none).
bool maintained(const TableKey& key) {
  return !key.dynamic() && !key.shape.components.empty();
}

using EntryChange = TableInstance::EntryChange;

void undo(TableInstance& t, const std::vector<EntryChange>& changes, uint32_t record) {
  const auto data = be(record);
  const bool in_step = counters_in_step(t);
  for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
    RecordStore& s = entry_store(t, *it->key);
    if (it->inserted) s.delete_record(it->key->new_entry);
    if (it->removed) s.insert_record(it->key->old_entry, data);
  }
  keep_in_step(t, in_step);
}

// Maintains the keys for a change of `record` from `before` to `after` (either may be absent).
// Returns 0 or 40; on 40 nothing has changed. The entries change first, key by key; then the
// counts of the keys that gained or lost an entry; then the stale marks of the keys left stale.
int32_t maintain_keys(TableInstance& t, uint32_t record, const ByteSpan* before,
                      const ByteSpan* after, bool append) {
  std::vector<EntryChange>& changes = t.entry_changes;
  changes.clear();
  const auto data = be(record);
  bool any_stale = false;
  for (auto& owned : t.keys) {
    TableKey& key = *owned;
    if (!maintained(key)) continue;
    const bool stays_stale = key.deferred() || append;
    if (stays_stale) {
      const std::optional<Counter> counter = read_counter(t, key.kind);
      const uint32_t mark = counter ? counter->second : 0;
      if (mark != 0 && record >= mark) continue;
    }
    if (before) build_entry_key(t, key, *before, record, key.old_entry);
    if (after) build_entry_key(t, key, *after, record, key.new_entry);
    if (before && after && key.old_entry == key.new_entry) continue;
    if (stays_stale) {
      changes.push_back({&key, false, false, true});
      any_stale = true;
      continue;
    }
    RecordStore& s = entry_store(t, key);
    EntryChange change{&key, false, false, false};
    const bool in_step = counters_in_step(t);
    if (before) change.removed = delete_entry_of(s, key, key.old_entry, record);
    if (after) {
      if (key.duplicates()) {
        s.insert_record(key.new_entry, data);
        change.inserted = true;
      } else {
        change.inserted = s.insert_if_absent(key.new_entry, data);
      }
    }
    keep_in_step(t, in_step);
    changes.push_back(change);
    if (after && !change.inserted) {  // the value is taken
      undo(t, changes, record);
      return err::kCreatesDuplicateKey;
    }
  }
  for (const EntryChange& c : changes) {
    const int32_t delta = (c.inserted ? 1 : 0) - (c.removed ? 1 : 0);
    if (delta != 0) add_to_count(t, c.key->kind, delta, before == nullptr);
  }
  if (!any_stale) return 0;
  for (const EntryChange& c : changes) {
    if (!c.lowered) continue;
    bool stored = false;
    Counter counter = find_counter(t, c.key->kind, stored).value_or(Counter{});
    counter.second = record;
    store_counter(t, c.key->kind, counter, stored);
  }
  return 0;
}

// The usual ADD of a batch inside a transaction: this instance's counts wait in memory already,
// every maintained key is kept up to date at once (none deferred) and known with its counter, and
// the table has no memos. Its keys' entries and the record go in and the counts add on in memory:
// the changes the general way makes under these conditions, without its bookkeeping. None when a
// condition fails (nothing is changed then).
std::optional<int32_t> add_to_waiting_counts(TableInstance& t) {
  if (!t.memos.empty() || !counts_wait(t) || countable(t, kKindData) == nullptr)
    return std::nullopt;
  for (const auto& key : t.keys)
    if (maintained(*key) && (key->deferred() || countable(t, key->kind) == nullptr))
      return std::nullopt;

  const uint32_t record = number_value(t.store->new_number());
  const ByteSpan after = record_buffer(t);
  const auto entry_data = be(record);
  for (size_t i = 0; i < t.keys.size(); ++i) {
    TableKey& key = *t.keys[i];
    if (!maintained(key)) continue;
    build_entry_key(t, key, after, record, key.new_entry);
    if (key.duplicates()) {
      t.store->insert_record(key.new_entry, entry_data);
      continue;
    }
    if (t.store->insert_if_absent(key.new_entry, entry_data)) continue;
    // The value is taken: the entries made so far go again, last first.
    while (i-- > 0)
      if (maintained(*t.keys[i])) t.store->delete_record(t.keys[i]->new_entry);
    t.counters_at = t.store->change_count();
    return err::kCreatesDuplicateKey;
  }
  release_hold(t);
  t.store->insert_record(data_key(t.table, record), file_form(t, after));
  t.counters_at = t.store->change_count();
  t.current = record;
  keep_read_copy(t, after);
  t.read_without_memos = false;
  const auto count_one = [&t](uint8_t kind) {
    TableInstance::KnownCounter* k = countable(t, kind);
    k->count = counted(k->count, 1);
    k->waiting = true;
  };
  for (const auto& key : t.keys)
    if (maintained(*key)) count_one(key->kind);
  count_one(kKindData);
  return 0;
}

int32_t add_record(TableInstance& t, bool append) {
  if (!append)
    if (const std::optional<int32_t> r = add_to_waiting_counts(t)) return *r;
  std::optional<Counter> counter = read_counter(t, kKindData);
  if (!counter) return err::kAccessDenied;  // the table's counter record is missing
  if (!memos_fit(t)) return kMemoTooLong;
  bool in_step = counters_in_step(t);
  const Number number = t.store->new_number();
  keep_in_step(t, in_step);
  const uint32_t record = number_value(number);
  const ByteSpan after = record_buffer(t);
  if (int32_t r = maintain_keys(t, record, nullptr, &after, append); r != 0) return r;
  release_hold(t);
  in_step = counters_in_step(t);
  t.store->insert_record(data_key(t.table, record), file_form(t, after));
  keep_in_step(t, in_step);
  t.current = record;
  keep_read_copy(t, after);
  t.read_without_memos = false;
  ++counter->count;
  if (TableInstance::KnownCounter* k = waiting_counter(t, kKindData)) {
    k->count = counter->count;  // (the counter read above is this one: nothing else changed it)
    k->waiting = true;
  } else {
    store_counter(t, kKindData, *counter, true, true);
  }
  // A new record number: the file holds no memo chunks of it yet.
  in_step = counters_in_step(t);
  insert_memos(t, record);
  keep_in_step(t, in_step);
  return 0;
}

}  // namespace

Bytes kind_key(const Number& table, uint8_t kind) {
  Bytes k(table.begin(), table.end());
  k.push_back(kind);
  return k;
}

DataKey data_key(const Number& table, uint32_t record) {
  DataKey k;
  std::memcpy(k.data(), table.data(), sizeof table);  // (a fixed size: no library call)
  k[4] = kKindData;
  store_be32(k.data() + 5, record);
  return k;
}

Bytes kind_end(const Number& table, uint8_t kind) {
  // The kind byte plus one; kinds never reach 0xFF under a table number.
  return kind_key(table, static_cast<uint8_t>(kind + 1));
}

std::span<uint8_t> record_buffer(TableInstance& t) {
  return {reinterpret_cast<uint8_t*>(t.record), t.record_length};
}

void record_to_file(const TableInstance& t, std::span<uint8_t> record) {
  if (t.oem_file) convert_record(t, record, true);
}

void record_from_file(const TableInstance& t, std::span<uint8_t> record) {
  if (t.oem_file) convert_record(t, record, false);
}

Bytes key_value(const TableInstance& t, const TableKey& key, ByteSpan record) {
  Bytes v(key.shape.value_length);
  encode_key_value(key.shape, record, t.collation, v);
  return v;
}

void build_entry_key(const TableInstance& t, const TableKey& key, ByteSpan record_bytes,
                     uint32_t record, Bytes& out) {
  const size_t value_length = key.shape.value_length;
  out.resize(5 + value_length + (key.duplicates() ? 4 : 0));
  std::memcpy(out.data(), t.table.data(), sizeof t.table);
  out[4] = key.kind;
  encode_key_value(key.shape, record_bytes, t.collation,
                   std::span<uint8_t>(out).subspan(5, value_length));
  if (key.duplicates()) store_be32(out.data() + 5 + value_length, record);
}

Bytes entry_key(const TableInstance& t, const TableKey& key, ByteSpan value, uint32_t record) {
  Bytes k = kind_key(t.table, key.kind);
  k.insert(k.end(), value.begin(), value.end());
  if (key.duplicates()) {
    auto r = be(record);
    k.insert(k.end(), r.begin(), r.end());
  }
  return k;
}

std::optional<Counter> read_counter(TableInstance& t, uint8_t kind) {
  bool stored = false;
  return find_counter(t, kind, stored);
}

void write_counter(TableInstance& t, uint8_t kind, const Counter& c) {
  store_counter(t, kind, c, t.store->find_exact(counter_key(t.table, kind)).has_value());
}

namespace detail {
constinit std::atomic<size_t> waiting_count{0};
}  // namespace detail

void settle_listed_counters(const TableInstance& caller, int32_t code) {
  WaitingList& list = waiting_list();
  // The end of the transaction settles every file; any other call only its own file.
  const bool ends_transaction = code == op::COMMIT || code == op::ROLLBACK;
  const bool adds = code == op::ADD || code == op::APPEND;
  // An ADD after the caller's own ADD: the caller is its file's one entry, and its counts wait on.
  if (adds && caller.counts_listed) return;
  std::vector<TableInstance*> due;
  {
    const std::lock_guard lock(list.mutex);
    for (const WaitingCounts& w : list.entries) {
      if (!ends_transaction && w.store != caller.store) continue;
      if (w.instance == &caller && adds) continue;
      due.push_back(w.instance);
    }
  }
  for (TableInstance* t : due) write_waiting(*t);
}

void settle_own_counters(TableInstance& t) {
  if (t.counts_listed) write_waiting(t);
}

void drop_waiting_counters(const RecordStore& store) {
  WaitingList& list = waiting_list();
  if (detail::waiting_count.load(std::memory_order_relaxed) == 0) return;
  TableInstance* waiting = nullptr;
  {
    const std::lock_guard lock(list.mutex);
    waiting = waiting_in(list, &store);
  }
  if (waiting == nullptr) return;
  for (TableInstance::KnownCounter& k : waiting->known_counters) k.waiting = false;
  unlist_waiting(*waiting);
}

void write_fresh_counters(TableInstance& t) {
  write_counter(t, kKindData, {});
  for (auto& key : t.keys)
    if (!key->dynamic()) write_counter(t, key->kind, {});
}

// The record with its memos as a watch compares them: the record buffer's bytes, then the data of
// every stored memo chunk, so that a memo changed elsewhere is noticed too.
Bytes watched_form(TableInstance& t, uint32_t record, std::span<const uint8_t> record_bytes) {
  Bytes form(record_bytes.begin(), record_bytes.end());
  for (size_t i = 0; i < t.memos.size(); ++i)
    for (const Record& c : memo_chunks_of(t, record, static_cast<uint8_t>(i)))
      form.insert(form.end(), c.data().begin(), c.data().end());
  return form;
}

std::optional<Bytes> stored_record(TableInstance& t, uint32_t record) {
  auto r = t.store->find_exact(data_key(t.table, record));
  if (!r) return std::nullopt;
  Bytes b(r->data.begin(), r->data.end());
  b.resize(t.record_length, 0);
  record_from_file(t, b);
  return b;
}

int32_t read_record(TableInstance& t, uint32_t record) {
  release_hold(t);
  auto r = t.store->find_exact(data_key(t.table, record));
  if (!r) return err::kRecordNotFound;
  return load_record(t, record, r->data);
}

int32_t load_record(TableInstance& t, uint32_t record, ByteSpan stored) {
  release_hold(t);
  if (int32_t h = take_hold(t, record); h != 0) return h;
  const std::span<uint8_t> buffer = record_buffer(t);
  const size_t n = std::min(buffer.size(), stored.size());
  std::memcpy(buffer.data(), stored.data(), n);
  if (n < buffer.size()) std::memset(buffer.data() + n, 0, buffer.size() - n);
  record_from_file(t, buffer);
  t.read_without_memos = t.nomemo_requested;
  if (!t.nomemo_requested && !t.memos.empty()) read_memos(t, record);
  t.nomemo_requested = false;
  t.current = record;
  keep_read_copy(t, buffer);
  if (t.holds.watch_requested) start_watch(t, watched_form(t, record, buffer));
  return 0;
}

void write_memos(TableInstance& t, uint32_t record) {
  delete_memos(t, record);
  insert_memos(t, record);
}

void insert_memos(TableInstance& t, uint32_t record) {
  for (size_t i = 0; i < t.memos.size(); ++i) {
    const TableMemo& m = t.memos[i];
    for (const Record& c :
         memo_chunk_records(t.table, number_from_value(record), static_cast<uint8_t>(i),
                            memo_contents(m), memo_format(t, m)))
      t.store->insert_record(c.key(), c.data());
  }
}

void delete_memos(TableInstance& t, uint32_t record) {
  for (size_t i = 0; i < t.memos.size(); ++i)
    for (const Record& c : memo_chunks_of(t, record, static_cast<uint8_t>(i)))
      t.store->delete_record(c.key());
}

void delete_table_records(TableInstance& t) {
  t.store->delete_prefix(t.table);
  for (auto& key : t.keys)
    if (key->index) key->index->clear();
}

int32_t op_add(TableInstance& t, FileCall&) {
  return add_record(t, false);
}

int32_t op_append(TableInstance& t, FileCall&) {
  return add_record(t, true);
}

namespace {

int32_t put_record(TableInstance& t) {
  if (t.current == 0) return err::kRecordNotAvailable;
  const uint32_t record = t.current;
  if (int32_t r = lock_for_put(t, record); r != 0) return r;
  int32_t result = 0;
  const std::optional<Bytes> before = stored_record(t, record);
  if (!before) {
    result = err::kRecordNotAvailable;
  } else if (int32_t w =
                 t.holds.watch_active ? check_watch(t, watched_form(t, record, *before)) : 0;
             w != 0) {
    result = w;
  } else {
    const ByteSpan after = record_buffer(t);
    const ByteSpan stored = *before;
    const bool memos_too = !t.read_without_memos;
    const bool same_record = std::equal(after.begin(), after.end(), stored.begin(), stored.end());
    const bool same_memos = !memos_too || memos_unchanged(t, record);
    if (memos_too && !memos_fit(t)) {
      result = kMemoTooLong;
    } else if (!same_record || !same_memos) {
      if (!same_record) result = maintain_keys(t, record, &stored, &after, false);
      if (result == 0) {
        if (!same_record) t.store->replace_record(data_key(t.table, record), file_form(t, after));
        if (!same_memos) write_memos(t, record);
      }
    }
    // The record as written is the one POSITIONkey reports (PUTfileptr has read none before).
    if (result == 0) keep_read_copy(t, after);
  }
  return result;
}

}  // namespace

int32_t op_put(TableInstance& t, FileCall&) {
  return put_record(t);
}

int32_t op_put_pointer(TableInstance& t, FileCall& call) {
  const auto record = static_cast<uint32_t>(call.operand(0));
  if (record == 0 || !t.store->find_exact(data_key(t.table, record)))
    return err::kRecordNotAvailable;
  t.current = record;
  t.read_without_memos = false;
  return put_record(t);
}

int32_t op_delete(TableInstance& t, FileCall&) {
  if (t.current == 0) return err::kRecordNotAvailable;
  const uint32_t record = t.current;
  if (int32_t r = lock_for_put(t, record); r != 0) return r;
  const std::optional<Bytes> before = stored_record(t, record);
  if (!before) return err::kRecordNotAvailable;
  t.store->delete_record(data_key(t.table, record));
  // Entries of the stored record go; a stale key may lack one, which changes nothing.
  for (auto& key : t.keys) {
    if (key->dynamic() || key->shape.components.empty()) continue;
    build_entry_key(t, *key, *before, record, key->old_entry);
    if (delete_entry_of(entry_store(t, *key), *key, key->old_entry, record))
      add_to_count(t, key->kind, -1);
  }
  add_to_count(t, kKindData, -1);
  delete_memos(t, record);
  t.current = 0;
  return 0;
}

int32_t op_duplicate(TableInstance& t, FileCall& call) {
  const ByteSpan buffer = record_buffer(t);
  bool duplicate = false;
  for (auto& key : t.keys) {
    if (call.key_data != nullptr && key.get() != call.key_data) continue;
    if (key->duplicates() || key->shape.components.empty()) continue;
    build_entry_key(t, *key, buffer, 0, key->new_entry);
    auto r = entry_store(t, *key).find_exact(key->new_entry);
    if (r && r->data.size() >= 4 && load_be32(r->data.data()) != t.current) duplicate = true;
  }
  call.value = duplicate ? 1 : 0;
  return 0;
}

}  // namespace vtn::tarnwell
