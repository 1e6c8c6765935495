// Positions and reading: the SET and RESET operations only set a position; NEXT, PREVIOUS, SKIP,
// BOF and EOF search from it. A search in record-number order walks the table's data records; a
// search in key order walks the key's entries and reaches each record through the record number
// in the entry's data part, skipping entries whose record is gone. Every search stays inside the
// table's own records of the kind concerned.
#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"

namespace vtn::tarnwell {
namespace {

// A search's answer; the key part the reading continues from is left in the caller's buffer.
// A search that came upon the data record itself (in record order, or checking that an entry's
// record exists) hands on its data part, so that reading it needs no second look-up.
struct Found {
  uint32_t record = 0;
  bool key_order = false;
  bool has_data = false;
  ByteSpan data;  // when has_data: valid until the next call on the table's store
};

Bytes with_number(Bytes key, uint32_t n) {
  const size_t at = key.size();
  key.resize(at + 4);
  store_be32(key.data() + at, n);
  return key;
}

void keep_key(Bytes& saved, ByteSpan key) {
  saved.resize(key.size());
  std::memcpy(saved.data(), key.data(), key.size());
}

// The first entry in `direction` whose record exists, beginning with `r`, into `out`; false when
// there is none. A reader that loads the record anyway passes verify = false and walks on itself
// when the record is gone.
bool walk_entries(TableInstance& t, TableKey& key, std::optional<RecordView> r, bool forward,
                  Bytes& saved, Found& out, bool verify = true) {
  RecordStore& s = entry_store(t, key);
  while (r && of_kind(r->key, t.table, key.kind)) {
    keep_key(saved, r->key);
    const uint32_t record = r->data.size() >= 4 ? load_be32(r->data.data()) : 0;
    if (record != 0) {
      out.record = record;
      out.key_order = true;
      if (!verify) return true;
      if (const auto d = t.store->find_exact(data_key(t.table, record))) {
        out.has_data = true;
        out.data = d->data;
        return true;
      }
    }
    r = forward ? s.find_first_after(saved) : s.find_last_before(saved);
  }
  return false;
}

bool data_found(TableInstance& t, const std::optional<RecordView>& r, Bytes& saved, Found& out) {
  if (!r || r->key.size() != 9 || !of_kind(r->key, t.table, kKindData)) return false;
  keep_key(saved, r->key);
  out.record = load_be32(r->key.data() + 5);
  out.has_data = true;
  out.data = r->data;
  return true;
}

// The key part for a search from the record buffer's value in `key`.
Bytes value_start(TableInstance& t, TableKey& key, bool forward) {
  Bytes k = kind_key(t.table, key.kind);
  const Bytes v = key_value(t, key, record_buffer(t));
  k.insert(k.end(), v.begin(), v.end());
  if (key.duplicates()) k = with_number(std::move(k), forward ? 0 : 0xFFFFFFFF);
  return k;
}

// `verify`: an entry counts only when its record exists (BOF, EOF, SKIP); a reader that loads the
// record anyway passes false and walks on when the load finds nothing.
// The answer goes to `out` (false: none), the key part it continues from to `saved`.
bool search(TableInstance& t, const Position& p, bool forward, bool verify, Bytes& saved,
            Found& out) {
  RecordStore& data = *t.store;
  switch (p.kind) {
    case PositionKind::none:
      return false;
    case PositionKind::file_start:
      return data_found(t,
                        forward ? data.find_first_after(kind_key(t.table, kKindData))
                                : data.find_last_before(kind_end(t.table, kKindData)),
                        saved, out);
    case PositionKind::file_from_record: {
      const DataKey k = data_key(t.table, p.record);
      return data_found(t, forward ? data.find_at_or_after(k) : data.find_at_or_before(k), saved,
                        out);
    }
    case PositionKind::file_continuing:
      return data_found(
          t, forward ? data.find_first_after(p.saved) : data.find_last_before(p.saved), saved, out);
    case PositionKind::file_from_key_value: {
      RecordStore& s = entry_store(t, *p.key);
      if (!walk_entries(t, *p.key,
                        forward ? s.find_at_or_after(p.saved) : s.find_at_or_before(p.saved),
                        forward, saved, out))
        return false;
      keep_key(saved, data_key(t.table, out.record));
      out.key_order = false;
      return true;
    }
    default:
      break;
  }
  TableKey& key = *p.key;
  RecordStore& s = entry_store(t, key);
  switch (p.kind) {
    case PositionKind::key_start:
      return walk_entries(t, key,
                          forward ? s.find_first_after(kind_key(t.table, key.kind))
                                  : s.find_last_before(kind_end(t.table, key.kind)),
                          forward, saved, out, verify);
    case PositionKind::key_from_value:
    case PositionKind::key_from_value_and_record:
      return walk_entries(t, key,
                          forward ? s.find_at_or_after(p.saved) : s.find_at_or_before(p.saved),
                          forward, saved, out, verify);
    case PositionKind::key_from_record: {
      const std::optional<Bytes> stored = stored_record(t, p.record);
      if (!stored) return false;
      const Bytes k = entry_key(t, key, key_value(t, key, *stored), p.record);
      return walk_entries(t, key, forward ? s.find_at_or_after(k) : s.find_at_or_before(k), forward,
                          saved, out, verify);
    }
    case PositionKind::key_continuing:
      return walk_entries(t, key,
                          forward ? s.find_first_after(p.saved) : s.find_last_before(p.saved),
                          forward, saved, out, verify);
    default:
      return false;
  }
}

// Reading goes on from the key part the search found (in `saved`, which takes the old one): along
// `key`, or in record order when it is null.
void continue_from(TableInstance& t, TableKey* key, Bytes& saved) {
  t.position.kind = key != nullptr ? PositionKind::key_continuing : PositionKind::file_continuing;
  t.position.key = key;
  t.position.saved.swap(saved);
}

TableKey* key_if(const Found& f, TableKey* key) {
  return f.key_order ? key : nullptr;
}

// Loads the record a search found.
int32_t read_found(TableInstance& t, const Found& f) {
  return f.has_data ? load_record(t, f.record, f.data) : read_record(t, f.record);
}

TableKey* key_of(FileCall& call) {
  return static_cast<TableKey*>(call.key_data);
}

// A position text as POSITIONfile and POSITIONkey give it: the record number (4 bytes as
// stored), then for a key the key value.
bool position_record(const std::string& text, uint32_t& record) {
  if (text.size() < 4) return false;
  record = load_be32(reinterpret_cast<const uint8_t*>(text.data()));
  return true;
}

}  // namespace

int32_t op_set(TableInstance& t, FileCall& call) {
  Position p;
  TableKey* key = key_of(call);
  switch (call.code) {
    case op::SETfile:
      p.kind = PositionKind::file_start;
      break;
    case op::SETfileptr: {
      const auto ptr = static_cast<int32_t>(call.operand(0));
      p.kind = ptr <= 0 ? PositionKind::file_start : PositionKind::file_from_record;
      p.record = static_cast<uint32_t>(ptr);
      break;
    }
    case op::SETfilekey:
    case op::SETkeykey:
      if (key->shape.components.empty()) return err::kKeyMustBeRebuilt;
      p.kind = call.code == op::SETfilekey ? PositionKind::file_from_key_value
                                           : PositionKind::key_from_value;
      p.key = key;
      break;
    case op::SETkey:
      p.kind = PositionKind::key_start;
      p.key = key;
      break;
    case op::SETkeyptr: {
      const auto ptr = static_cast<int32_t>(call.operand(1));
      p.kind = ptr <= 0 ? PositionKind::key_start : PositionKind::key_from_record;
      p.key = key;
      p.record = static_cast<uint32_t>(ptr);
      break;
    }
    case op::SETkeykeyptr: {
      if (key->shape.components.empty()) return err::kKeyMustBeRebuilt;
      p.kind = PositionKind::key_from_value_and_record;
      p.key = key;
      const auto ptr = static_cast<uint32_t>(call.operand(2));
      p.saved = entry_key(t, *key, key_value(t, *key, record_buffer(t)), ptr);
      break;
    }
    case op::RESETfile:
      if (!position_record(call.strings[0], p.record)) return err::kRecordNotFound;
      p.kind = PositionKind::file_from_record;
      break;
    case op::RESETkey: {
      uint32_t record = 0;
      const std::string& text = call.strings[0];
      if (!position_record(text, record) || text.size() - 4 < key->shape.value_length)
        return err::kRecordNotFound;
      const auto* v = reinterpret_cast<const uint8_t*>(text.data()) + 4;
      p.kind = PositionKind::key_from_value_and_record;
      p.key = key;
      p.saved = entry_key(t, *key, ByteSpan(v, key->shape.value_length), record);
      break;
    }
    default:
      return err::kUnsupported;
  }
  // A value position keeps the value of the buffer as it is now, for each direction.
  if (p.kind == PositionKind::key_from_value || p.kind == PositionKind::file_from_key_value)
    p.saved = value_start(t, *key, true);
  t.position = std::move(p);
  t.current = 0;
  return 0;
}

namespace {

// Reading goes on along `key` from the entry `from` (the position's, or one whose record is gone):
// the next entry in `forward` direction whose record can be read is read. An entry whose record
// is gone is passed over; the position moves only when a record was read.
int32_t read_on_in_key(TableInstance& t, TableKey& key, ByteSpan from, bool forward) {
  RecordStore& s = entry_store(t, key);
  Bytes& saved = t.found_key;
  std::optional<RecordView> r = forward ? s.find_first_after(from) : s.find_last_before(from);
  // (`from` may be `saved`: it is not read again.)
  while (r && of_kind(r->key, t.table, key.kind)) {
    keep_key(saved, r->key);
    const uint32_t record = r->data.size() >= 4 ? load_be32(r->data.data()) : 0;
    if (record != 0) {
      const int32_t result = read_record(t, record);
      if (result == 0) {
        continue_from(t, &key, saved);
        return 0;
      }
      if (result != err::kRecordNotFound) {
        t.current = 0;
        return result;
      }
    }
    r = forward ? s.find_first_after(saved) : s.find_last_before(saved);
  }
  t.current = 0;
  return err::kRecordNotAvailable;
}

// Reading goes on in record order from the data record `from`.
int32_t read_on_in_file(TableInstance& t, ByteSpan from, bool forward) {
  const std::optional<RecordView> r =
      forward ? t.store->find_first_after(from) : t.store->find_last_before(from);
  if (!r || r->key.size() != 9 || !of_kind(r->key, t.table, kKindData)) {
    t.current = 0;
    return err::kRecordNotAvailable;
  }
  Bytes& saved = t.found_key;
  keep_key(saved, r->key);
  const uint32_t record = load_be32(r->key.data() + 5);
  if (const int32_t result = load_record(t, record, r->data); result != 0) {
    t.current = 0;
    return result;
  }
  continue_from(t, nullptr, saved);
  return 0;
}

// The first read from a position that SET or RESET made, or after a GET.
int32_t read_from_position(TableInstance& t, bool forward) {
  const Position* p = &t.position;
  std::optional<Position> changed;
  // A value position of a key with duplicates reads backwards from after all equal entries.
  if (!forward && p->key && p->key->duplicates() &&
      (p->kind == PositionKind::key_from_value || p->kind == PositionKind::file_from_key_value)) {
    changed.emplace(t.position);
    store_be32(changed->saved.data() + changed->saved.size() - 4, 0xFFFFFFFF);
    p = &*changed;
  }
  Bytes& saved = t.found_key;
  Found f;
  if (!search(t, *p, forward, false, saved, f)) {
    t.current = 0;
    return err::kRecordNotAvailable;
  }
  const int32_t r = read_found(t, f);
  // An entry whose record is gone is passed over: reading goes on from it.
  if (r == err::kRecordNotFound && f.key_order) return read_on_in_key(t, *p->key, saved, forward);
  if (r != 0) {
    t.current = 0;
    return r == err::kRecordNotFound ? err::kRecordNotAvailable : r;
  }
  continue_from(t, key_if(f, p->key), saved);
  return 0;
}

}  // namespace

int32_t op_next(TableInstance& t, FileCall& call) {
  const bool forward = call.code == op::NEXT;
  switch (t.position.kind) {
    case PositionKind::key_continuing:
      return read_on_in_key(t, *t.position.key, t.position.saved, forward);
    case PositionKind::file_continuing:
      return read_on_in_file(t, t.position.saved, forward);
    default:
      return read_from_position(t, forward);
  }
}

int32_t op_skip(TableInstance& t, FileCall& call) {
  const auto count = static_cast<int32_t>(call.operand(0));
  const bool forward = count > 0;
  Bytes& saved = t.found_key;
  for (int64_t i = 0; i < (count < 0 ? -int64_t{count} : count); ++i) {
    Found f;
    if (!search(t, t.position, forward, true, saved, f)) break;  // stops at either end
    continue_from(t, key_if(f, t.position.key), saved);
  }
  t.current = 0;
  return 0;
}

int32_t op_bof_eof(TableInstance& t, FileCall& call) {
  Position p = t.position;
  const bool forward = call.code == op::EOF_;
  if (!forward && p.key && p.key->duplicates() &&
      (p.kind == PositionKind::key_from_value || p.kind == PositionKind::file_from_key_value))
    store_be32(p.saved.data() + p.saved.size() - 4, 0xFFFFFFFF);
  Found f;
  call.value = search(t, p, forward, true, t.found_key, f) ? 0 : 1;
  return 0;
}

int32_t op_get(TableInstance& t, FileCall& call) {
  uint32_t record = 0;
  switch (call.code) {
    case op::GETfilekey: {
      TableKey& key = *key_of(call);
      if (key.shape.components.empty()) return err::kKeyMustBeRebuilt;
      // The entry key of the buffer's value; with duplicates, of record 0: the first entry of the
      // value is at or after it.
      Bytes& entry = t.search_key;
      build_entry_key(t, key, record_buffer(t), 0, entry);
      const ByteSpan value_key = ByteSpan(entry).first(entry.size() - (key.duplicates() ? 4 : 0));
      RecordStore& s = entry_store(t, key);
      Bytes& saved = t.found_key;
      Found f;
      if (key.duplicates()) {
        if (!walk_entries(t, key, s.find_at_or_after(entry), true, saved, f) ||
            !has_prefix(saved, value_key))
          return err::kRecordNotFound;
      } else {
        // The one entry of the value (an entry without a record number names none); a record
        // that is gone reads as not found below.
        const std::optional<RecordView> r = s.find_exact(entry);
        if (!r || r->data.size() < 4 || load_be32(r->data.data()) == 0) return err::kRecordNotFound;
        f.record = load_be32(r->data.data());
        f.key_order = true;
        keep_key(saved, r->key);
      }
      if (int32_t r = read_found(t, f); r != 0) return r;
      continue_from(t, &key, saved);
      return 0;
    }
    case op::GETfileptr:
    case op::GETfileptrlen:
      record = static_cast<uint32_t>(call.operand(0));
      break;
    case op::GETkeyptr:
      record = static_cast<uint32_t>(call.operand(1));
      break;
    case op::REGETfile:
    case op::REGETkey:
      if (!position_record(call.strings[0], record)) return err::kRecordNotFound;
      break;
    default:
      return err::kUnsupported;
  }
  if (record == 0) return err::kRecordNotFound;
  if (int32_t r = read_record(t, record); r != 0) return r;
  t.position.kind = PositionKind::file_continuing;
  t.position.key = nullptr;
  keep_key(t.position.saved, data_key(t.table, record));
  return 0;
}

int32_t op_pointer(TableInstance& t, FileCall& call) {
  call.value = static_cast<int32_t>(t.current);
  return 0;
}

int32_t op_position(TableInstance& t, FileCall& call) {
  if (t.current == 0) return err::kRecordNotAvailable;
  uint8_t number[4];
  store_be32(number, t.current);
  call.result_text.assign(reinterpret_cast<const char*>(number), 4);
  if (call.code == op::POSITIONkey) {
    TableKey& key = *key_of(call);
    // (Should no copy of the current record be kept, the buffer stands in rather than nothing.)
    const ByteSpan read =
        t.read_copy.size() == t.record_length ? ByteSpan(t.read_copy) : ByteSpan(record_buffer(t));
    const Bytes v = key_value(t, key, read);
    call.result_text.append(reinterpret_cast<const char*>(v.data()), v.size());
  }
  return 0;
}

int32_t op_records(TableInstance& t, FileCall& call) {
  uint8_t kind = kKindData;
  if (call.code == op::RECORDSkey) {
    TableKey& key = *key_of(call);
    if (key.index) {
      call.value = static_cast<int32_t>(key.index->size());
      return 0;
    }
    kind = key.kind;
  }
  const std::optional<Counter> c = read_counter(t, kind);
  call.value = c ? static_cast<int32_t>(c->count) : 0;
  return 0;
}

}  // namespace vtn::tarnwell
