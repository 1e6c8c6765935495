#include "tools/twl/catalog.hpp"

#include <cstdio>

#include "runtime/files/tarnwell/record_kinds.hpp"
#include "tools/twl/commands.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

void read_table(RecordFile& file, TableInfo& table) {
  std::vector<tw::Record> chunks;
  for_each_with_prefix(file, tw::kind_prefix(table.number, tw::kKindDefinition),
                       [&](const StoredRecord& r) {
                         chunks.push_back(record_copy(r));
                         return true;
                       });
  if (auto stream = tw::join_definition_chunks(table.number, chunks)) {
    table.definition = tw::read_definition(*stream);
  }
  for_each_with_prefix(file, tw::kind_prefix(table.number, tw::kKindCollation),
                       [&](const StoredRecord& r) {
                         const tw::Record record = record_copy(r);
                         if (auto view = tw::read_collation(record)) {
                           table.has_collation = true;
                           table.oem = view->oem;
                           table.collation.assign(view->tables.begin(), view->tables.end());
                         }
                         return false;
                       });
  if (table.definition) table.keys.resize(table.definition->definition.keys.size());
  for_each_with_prefix(file, tw::kind_prefix(table.number, tw::kKindCounter),
                       [&](const StoredRecord& r) {
                         auto view = tw::read_counter(record_copy(r));
                         if (!view) return true;
                         const Counter counter{view->count, view->second};
                         if (view->counted_kind == tw::kKindData) {
                           table.records = counter;
                         } else if (view->counted_kind < table.keys.size()) {
                           table.keys[view->counted_kind] = counter;
                         }
                         return true;
                       });
}

}  // namespace

std::vector<TableInfo> read_catalog(RecordFile& file) {
  std::vector<TableInfo> tables;
  const uint8_t names[] = {tw::kTableNameByte};
  for_each_with_prefix(file, names, [&](const StoredRecord& r) {
    if (auto view = tw::read_table_name(record_copy(r))) {
      TableInfo table;
      table.name = view->name;
      table.number = view->table;
      tables.push_back(std::move(table));
    }
    return true;
  });
  for (TableInfo& table : tables) read_table(file, table);
  return tables;
}

const TableInfo* find_table(const std::vector<TableInfo>& tables, const std::string& name) {
  for (const TableInfo& table : tables) {
    if (table.name == name) return &table;
  }
  return nullptr;
}

const TableInfo* choose_table(const std::vector<TableInfo>& tables, const std::string& name,
                              std::string& error) {
  if (!name.empty()) {
    const TableInfo* table = find_table(tables, name);
    if (table == nullptr) error = "the file holds no table " + name;
    return table;
  }
  if (tables.size() == 1) return &tables.front();
  if (const TableInfo* unnamed = find_table(tables, "UNNAMED")) return unnamed;
  error = tables.empty() ? "the file holds no table"
                         : "the file holds " + std::to_string(tables.size()) +
                               " tables: name one as FILE\\!TABLE";
  return nullptr;
}

int read_chosen_table(const FileAndTable& target, const std::string& password, TableInfo& out) {
  Session session;
  if (int32_t err = session.open(target.file, Session::Intent::read, password)) {
    return report_error(target.file, err);
  }
  std::string why;
  bool found = false;
  const int32_t err = session.run(AccessMode::read, [&] {
    const std::vector<TableInfo> tables = read_catalog(session.file());
    if (const TableInfo* chosen = choose_table(tables, target.table, why)) {
      out = *chosen;
      found = true;
    }
  });
  if (err != 0) {
    return report_error(target.file, err,
                        err == 90 ? "check " + std::to_string(session.damage_check()) : "");
  }
  if (!found) {
    // A table named but missing is "File Not Found"; a file of several tables needs one named.
    if (!target.table.empty()) return report_error(target.file, 2, why);
    std::fprintf(stderr, "twl: %s: %s\n", target.file.c_str(), why.c_str());
    return kExitUsage;
  }
  if (!out.definition) {
    std::fprintf(stderr, "twl: %s: the stored definition of %s is missing or unreadable\n",
                 target.file.c_str(), out.name.c_str());
    return kExitRefused;
  }
  return kExitOk;
}

std::string number_text(const Number& number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", number_value(number));
  return text;
}

uint32_t number_value(const Number& number) {
  return uint32_t{number[0]} << 24 | uint32_t{number[1]} << 16 | uint32_t{number[2]} << 8 |
         number[3];
}

}  // namespace twl
