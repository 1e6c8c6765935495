#include "runtime/files/tarnwell/record_kinds.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

const Number kTable = {0, 0, 0, 1};
const Number kRecord = {0, 0, 0, 2};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(RecordKindsTest, KnownBytes) {
  const Bytes tables(kCollationTablesSize, 0x11);
  struct Case {
    const char* what;
    Record record;
    Bytes bytes;
    uint16_t key_length;
  };
  const std::vector<Case> cases = {
      {"data",
       data_record(kTable, kRecord, Bytes{'a', 'b'}),
       {0, 0, 0, 1, 0xF3, 0, 0, 0, 2, 'a', 'b'},
       9},
      {"key with duplicates",
       key_entry(kTable, 0, Bytes{0x41}, kRecord, true),
       {0, 0, 0, 1, 0x00, 0x41, 0, 0, 0, 2, 0, 0, 0, 2},
       10},
      {"unique key",
       key_entry(kTable, 0xF2, Bytes{0x41, 0x42}, kRecord, false),
       {0, 0, 0, 1, 0xF2, 0x41, 0x42, 0, 0, 0, 2},
       7},
      {"counter",
       counter_record(kTable, kKindData, 5, 0x20),
       {0, 0, 0, 1, 0xF6, 0xF3, 5, 0, 0, 0, 0x20, 0, 0, 0},
       6},
      {"definition chunk: sequence low byte first",
       definition_chunk(kTable, 0x0102, Bytes{'x'}),
       {0, 0, 0, 1, 0xFA, 0x02, 0x01, 'x'},
       7},
      {"collation", collation_record(kTable, true, tables),
       cat({{0, 0, 0, 1, 0xFB, 0x01, 0x01}, tables}), 6},
      {"memo chunk: sequence high byte first",
       memo_chunk(kTable, kRecord, 3, 0x0102, Bytes{'m'}),
       {0, 0, 0, 1, 0xFC, 0, 0, 0, 2, 3, 0x01, 0x02, 'm'},
       12},
      {"table name",
       table_name_record("UNNAMED", kTable),
       {0xFE, 'U', 'N', 'N', 'A', 'M', 'E', 'D', 0, 0, 0, 0, 1},
       9},
      {"pending transaction", pending_transaction_record(0x01020304, "C:\\tarnwell.TCF"),
       cat({{0xFF, 4, 3, 2, 1},
            Bytes{'C', ':', '\\', 't', 'a', 'r', 'n', 'w', 'e', 'l', 'l', '.', 'T', 'C', 'F', 0}}),
       1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.record.bytes, c.bytes) << c.what;
    EXPECT_EQ(c.record.key_length, c.key_length) << c.what;
  }
  EXPECT_EQ(collation_record(kTable, false, tables).bytes[6], 0);
}

TEST(RecordKindsTest, ReadersGiveBackWhatBuildersWrote) {
  const Number other = {0, 0, 1, 0};
  // Views point into their record: keep each record alive while its view is used.
  const Record data_rec = data_record(kTable, other, Bytes{9, 8});
  const auto data = read_data_record(data_rec);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->table, kTable);
  EXPECT_EQ(data->record, other);
  EXPECT_EQ(Bytes(data->buffer.begin(), data->buffer.end()), (Bytes{9, 8}));

  for (bool dup : {false, true}) {
    const Record key_rec = key_entry(kTable, 7, Bytes{1, 2, 3}, other, dup);
    const auto key = read_key_entry(key_rec, dup);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->key_number, 7);
    EXPECT_EQ(Bytes(key->key_value.begin(), key->key_value.end()), (Bytes{1, 2, 3}));
    EXPECT_EQ(key->record, other);
  }
  const auto counter = read_counter(counter_record(kTable, 4, 123456, 77));
  ASSERT_TRUE(counter);
  EXPECT_EQ(counter->counted_kind, 4);
  EXPECT_EQ(counter->count, 123456u);
  EXPECT_EQ(counter->second, 77u);

  const auto chunk = read_definition_chunk(definition_chunk(kTable, 300, Bytes{1}));
  ASSERT_TRUE(chunk);
  EXPECT_EQ(chunk->sequence, 300);
  const auto memo = read_memo_chunk(memo_chunk(kTable, other, 2, 300, Bytes{1, 2}));
  ASSERT_TRUE(memo);
  EXPECT_EQ(memo->sequence, 300);
  EXPECT_EQ(memo->memo_number, 2);
  EXPECT_EQ(memo->record, other);
  const Record collation_rec = collation_record(kTable, true, Bytes(1152, 3));
  const auto collation = read_collation(collation_rec);
  ASSERT_TRUE(collation);
  EXPECT_TRUE(collation->oem);
  EXPECT_EQ(collation->tables.size(), 1152u);
  const auto name = read_table_name(table_name_record("PACKNAME", other));
  ASSERT_TRUE(name);
  EXPECT_EQ(name->name, "PACKNAME");
  EXPECT_EQ(name->table, other);
  const auto pending = read_pending_transaction(pending_transaction_record(99, "x.tcf"));
  ASSERT_TRUE(pending);
  EXPECT_EQ(pending->transaction, 99u);
  EXPECT_EQ(pending->control_file, "x.tcf");
}

TEST(RecordKindsTest, ReadersRefuseOtherKinds) {
  const Record data = data_record(kTable, kRecord, Bytes{1});
  const Record name = table_name_record("T", kTable);
  EXPECT_FALSE(read_counter(data));
  EXPECT_FALSE(read_memo_chunk(data));
  EXPECT_FALSE(read_key_entry(data, false));  // kind F3 is not a key number
  EXPECT_FALSE(read_data_record(name));
  EXPECT_FALSE(read_pending_transaction(name));
  EXPECT_FALSE(record_table(name));
  EXPECT_EQ(record_kind(data), kKindData);
  Record cut = name;
  cut.bytes.pop_back();
  EXPECT_FALSE(read_table_name(cut));
  Record short_collation = collation_record(kTable, false, Bytes(1152, 0));
  short_collation.bytes.pop_back();
  EXPECT_FALSE(read_collation(short_collation));
  Record long_chunk = definition_chunk(kTable, 0, Bytes(kDefinitionChunkSize + 1, 0));
  EXPECT_FALSE(read_definition_chunk(long_chunk));
}

TEST(RecordKindsTest, OneOrderServesAllTablesAndKinds) {
  Number t1 = {}, n = {};
  // In a new file: the table takes number 1, its first two records 2 and 3.
  t1 = next_number(n);
  const Number r2 = next_number(n);
  const Number r3 = next_number(n);
  EXPECT_EQ(t1, (Number{0, 0, 0, 1}));
  EXPECT_EQ(r2, (Number{0, 0, 0, 2}));
  EXPECT_EQ(r3, (Number{0, 0, 0, 3}));
  const Number t2 = {0, 0, 1, 0};
  std::vector<Record> expected = {
      key_entry(t1, 0, Bytes{0xFF}, r3, false),
      key_entry(t1, 1, Bytes{0x00}, r2, false),
      data_record(t1, r2, Bytes{}),
      data_record(t1, r3, Bytes{}),
      counter_record(t1, 0, 0, 0),
      counter_record(t1, kKindData, 2, 0),
      definition_chunk(t1, 0, Bytes{}),
      collation_record(t1, false, Bytes(1152, 0)),
      memo_chunk(t1, r2, 0, 0, Bytes{}),
      memo_chunk(t1, r2, 0, 1, Bytes{}),
      memo_chunk(t1, r3, 0, 0, Bytes{}),
      data_record(t2, r2, Bytes{}),
      table_name_record("A", t2),
      table_name_record("AB", t1),
      pending_transaction_record(1, ""),
  };
  std::vector<Record> shuffled(expected.rbegin(), expected.rend());
  std::sort(shuffled.begin(), shuffled.end(),
            [](const Record& a, const Record& b) { return compare_keys(a.key(), b.key()) < 0; });
  EXPECT_EQ(shuffled, expected);
}

}  // namespace
}  // namespace vtn::tarnwell
