#include "tools/twl/table_check.hpp"

#include <map>
#include <set>

#include "runtime/files/tarnwell/record_kinds.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

tw::Record copy(const StoredRecord& stored) {
  tw::Record record;
  record.bytes.assign(stored.bytes.begin(), stored.bytes.end());
  record.key_length = static_cast<uint16_t>(stored.key_length);
  return record;
}

void check_key(RecordFile& file, const TableInfo& table, size_t k,
               const std::map<uint32_t, std::vector<uint8_t>>& records,
               std::vector<TableFinding>& findings) {
  const tw::KeyDefinition& key = table.definition->definition.keys[k];
  const std::string label = key.label.value_or("");
  const auto finding = [&](std::string what) {
    findings.push_back({table.name, label, std::move(what)});
  };
  if (key.flags & kKeyDynamic) return;  // built on demand, not kept with the records
  const bool duplicates = key.flags & kKeyDuplicates;
  std::map<uint32_t, int> entries_per_record;
  uint32_t entries = 0;
  for_each_with_prefix(file, tw::kind_prefix(table.number, static_cast<uint8_t>(k)),
                       [&](const StoredRecord& r) {
                         ++entries;
                         const tw::Record record = copy(r);
                         auto entry = tw::read_key_entry(record, duplicates);
                         if (!entry) {
                           finding("a malformed key entry");
                           return true;
                         }
                         const uint32_t number = number_value(entry->record);
                         if (!records.contains(number)) {
                           finding("an entry for record " + std::to_string(number) +
                                   ", which does not exist (extra entry)");
                         }
                         ++entries_per_record[number];
                         return true;
                       });
  const std::optional<Counter>& counter = table.keys[k];
  const uint32_t stale_mark = counter ? counter->second : 0;
  if (!counter) {
    finding("no counter record");
  } else if (counter->count != entries) {
    finding("the counter says " + std::to_string(counter->count) + " entries, the key holds " +
            std::to_string(entries));
  }
  for (const auto& [number, data] : records) {
    const auto it = entries_per_record.find(number);
    const int count = it == entries_per_record.end() ? 0 : it->second;
    const bool maintained = stale_mark == 0 || number < stale_mark;
    if (count == 0 && maintained) {
      finding("no entry for record " + std::to_string(number) + " (missing entry)");
    } else if (count > 1) {
      finding(std::to_string(count) + " entries for record " + std::to_string(number));
    }
  }
}

}  // namespace

std::vector<TableFinding> check_table(RecordFile& file, const TableInfo& table,
                                      const std::function<void(uint64_t)>& progress) {
  std::vector<TableFinding> findings;
  const auto finding = [&](std::string what) {
    findings.push_back({table.name, "", std::move(what)});
  };
  if (!table.definition) {
    finding("the stored definition is missing or unreadable");
    return findings;
  }
  if (!table.has_collation) finding("no collation record");

  std::map<uint32_t, std::vector<uint8_t>> records;
  const uint32_t length = table.definition->definition.record_length;
  uint64_t seen = 0;
  for_each_with_prefix(
      file, tw::kind_prefix(table.number, tw::kKindData), [&](const StoredRecord& r) {
        const tw::Record record = copy(r);
        auto view = tw::read_data_record(record);
        if (!view) {
          finding("a malformed data record");
          return true;
        }
        const uint32_t number = number_value(view->record);
        if (view->buffer.size() != length) {
          finding("record " + std::to_string(number) + " holds " +
                  std::to_string(view->buffer.size()) + " bytes, not " + std::to_string(length));
        }
        records.emplace(number, std::vector<uint8_t>(view->buffer.begin(), view->buffer.end()));
        if (++seen % 4096 == 0) progress(seen);
        return true;
      });
  progress(seen);
  if (!table.records) {
    finding("no counter record for the data records");
  } else if (table.records->count != records.size()) {
    finding("the counter says " + std::to_string(table.records->count) +
            " records, the table holds " + std::to_string(records.size()));
  }
  for (size_t k = 0; k < table.definition->definition.keys.size(); ++k) {
    check_key(file, table, k, records, findings);
  }
  // Memo chunks belong to records of the table.
  std::set<uint32_t> orphans;
  for_each_with_prefix(file, tw::kind_prefix(table.number, tw::kKindMemo),
                       [&](const StoredRecord& r) {
                         auto view = tw::read_memo_chunk(copy(r));
                         if (view && !records.contains(number_value(view->record))) {
                           orphans.insert(number_value(view->record));
                         }
                         return true;
                       });
  for (uint32_t number : orphans) {
    finding("memo chunks of record " + std::to_string(number) + ", which does not exist");
  }
  return findings;
}

}  // namespace twl
