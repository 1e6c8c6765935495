// The life cycle of a table: CREATE, OPEN (and SHARE), CLOSE, NAME, REMOVE, RENAME, COPY, EMPTY.
// RENAME and COPY of a whole physical file are here; of one table, in table_copy.cpp.
//
// A table lives in its physical file as a table-name record (FE, name, 00 -> table number) and
// the records that begin with its table number: its definition stream (FA chunks), its collation
// record (FB), counters (F6), data records (F3), key entries and memo chunks.
#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/locking_hooks.hpp"
#include "runtime/files/tarnwell/table_lock.hpp"
#include "runtime/files/tarnwell/table_names.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"
#include "runtime/values/char_tables.hpp"

namespace vtn::tarnwell {
namespace {

void write_definition_stream(TableInstance& t) {
  for (const Record& c : definition_chunks(t.table, write_definition(t.definition)))
    t.store->insert_record(c.key(), c.data());
}

}  // namespace

void write_collation(TableInstance& t) {
  t.collation = collation_from(char_tables(), t.oem_file);
  const Record r = collation_record(t.table, t.oem_file, t.collation.bytes);
  if (t.store->find_exact(r.key()))
    t.store->replace_record(r.key(), r.data());
  else
    t.store->insert_record(r.key(), r.data());
}

namespace {

void take_collation(TableInstance& t) {
  Bytes k = kind_key(t.table, kKindCollation);
  k.push_back(0x01);
  auto r = t.store->find_exact(k);
  Record copy;
  if (r) {
    copy.bytes.assign(r->key.begin(), r->key.end());
    copy.bytes.insert(copy.bytes.end(), r->data.begin(), r->data.end());
    copy.key_length = static_cast<uint16_t>(r->key.size());
  }
  if (auto c = r ? read_collation(copy) : std::nullopt) {
    std::copy(c->tables.begin(), c->tables.end(), t.collation.bytes.begin());
    t.collation.oem = c->oem;
  } else {
    // A table without a collation record (emptied since it was created) keys its text by the
    // run-time's tables of the moment.
    t.collation = collation_from(char_tables(), t.oem_file);
  }
}

std::optional<std::vector<uint8_t>> stored_definition_stream(TableInstance& t) {
  const Bytes prefix = kind_key(t.table, kKindDefinition);
  std::vector<Record> chunks;
  auto r = t.store->find_first_after(prefix);
  while (r && has_prefix(r->key, prefix)) {
    Record c;
    c.bytes.assign(r->key.begin(), r->key.end());
    c.bytes.insert(c.bytes.end(), r->data.begin(), r->data.end());
    c.key_length = static_cast<uint16_t>(r->key.size());
    const Bytes key(r->key.begin(), r->key.end());
    chunks.push_back(std::move(c));
    r = t.store->find_first_after(key);
  }
  return join_definition_chunks(t.table, chunks);
}

// Opens the table in the open store. 0 or an error; the caller ends the access.
int32_t find_or_make_table(TableInstance& t, const std::string& table_name, bool creating,
                           bool accept_any_definition) {
  const Bytes key = table_name_key(table_name);
  if (creating) {
    if (int32_t r = begin_operation_access(t, true); r != 0) return r;
    if (auto old = t.store->find_exact(key); old && old->data.size() == 4) {
      std::copy(old->data.begin(), old->data.end(), t.table.begin());
      t.store->delete_record(key);
      delete_table_records(t);
    }
    t.table = t.store->new_number();
    const Record name = table_name_record(table_name, t.table);
    t.store->insert_record(name.key(), name.data());
    write_definition_stream(t);
    write_fresh_counters(t);
    write_collation(t);
    return 0;
  }
  if (int32_t r = begin_operation_access(t, false); r != 0) return r;
  auto found = t.store->find_exact(key);
  if (!found || found->data.size() != 4) return err::kFileNotFound;
  std::copy(found->data.begin(), found->data.end(), t.table.begin());
  const auto stream = stored_definition_stream(t);
  const auto stored = stream ? read_definition(*stream) : std::nullopt;
  if (t.file->record_type == nullptr) {
    if (!stored) return err::kInvalidRecordDeclaration;
    if (int32_t r = adopt_definition(t, stored->definition); r != 0) return r;
  } else if (!accept_any_definition && (!stored || !definitions_match(*stored, t.definition))) {
    return err::kInvalidRecordDeclaration;
  }
  take_collation(t);
  return 0;
}

}  // namespace

Bytes table_name_key(const std::string& table) {
  const Record r = table_name_record(table, Number{});
  return Bytes(r.key().begin(), r.key().end());
}

int32_t system_error() {
  constexpr int32_t kSystemErrorBase = 300;
  return kSystemErrorBase + static_cast<int32_t>(platform::last_error());
}

int32_t open_table(TableInstance& t, uint32_t access, bool creating, bool accept_any_definition) {
  const TableName name = split_table_name(t.file_name);
  const std::optional<std::string> path = physical_file_path(name.file);
  if (!path) return err::kInvalidFilename;
  RecordStore* store = nullptr;
  if (int32_t r = store_provider().open(*path, access, t.owner, store); r != 0) return r;
  t.store = store;
  t.physical_name = *path;
  int32_t result = find_or_make_table(t, name.table, creating, accept_any_definition);
  if (result != 0) t.store->discard_changes();
  const int32_t ended = end_operation_access(t);
  if (result == 0) result = ended;
  if (result != 0) close_table(t);
  t.current = 0;
  t.position = Position{};
  return result;
}

void close_table(TableInstance& t) {
  if (t.store == nullptr) return;
  if (t.store->in_access()) t.store->end_access();
  // A closed table leaves neither its record nor its table locked while other tables of the same
  // file stay open in the process.
  release_hold(t);
  if (RecordFile* f = record_file_of(t)) unlock_table(*f, number_value(t.table));
  store_provider().close(t.store);
  t.store = nullptr;
  t.current = 0;
  t.position = Position{};
  for (auto& key : t.keys) {
    if (key->index) key->index->clear();
    key->state &= ~FS_KEYREADY;
  }
}

int32_t op_open(TableInstance& t, FileCall& call) {
  if (t.file_name.empty()) return err::kInvalidFilename;
  return open_table(t, static_cast<uint32_t>(call.operand(0)), false, false);
}

int32_t op_create(TableInstance& t, FileCall&) {
  if ((t.file->attributes & FA_CREATE) == 0) return err::kNoCreateAttribute;
  if (t.file_name.empty()) return err::kInvalidFilename;
  if (t.file->record_type == nullptr) return err::kInvalidRecordDeclaration;
  const int32_t r = open_table(t, kCreateAccess, true, true);
  close_table(t);
  return r;
}

int32_t op_close(TableInstance& t, FileCall&) {
  close_table(t);
  return 0;
}

int32_t op_name(TableInstance& t, FileCall& call) {
  call.result_text = t.file_name;
  return 0;
}

int32_t remove_open_table(TableInstance& t) {
  const TableName name = split_table_name(t.file_name);
  int32_t result = begin_operation_access(t, true);
  bool last_table = false;
  if (result == 0) {
    t.store->delete_record(table_name_key(name.table));
    auto other = t.store->find_first_after(Bytes{kTableNameByte});
    last_table = !other || other->key.empty() || other->key[0] != kTableNameByte;
    if (!last_table) delete_table_records(t);
    result = end_operation_access(t);
  }
  const std::string path = t.physical_name;
  close_table(t);
  if (result == 0 && last_table) result = store_provider().remove(path);
  return result;
}

int32_t op_remove(TableInstance& t, FileCall&) {
  if (t.file_name.empty()) return err::kInvalidFilename;
  if (int32_t r = open_table(t, kRemoveAccess, false, true); r != 0) return r;
  return remove_open_table(t);
}

int32_t op_rename_copy(TableInstance& t, FileCall& call) {
  if (t.file_name.empty() || call.strings[0].empty()) return err::kInvalidFilename;
  const TableName from = split_table_name(t.file_name);
  const TableName to = split_table_name(call.strings[0]);
  const auto from_path = physical_file_path(from.file);
  const auto to_path = physical_file_path(to.file);
  if (!from_path || !to_path) return err::kInvalidFilename;
  const bool rename = call.code == op::RENAME;
  // A name with a table part on either side copies (or moves) that one table; otherwise the
  // physical file goes whole, with every table in it.
  if (from.table_given || to.table_given)
    return copy_table(t, from, *from_path, to, *to_path, rename);
  const bool ok = rename ? platform::rename_file(*from_path, *to_path, false)
                         : platform::copy_file(*from_path, *to_path, true);
  return ok ? 0 : system_error();
}

int32_t op_empty(TableInstance& t, FileCall&) {
  delete_table_records(t);
  write_definition_stream(t);
  write_fresh_counters(t);
  t.current = 0;
  t.position = Position{};
  return 0;
}

int32_t op_bytes(TableInstance& t, FileCall& call) {
  const uint64_t bytes = t.store->file_bytes();
  call.value = static_cast<int32_t>(bytes > 0x7FFFFFFF ? 0x7FFFFFFF : bytes);
  return 0;
}

}  // namespace vtn::tarnwell
