// What a record file holds, table by table, as twl reports it: names, numbers, stored
// definitions, collation flags and the counter records, read from the file's own records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/definition_stream.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "tools/twl/session.hpp"

namespace twl {

using vtn::tarnwell::Number;

// Key flags of the stored definition.
inline constexpr uint8_t kKeyDuplicates = 0x01;
inline constexpr uint8_t kKeyNoCase = 0x04;
inline constexpr uint8_t kKeyPrimary = 0x10;
inline constexpr uint8_t kKeyDeferred = 0x20;
inline constexpr uint8_t kKeyDynamic = 0x40;

struct Counter {
  uint32_t count = 0;
  uint32_t second = 0;  // data records: the table's FLAGS; a key: its stale mark
};

struct TableInfo {
  std::string name;  // as stored (Windows-1251)
  Number number{};
  std::optional<vtn::tarnwell::StoredDefinition> definition;  // none: missing or malformed
  bool has_collation = false;
  bool oem = false;
  std::vector<uint8_t> collation;            // the 1,152 bytes of the collation record
  std::optional<Counter> records;            // the counter of the data records
  std::vector<std::optional<Counter>> keys;  // by key number (the key's index in the definition)
};

// Reads the tables of the file. REQUIRES: an access is in progress.
std::vector<TableInfo> read_catalog(RecordFile& file);

// The table called `name` (compared as stored); nothing when the file has none.
const TableInfo* find_table(const std::vector<TableInfo>& tables, const std::string& name);

// The table a command works on: the one named, or the only one of the file, or "UNNAMED".
// `error` says why there is none.
const TableInfo* choose_table(const std::vector<TableInfo>& tables, const std::string& name,
                              std::string& error);

// Opens the file, reads its catalog and picks the table a command works on (choose_table),
// reporting what goes wrong: returns kExitOk with `out` set, or the exit code. The file is
// closed again, so that the driver can open it for writing.
int read_chosen_table(const FileAndTable& target, const std::string& password, TableInfo& out);

std::string number_text(const Number& number);  // "0x0000002A"
uint32_t number_value(const Number& number);

}  // namespace twl
