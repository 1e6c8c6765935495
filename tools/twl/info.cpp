// twl info: the header, the page log and the tables of a record file.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "runtime/files/file_statements.hpp"
#include "runtime/files/trace_dumps.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/value_type.hpp"
#include "tools/twl/catalog.hpp"
#include "tools/twl/commands.hpp"
#include "tools/twl/declaration.hpp"
#include "tools/twl/page_log.hpp"
#include "tools/twl/session.hpp"

namespace twl {

namespace tw = vtn::tarnwell;
using Json = nlohmann::ordered_json;

namespace {

std::string utf8(const std::string& ansi) {
  return vtn::platform::ansi_to_utf8(ansi);
}
std::string utf8(const tw::DefinitionText& text) {
  return utf8(text.value_or(""));
}

// A field's declared type: "LONG", "STRING(12)", "DECIMAL(9,2)".
std::string type_text(const tw::FieldDefinition& f) {
  std::string text(vtn::value_type_name(f.type));
  const auto type = static_cast<vtn::ValueType>(f.type);
  if (type == vtn::ValueType::DECIMAL || type == vtn::ValueType::PDECIMAL) {
    text += "(" + std::to_string(2 * f.size - 1) + "," + std::to_string(f.places) + ")";
  } else if (type == vtn::ValueType::STRING || type == vtn::ValueType::CSTRING ||
             type == vtn::ValueType::PSTRING) {
    text += "(" + std::to_string(f.size) + ")";
  }
  return text;
}

// The table's definition as source, as the driver trace prints a file's structure: the table is
// opened through the driver (read only, shared) with a declaration made from the stored
// definition. Empty, with the reason in `why`, when the driver does not open it.
std::string structure_of(const std::string& full_name, const std::string& password,
                         const TableInfo& table, std::string& why) {
  std::unique_ptr<vtn::File> file;
  try {
    file = declare_table(full_name + "\\!" + table.name, table.definition->definition, password);
  } catch (const std::invalid_argument& e) {
    why = e.what();
    return "";
  }
  vtn::SHARE(*file, 0x40);
  if (vtn::ERRORNUMBER() != 0 || file->block().instance == nullptr) {
    why = "error " + std::to_string(vtn::ERRORNUMBER()) + ": " + vtn::ERRORTEXT();
    return "";
  }
  std::string out;
  vtn::append_structure_dump(out, *file->block().instance);
  vtn::CLOSE(*file);
  std::string lines;  // the trace ends its lines with CR LF
  for (char c : out) {
    if (c != '\r') lines += c;
  }
  return lines;
}

Json counter_json(const std::optional<Counter>& counter) {
  if (!counter) return nullptr;
  return Json{{"count", counter->count}, {"second", counter->second}};
}

Json definition_json(const tw::StoredDefinition& stored) {
  const tw::TableDefinition& d = stored.definition;
  Json fields = Json::array(), memos = Json::array(), keys = Json::array();
  for (const tw::FieldDefinition& f : d.fields) {
    fields.push_back({{"label", utf8(f.name)},
                      {"type", utf8(type_text(f))},
                      {"offset", f.offset},
                      {"size", f.size}});
  }
  for (const tw::MemoDefinition& m : d.memos) {
    memos.push_back({{"label", utf8(m.label)},
                     {"name", utf8(m.name)},
                     {"blob", m.is_blob()},
                     {"binary", (m.flags & tw::kMemoBinary) != 0},
                     {"size", m.size}});
  }
  for (const tw::KeyDefinition& k : d.keys) {
    Json components = Json::array();
    for (const tw::KeyComponentDefinition& c : k.components) {
      components.push_back(
          {{"field", c.field < d.fields.size() ? utf8(d.fields[c.field].name) : ""},
           {"descending", c.flags != 0}});
    }
    keys.push_back({{"label", utf8(k.label)},
                    {"name", utf8(k.name)},
                    {"duplicates", (k.flags & kKeyDuplicates) != 0},
                    {"nocase", (k.flags & kKeyNoCase) != 0},
                    {"primary", (k.flags & kKeyPrimary) != 0},
                    {"deferred", (k.flags & kKeyDeferred) != 0},
                    {"dynamic", (k.flags & kKeyDynamic) != 0},
                    {"components", components}});
  }
  return {{"version", stored.version},
          {"record_length", d.record_length},
          {"fields", fields},
          {"memos", memos},
          {"keys", keys}};
}

Json zones_json(const tw::FileHeader& h) {
  Json zones = Json::array();
  for (int units = 1; units <= tw::kMaxUnits; ++units) {
    if (h.zone_start[units] == h.zone_end[units]) continue;
    zones.push_back({{"units", units},
                     {"start", h.zone_start[units]},
                     {"end", h.zone_end[units]},
                     {"pages", (h.zone_end[units] - h.zone_start[units]) / units}});
  }
  return zones;
}

Json file_json(const std::string& name, const tw::FileHeader& h, const DiskLog& log,
               const std::vector<TableInfo>& tables) {
  Json out;
  out["file"] = name;
  out["signature"] = "tArN";
  out["change_counter"] = h.change_counter;
  out["last_number"] = number_text(h.last_number);
  out["root_page"] = h.root_page;
  out["end_of_used_space"] = tw::end_of_used_space(h);
  out["zones"] = zones_json(h);
  Json log_json{{"start", log.header.log_start},
                {"end", log.header.log_end},
                {"empty", log.empty},
                {"images", log.images.size()}};
  if (!log.fault.empty()) log_json["fault"] = log.fault;
  out["log"] = log_json;
  Json table_list = Json::array();
  for (const TableInfo& t : tables) {
    Json table{{"name", utf8(t.name)}, {"number", number_text(t.number)}};
    table["records"] = t.records ? Json(t.records->count) : Json(nullptr);
    table["flags"] = t.records ? Json(t.records->second) : Json(nullptr);
    table["oem"] = t.oem;
    table["definition"] = t.definition ? definition_json(*t.definition) : Json(nullptr);
    Json keys = Json::array();
    for (size_t k = 0; k < t.keys.size(); ++k) {
      keys.push_back({{"label", utf8(t.definition->definition.keys[k].label)},
                      {"counter", counter_json(t.keys[k])}});
    }
    table["key_counters"] = keys;
    table_list.push_back(table);
  }
  out["tables"] = table_list;
  return out;
}

void print_text(const std::string& name, const std::string& password, const tw::FileHeader& h,
                const DiskLog& log, const std::vector<TableInfo>& tables) {
  std::printf("file              %s\n", name.c_str());
  std::printf("signature         tArN\n");
  std::printf("change counter    %u\n", h.change_counter);
  std::printf("last number       %s\n", number_text(h.last_number).c_str());
  std::printf("root page         %d\n", h.root_page);
  std::printf("end of used space %lld bytes\n", static_cast<long long>(tw::end_of_used_space(h)));
  std::printf("zones in use     ");
  bool any = false;
  for (int units = 1; units <= tw::kMaxUnits; ++units) {
    if (h.zone_start[units] == h.zone_end[units]) continue;
    std::printf(" %d:%d-%d", units, h.zone_start[units], h.zone_end[units]);
    any = true;
  }
  std::printf(any ? "\n" : " none\n");
  if (log.empty) {
    std::printf("page log          empty\n");
  } else {
    std::printf(
        "page log          %zu images from %u to %u: a flush was cut short, see twl recover%s\n",
        log.images.size(), log.header.log_start, log.header.log_end,
        log.fault.empty() ? "" : (" (" + log.fault + ")").c_str());
  }
  std::printf("tables            %zu\n", tables.size());
  for (const TableInfo& t : tables) {
    std::printf("\ntable %s (%s)\n", utf8(t.name).c_str(), number_text(t.number).c_str());
    if (t.records) {
      std::printf("  records         %u\n  flags           %u\n", t.records->count,
                  t.records->second);
    } else {
      std::printf("  records         (no counter record)\n");
    }
    if (!t.definition) {
      std::printf("  definition      missing or unreadable\n");
      continue;
    }
    for (size_t k = 0; k < t.keys.size(); ++k) {
      const std::string label = utf8(t.definition->definition.keys[k].label);
      if (!t.keys[k]) {
        std::printf("  key %s: no counter record\n", label.c_str());
      } else if (t.keys[k]->second == 0) {
        std::printf("  key %s: %u entries, up to date\n", label.c_str(), t.keys[k]->count);
      } else {
        std::printf("  key %s: %u entries, stale from record %u (needs twl rebuild)\n",
                    label.c_str(), t.keys[k]->count, t.keys[k]->second);
      }
    }
    std::string why;
    const std::string structure = structure_of(name, password, t, why);
    if (structure.empty()) {
      std::printf("  definition      the driver does not open the table: %s\n", utf8(why).c_str());
    } else {
      std::printf("\n%s", utf8(structure).c_str());
    }
  }
}

}  // namespace

int run_info(const InfoOptions& options) {
  const FileAndTable target = split_file_name(options.name);
  DiskLog log;
  if (int32_t err = read_disk_log(target.file, options.password, log)) {
    return report_error(target.file, err);
  }
  Session session;
  if (int32_t err = session.open(target.file, Session::Intent::read, options.password)) {
    return report_error(target.file, err);
  }
  std::vector<TableInfo> tables;
  tw::FileHeader header;
  const int32_t err = session.run(AccessMode::read, [&] {
    header = session.file().header();
    tables = read_catalog(session.file());
  });
  if (err != 0) {
    return report_error(target.file, err,
                        err == 90 ? "check " + std::to_string(session.damage_check()) : "");
  }
  if (!target.table.empty()) {
    const TableInfo* table = find_table(tables, target.table);
    if (table == nullptr) return report_error(target.file, 2, "no table " + target.table);
    tables = {*table};
  }
  if (options.json) {
    std::printf("%s\n", file_json(target.file, header, log, tables).dump(2).c_str());
  } else {
    print_text(target.file, options.password, header, log, tables);
  }
  return kExitOk;
}

}  // namespace twl
