#include "tools/twl/table_check.hpp"

#include <algorithm>
#include <optional>
#include <set>

#include "runtime/files/tarnwell/key_encoding.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

// Findings of one kind beyond this many are counted, not listed.
constexpr size_t kFindingsListed = 50;

// Collects the findings about one table or key, listing the first ones.
class Findings {
 public:
  Findings(std::vector<TableFinding>& out, std::string table, std::string key)
      : out_(out), table_(std::move(table)), key_(std::move(key)) {}
  ~Findings() {
    if (count_ > kFindingsListed) {
      out_.push_back(
          {table_, key_, "... and " + std::to_string(count_ - kFindingsListed) + " more"});
    }
  }
  void add(std::string what) {
    if (++count_ <= kFindingsListed) out_.push_back({table_, key_, std::move(what)});
  }

 private:
  std::vector<TableFinding>& out_;
  std::string table_, key_;
  size_t count_ = 0;
};

// The shape of a stored key, for encoding its values from records as the driver does.
std::optional<tw::KeyShape> shape_of(const tw::TableDefinition& d, const tw::KeyDefinition& key) {
  tw::KeyShape shape;
  shape.case_insensitive = key.flags & kKeyNoCase;
  for (const tw::KeyComponentDefinition& c : key.components) {
    if (c.field >= d.fields.size()) return std::nullopt;
    const tw::FieldDefinition& f = d.fields[c.field];
    if (f.offset > d.record_length || f.size > d.record_length - f.offset) return std::nullopt;
    shape.components.push_back({f.type, f.offset, f.size, c.flags != 0});
    shape.value_length += f.size;
  }
  return shape;
}

// Every entry of key k against the records (whose numbers, ascending, are `numbers`): entries of
// records that do not exist, entries whose value is not the record's, records without an entry
// (below the stale mark) or with several, and the key's counter. The records are looked up one
// entry at a time, so that only their numbers stay in memory.
void check_key(RecordFile& file, const TableInfo& table, size_t k,
               const std::vector<uint32_t>& numbers, std::vector<TableFinding>& out) {
  const tw::TableDefinition& d = table.definition->definition;
  const tw::KeyDefinition& key = d.keys[k];
  if (key.flags & kKeyDynamic) return;  // built on demand, not kept with the records
  Findings findings(out, table.name, key.label.value_or(""));
  const bool duplicates = key.flags & kKeyDuplicates;
  const std::optional<tw::KeyShape> shape = shape_of(d, key);
  if (!shape) findings.add("a component lies outside the record");
  tw::TableCollation collation;
  collation.oem = table.oem;
  std::copy_n(table.collation.begin(), std::min(table.collation.size(), collation.bytes.size()),
              collation.bytes.begin());
  std::vector<uint8_t> expected(shape ? shape->value_length : 0);
  std::vector<uint8_t> entries_per_record(numbers.size(), 0);  // saturating at 255
  std::vector<uint8_t> data_key = tw::kind_prefix(table.number, tw::kKindData);
  data_key.resize(data_key.size() + 4);
  uint32_t entries = 0;
  for_each_with_prefix(file, tw::kind_prefix(table.number, static_cast<uint8_t>(k)),
                       [&](const StoredRecord& r) {
                         ++entries;
                         const tw::Record record = record_copy(r);
                         auto entry = tw::read_key_entry(record, duplicates);
                         if (!entry) {
                           findings.add("a malformed key entry");
                           return true;
                         }
                         const uint32_t number = number_value(entry->record);
                         const auto at = std::lower_bound(numbers.begin(), numbers.end(), number);
                         if (at == numbers.end() || *at != number) {
                           findings.add("an entry for record " + std::to_string(number) +
                                        ", which does not exist (extra entry)");
                           return true;
                         }
                         uint8_t& seen = entries_per_record[at - numbers.begin()];
                         if (seen < 255) ++seen;
                         if (!shape || !table.has_collation) return true;
                         std::copy(entry->record.begin(), entry->record.end(), data_key.end() - 4);
                         const auto stored = file.find_exact(data_key);
                         if (!stored || stored->data().size() != d.record_length) return true;
                         tw::encode_key_value(*shape, stored->data(), collation, expected);
                         if (!std::equal(expected.begin(), expected.end(), entry->key_value.begin(),
                                         entry->key_value.end())) {
                           findings.add("the entry for record " + std::to_string(number) +
                                        " holds another value than the record (stale entry)");
                         }
                         return true;
                       });
  const std::optional<Counter>& counter = table.keys[k];
  const uint32_t stale_mark = counter ? counter->second : 0;
  if (!counter) {
    findings.add("no counter record");
  } else if (counter->count != entries) {
    findings.add("the counter says " + std::to_string(counter->count) + " entries, the key holds " +
                 std::to_string(entries));
  }
  for (size_t i = 0; i < numbers.size(); ++i) {
    const bool maintained = stale_mark == 0 || numbers[i] < stale_mark;
    if (entries_per_record[i] == 0 && maintained) {
      findings.add("no entry for record " + std::to_string(numbers[i]) + " (missing entry)");
    } else if (entries_per_record[i] > 1) {
      findings.add(std::to_string(entries_per_record[i]) + " entries for record " +
                   std::to_string(numbers[i]));
    }
  }
}

}  // namespace

std::vector<TableFinding> check_table(RecordFile& file, const TableInfo& table,
                                      const std::function<void(uint64_t)>& progress) {
  std::vector<TableFinding> out;
  {
    Findings findings(out, table.name, "");
    if (!table.definition) {
      findings.add("the stored definition is missing or unreadable");
      return out;
    }
    if (!table.has_collation) findings.add("no collation record");
  }

  // The data records come in key order, so their numbers are ascending.
  std::vector<uint32_t> numbers;
  {
    Findings findings(out, table.name, "");
    const uint32_t length = table.definition->definition.record_length;
    for_each_with_prefix(
        file, tw::kind_prefix(table.number, tw::kKindData), [&](const StoredRecord& r) {
          if (r.key().size() != 9) {
            findings.add("a malformed data record");
            return true;
          }
          Number record;
          std::copy_n(r.key().begin() + 5, 4, record.begin());
          const uint32_t number = number_value(record);
          if (r.data().size() != length) {
            findings.add("record " + std::to_string(number) + " holds " +
                         std::to_string(r.data().size()) + " bytes, not " + std::to_string(length));
          }
          numbers.push_back(number);
          if (numbers.size() % 4096 == 0) progress(numbers.size());
          return true;
        });
    progress(numbers.size());
    if (!table.records) {
      findings.add("no counter record for the data records");
    } else if (table.records->count != numbers.size()) {
      findings.add("the counter says " + std::to_string(table.records->count) +
                   " records, the table holds " + std::to_string(numbers.size()));
    }
  }
  for (size_t k = 0; k < table.definition->definition.keys.size(); ++k) {
    check_key(file, table, k, numbers, out);
  }
  // Memo chunks belong to records of the table.
  std::set<uint32_t> orphans;
  for_each_with_prefix(
      file, tw::kind_prefix(table.number, tw::kKindMemo), [&](const StoredRecord& r) {
        auto view = tw::read_memo_chunk(record_copy(r));
        if (view &&
            !std::binary_search(numbers.begin(), numbers.end(), number_value(view->record))) {
          orphans.insert(number_value(view->record));
        }
        return true;
      });
  Findings findings(out, table.name, "");
  for (uint32_t number : orphans) {
    findings.add("memo chunks of record " + std::to_string(number) + ", which does not exist");
  }
  return out;
}

}  // namespace twl
