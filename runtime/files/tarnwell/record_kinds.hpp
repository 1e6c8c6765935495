// The kinds of record that make up a table, and how their key parts are built.
//
//   key part                                          key len  data part
//   table(4) F3 record(4)                              9       the record buffer      data
//   table(4) k  key value [record(4) if duplicates]    5+v(+4) record(4)              key entry
//   table(4) F6 kind(1)                                6       count LE32, second LE32 counter
//   table(4) FA seq LE16                               7       <= 512 bytes           definition
//   table(4) FB 01                                     6       OEM flag, 1,152 bytes  collation
//   table(4) FC record(4) memo(1) seq BE16             12      <= 256 (+4) bytes      memo chunk
//   FE name 00                                         n+2     table(4)               table name
//   FF                                                 1       txn LE32, name, 00     pending txn
// Table and record numbers are the 4 bytes given out by the file's counter, as they stand
// (big-endian), everywhere they appear. Key kinds 0x00..0xF2 are key numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

inline constexpr uint8_t kKindData = 0xF3;
inline constexpr uint8_t kKindCounter = 0xF6;
inline constexpr uint8_t kKindDefinition = 0xFA;
inline constexpr uint8_t kKindCollation = 0xFB;
inline constexpr uint8_t kKindMemo = 0xFC;
inline constexpr uint8_t kTableNameByte = 0xFE;
inline constexpr uint8_t kPendingTransactionByte = 0xFF;
inline constexpr uint8_t kMaxKeyNumber = 0xF2;

inline constexpr size_t kCollationTablesSize = 1152;
inline constexpr size_t kDefinitionChunkSize = 512;
inline constexpr size_t kMemoChunkSize = 256;

// The key part that every record of a kind of one table begins with: table number, kind byte.
std::vector<uint8_t> kind_prefix(const Number& table, uint8_t kind);

Record data_record(const Number& table, const Number& record, std::span<const uint8_t> buffer);

// REQUIRES: key_number <= kMaxKeyNumber. `record` is appended to the key part when given (keys
// with duplicates); it is always the data part.
Record key_entry(const Number& table, uint8_t key_number, std::span<const uint8_t> key_value,
                 const Number& record, bool duplicates_allowed);

Record counter_record(const Number& table, uint8_t counted_kind, uint32_t count, uint32_t second);
Record definition_chunk(const Number& table, uint16_t sequence, std::span<const uint8_t> bytes);
// REQUIRES: tables.size() == kCollationTablesSize.
Record collation_record(const Number& table, bool oem, std::span<const uint8_t> tables);
Record memo_chunk(const Number& table, const Number& record, uint8_t memo_number, uint16_t sequence,
                  std::span<const uint8_t> bytes);
// REQUIRES: `name` holds no zero byte.
Record table_name_record(std::string_view name, const Number& table);
Record pending_transaction_record(uint32_t transaction, std::string_view control_file);

// Readers: each returns nothing when the record is not of its kind or is malformed. Their spans
// point into the record, which must outlive the view.
std::optional<uint8_t> record_kind(const Record& r);  // the byte after the table number
std::optional<Number> record_table(const Record& r);  // none for 0xFE and 0xFF records

struct DataRecordView {
  Number table, record;
  std::span<const uint8_t> buffer;
};
std::optional<DataRecordView> read_data_record(const Record& r);

struct KeyEntryView {
  Number table;
  uint8_t key_number;
  std::span<const uint8_t> key_value;  // without the appended record number
  Number record;
};
std::optional<KeyEntryView> read_key_entry(const Record& r, bool duplicates_allowed);

struct CounterView {
  Number table;
  uint8_t counted_kind;
  uint32_t count, second;
};
std::optional<CounterView> read_counter(const Record& r);

struct ChunkView {
  Number table;
  uint16_t sequence;
  std::span<const uint8_t> bytes;
};
std::optional<ChunkView> read_definition_chunk(const Record& r);

struct CollationView {
  Number table;
  bool oem;
  std::span<const uint8_t> tables;
};
std::optional<CollationView> read_collation(const Record& r);

struct MemoChunkView {
  Number table, record;
  uint8_t memo_number;
  uint16_t sequence;
  std::span<const uint8_t> bytes;
};
std::optional<MemoChunkView> read_memo_chunk(const Record& r);

struct TableNameView {
  std::string name;
  Number table;
};
std::optional<TableNameView> read_table_name(const Record& r);

struct PendingTransactionView {
  uint32_t transaction;
  std::string control_file;
};
std::optional<PendingTransactionView> read_pending_transaction(const Record& r);

}  // namespace vtn::tarnwell
