// The operations of the record-file driver on one table, shared between the files that carry
// them out (table_open, record_ops, positioning, key_build, send_options). The driver's entry
// (tarnwell_driver.cpp) calls them inside an access of the table's physical file.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/tarnwell/table_block.hpp"
#include "runtime/files/tarnwell/table_names.hpp"

namespace vtn::tarnwell {

// Error codes the table layer reports.
namespace err {
inline constexpr int32_t kFileNotFound = 2;
inline constexpr int32_t kAccessDenied = 5;
inline constexpr int32_t kRecordNotAvailable = 33;
inline constexpr int32_t kRecordNotFound = 35;
inline constexpr int32_t kInvalidDataFile = 36;
inline constexpr int32_t kCreatesDuplicateKey = 40;
inline constexpr int32_t kInvalidFilename = 45;
inline constexpr int32_t kKeyMustBeRebuilt = 46;
inline constexpr int32_t kInvalidRecordDeclaration = 47;
inline constexpr int32_t kNoCreateAttribute = 54;
inline constexpr int32_t kUnsupported = 80;
inline constexpr int32_t kFileSystemError = 90;
inline constexpr int32_t kBuildCancelled = 93;
}  // namespace err

// Fixed access modes of the driver's own opens.
inline constexpr uint32_t kCreateAccess = 0x142;
inline constexpr uint32_t kRemoveAccess = 0x42;
inline constexpr uint32_t kBuildAccess = 0x22;

// --- Key parts ------------------------------------------------------------------------------
Bytes kind_key(const Number& table, uint8_t kind);
using DataKey = std::array<uint8_t, 9>;
DataKey data_key(const Number& table, uint32_t record);
// The first key part after every record of the kind (for reading backwards from the end).
Bytes kind_end(const Number& table, uint8_t kind);
inline bool has_prefix(ByteSpan key, ByteSpan prefix) {
  return key.size() >= prefix.size() &&
         (prefix.empty() || std::memcmp(key.data(), prefix.data(), prefix.size()) == 0);
}
// Whether `key` is a key part of `table`'s records of `kind` (the table number, then the kind).
inline bool of_kind(ByteSpan key, const Number& table, uint8_t kind) {
  return key.size() > sizeof table && key[sizeof table] == kind &&
         std::memcmp(key.data(), table.data(), sizeof table) == 0;
}

// --- Definition (table_definition.cpp) ----------------------------------------------------
// Builds fields, keys, memos and the definition stream from the FileBlock's declaration.
int32_t prepare_table(TableInstance& t, FileBlock& file);
// Takes the stored definition as the table's own (a program that declares no layout).
int32_t adopt_definition(TableInstance& t, const TableDefinition& stored);
// The key's shape from its components (field numbers from 1; negative descending).
bool shape_key(const std::vector<FieldDescriptor>& fields, const int32_t* components, size_t count,
               bool case_insensitive, KeyShape& out);

// --- Records (record_ops.cpp) ---------------------------------------------------------------
// ANSI <-> OEM of the string fields, in place, when the file has the OEM attribute.
void record_to_file(const TableInstance& t, std::span<uint8_t> record);
void record_from_file(const TableInstance& t, std::span<uint8_t> record);
std::span<uint8_t> record_buffer(TableInstance& t);
// The encoded key value of a record (record buffer code page).
Bytes key_value(const TableInstance& t, const TableKey& key, ByteSpan record);
// The key part of the entry of `record` in `key`.
Bytes entry_key(const TableInstance& t, const TableKey& key, ByteSpan value, uint32_t record);
// The same, from the record's bytes (record buffer code page), built in `out` over whatever it
// held: no allocation once `out` has grown.
void build_entry_key(const TableInstance& t, const TableKey& key, ByteSpan record_bytes,
                     uint32_t record, Bytes& out);
inline RecordStore& entry_store(TableInstance& t, TableKey& key) {
  return key.index ? *key.index : *t.store;
}

struct Counter {
  uint32_t count = 0, second = 0;
};
std::optional<Counter> read_counter(TableInstance& t, uint8_t kind);
void write_counter(TableInstance& t, uint8_t kind, const Counter& c);
void write_fresh_counters(TableInstance& t);
// An ADD or APPEND inside a transaction leaves its counts waiting in the instance (one instance
// per physical file). Before any other operation on that file (another instance's, or this one's
// other than ADD and APPEND: CLOSE and FLUSH among them) and before COMMIT or ROLLBACK they are
// written, so that nobody reads a counter record behind them; the byte images at COMMIT are the
// same, since a counter record keeps its length. Calls on other files, which may come from other
// threads, leave them alone. REQUIRES: `caller`'s operation not yet begun.
namespace detail {
extern std::atomic<size_t> waiting_count;  // instances on the list; most calls find none
}  // namespace detail
void settle_listed_counters(const TableInstance& caller, int32_t code);
inline void settle_waiting_counters(const TableInstance& caller, int32_t code) {
  if (detail::waiting_count.load(std::memory_order_relaxed) == 0) return;
  // An ADD after the caller's own ADD: the caller is its file's one entry, and its counts wait on.
  if ((code == op::ADD || code == op::APPEND) && caller.counts_listed) return;
  settle_listed_counters(caller, code);
}
// The counts waiting for `t`, written now (CLOSE, the instance going away).
void settle_own_counters(TableInstance& t);
// Drops the counts waiting for the store that is about to drop its changes.
void drop_waiting_counters(const RecordStore& store);

// Loads record `record` into the record buffer (and its memos unless NOMEMO), makes it current.
// 0, or 35 when there is no such data record.
int32_t read_record(TableInstance& t, uint32_t record);
// The same for a data record the caller has just found: `stored` is its data part, a view of
// the store that no other call on the store has invalidated since.
int32_t load_record(TableInstance& t, uint32_t record, ByteSpan stored);
// The data record's stored bytes converted to the record buffer's code page; none when absent.
std::optional<Bytes> stored_record(TableInstance& t, uint32_t record);
// Deletes every record whose key part starts with the table's number (EMPTY, REMOVE).
void delete_table_records(TableInstance& t);
void write_memos(TableInstance& t, uint32_t record);
// The memo chunks of the memo buffers, for a record that has none stored.
void insert_memos(TableInstance& t, uint32_t record);
void delete_memos(TableInstance& t, uint32_t record);

int32_t op_add(TableInstance& t, FileCall& call);
int32_t op_append(TableInstance& t, FileCall& call);
int32_t op_put(TableInstance& t, FileCall& call);
int32_t op_put_pointer(TableInstance& t, FileCall& call);
int32_t op_delete(TableInstance& t, FileCall& call);
int32_t op_duplicate(TableInstance& t, FileCall& call);

// --- Positioning and reading (positioning.cpp) -----------------------------------------------
int32_t op_set(TableInstance& t, FileCall& call);
int32_t op_next(TableInstance& t, FileCall& call);
int32_t op_skip(TableInstance& t, FileCall& call);
int32_t op_bof_eof(TableInstance& t, FileCall& call);
int32_t op_get(TableInstance& t, FileCall& call);
int32_t op_pointer(TableInstance& t, FileCall& call);
int32_t op_position(TableInstance& t, FileCall& call);
int32_t op_records(TableInstance& t, FileCall& call);

// --- Life cycle (table_open.cpp) ------------------------------------------------------------
int32_t op_open(TableInstance& t, FileCall& call);
int32_t op_create(TableInstance& t, FileCall& call);
int32_t op_close(TableInstance& t, FileCall& call);
int32_t op_name(TableInstance& t, FileCall& call);
int32_t op_remove(TableInstance& t, FileCall& call);
int32_t op_rename_copy(TableInstance& t, FileCall& call);
int32_t op_empty(TableInstance& t, FileCall& call);
int32_t op_bytes(TableInstance& t, FileCall& call);
// Opens the table named by the instance with `access`. `creating`: create or replace it.
int32_t open_table(TableInstance& t, uint32_t access, bool creating, bool accept_any_definition);
void close_table(TableInstance& t);
// Removes the open table from its file and closes it: its table-name record goes, and its
// records, unless it was the file's last table; then the physical file is deleted.
int32_t remove_open_table(TableInstance& t);

// --- Copying a table (table_copy.cpp) -----------------------------------------------------
// COPY or RENAME of the table `from` (the instance's table, closed) to `to` in the physical file
// `to_path`. 0, an error of OPEN, or 300 + 80 (target table exists, RENAME; or the same table)
// / 300 + 32 (COPY onto itself).
int32_t copy_table(TableInstance& t, const TableName& from, const std::string& from_path,
                   const TableName& to, const std::string& to_path, bool rename);

// Replaces the table's collation record with one made from the run-time's current collation
// tables and the file's OEM attribute, and keys the table by it (CREATE, and a FULLBUILD).
void write_collation(TableInstance& t);
// The key part of the table-name record of `table`.
Bytes table_name_key(const std::string& table);
// The platform's last error as the code the driver reports (300 + the system error).
int32_t system_error();

// --- Keys (key_build.cpp) -------------------------------------------------------------------
int32_t op_build(TableInstance& t, FileCall& call);

// --- SEND (send_options.cpp) ----------------------------------------------------------------
int32_t op_send(TableInstance& t, FileCall& call);

}  // namespace vtn::tarnwell
