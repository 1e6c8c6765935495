#include "runtime/files/tarnwell/definition_stream.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "runtime/files/tarnwell/record_kinds.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

TableDefinition sample() {
  TableDefinition d;
  d.record_length = 0x10002;  // written as its low 16 bits
  FieldDefinition number;
  number.type = 6;  // LONG
  number.offset = 0;
  number.name = "PNM:NUMBER";
  number.member_before_size = 1;
  number.size = 4;
  number.members_after_size[0] = 2;
  number.members_after_size[1] = 3;
  FieldDefinition amount;
  amount.type = 10;  // DECIMAL
  amount.offset = 4;
  amount.name = std::nullopt;
  amount.size = 5;
  amount.digits = 9;
  amount.places = 2;
  FieldDefinition name;
  name.type = 18;  // STRING
  name.offset = 9;
  name.name = "";
  name.size = 40;
  name.member_before_picture = 0x28;
  name.picture = "@s40";
  d.fields = {number, amount, name};
  d.memos = {MemoDefinition{"NOTES", "PNM:NOTES", 1000, 0},
             MemoDefinition{std::nullopt, "PNM:IMAGE", 0, kMemoBlob | kMemoBinary}};
  d.keys = {KeyDefinition{"NUMKEY", "PNM:NUMKEY", 0x10, {{0, 0}}},
            KeyDefinition{std::nullopt, "PNM:NAMEKEY", 0x05, {{2, 1}, {0, 0}}}};
  return d;
}

TEST(DefinitionStreamTest, KnownBytes) {
  TableDefinition d;
  d.record_length = 6;
  FieldDefinition f;
  f.type = 19;  // CSTRING
  f.offset = 2;
  f.name = "A";
  f.member_before_size = 0x0102;
  f.size = 4;
  f.members_after_size[0] = 7;
  f.members_after_size[1] = 8;
  f.member_before_picture = 9;
  f.picture = std::nullopt;
  d.fields = {f};
  d.memos = {MemoDefinition{"", std::nullopt, 300, 0x02}};
  d.keys = {KeyDefinition{"K", "", 0x01, {{0, 1}}}};
  // clang-format off
  const Bytes expected = {
      1, 0,  6, 0,  1, 0,  1, 0,  1, 0,  // version 1, record length, counts
      19,  2, 0,  'A', 0,                // type, offset, name
      0x02, 0x01,  4, 0,  7, 0,  8, 0,   // member, size, two members
      9, 0,  0, 1,                       // member, absent picture
      0, 0,  0, 1,  0x2C, 0x01,  0x02,   // memo: empty name, absent label, size, flags
      'K', 0,  0, 0,  0x01,  1, 0,       // key: names, flags, component count
      0, 0,  1,                          // component: field 0, descending
  };
  // clang-format on
  EXPECT_EQ(write_definition(d), expected);
}

TEST(DefinitionStreamTest, RoundTripAndVersion) {
  const TableDefinition d = sample();
  const Bytes stream = write_definition(d);
  EXPECT_EQ(stream[0], 2);  // a blob makes version 2
  const auto stored = read_definition(stream);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->version, 2);
  TableDefinition expected = d;
  expected.record_length = 2;
  expected.fields[1].name = std::nullopt;
  EXPECT_EQ(stored->definition, expected);
  EXPECT_TRUE(definitions_match(*stored, d));

  TableDefinition text_only = d;
  text_only.memos.pop_back();
  EXPECT_EQ(write_definition(text_only)[0], 1);
}

TEST(DefinitionStreamTest, ComparisonIsMemberByMemberWithItsExceptions) {
  const auto stored = read_definition(write_definition(sample()));
  ASSERT_TRUE(stored);
  struct Case {
    const char* what;
    std::function<void(TableDefinition&)> change;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"unchanged", [](TableDefinition&) {}, true},
      {"key flag 0x10 ignored", [](TableDefinition& d) { d.keys[0].flags ^= 0x10; }, true},
      {"other key flag", [](TableDefinition& d) { d.keys[0].flags ^= 0x04; }, false},
      {"blob size", [](TableDefinition& d) { d.memos[1].size = 99; }, true},
      {"memo flags", [](TableDefinition& d) { d.memos[0].flags = kMemoBinary; }, true},
      {"text memo size", [](TableDefinition& d) { d.memos[0].size = 999; }, false},
      {"memo becomes text: version 1", [](TableDefinition& d) { d.memos[1].flags = 0; }, false},
      {"field size", [](TableDefinition& d) { d.fields[0].size = 2; }, false},
      {"field member", [](TableDefinition& d) { d.fields[0].members_after_size[1] = 9; }, false},
      {"decimal places", [](TableDefinition& d) { d.fields[1].places = 3; }, false},
      {"picture", [](TableDefinition& d) { d.fields[2].picture = "@s41"; }, false},
      {"empty vs absent name", [](TableDefinition& d) { d.fields[2].name = std::nullopt; }, false},
      {"digits of a non-decimal", [](TableDefinition& d) { d.fields[0].digits = 5; }, true},
      {"component flags", [](TableDefinition& d) { d.keys[1].components[0].flags = 0; }, false},
      {"one key fewer", [](TableDefinition& d) { d.keys.pop_back(); }, false},
      {"record length", [](TableDefinition& d) { d.record_length = 3; }, false},
  };
  for (const Case& c : cases) {
    TableDefinition declared = sample();
    c.change(declared);
    EXPECT_EQ(definitions_match(*stored, declared), c.matches) << c.what;
  }
}

TEST(DefinitionStreamTest, MalformedStreamsAreRefused) {
  const Bytes good = write_definition(sample());
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(read_definition(std::span(good).first(cut))) << "cut at " << cut;
  }
  Bytes extra = good;
  extra.push_back(0);
  EXPECT_FALSE(read_definition(extra));
  Bytes version = good;
  version[0] = 3;
  EXPECT_FALSE(read_definition(version));
  // An empty string marker other than 00 00 or 00 01.
  TableDefinition d;
  d.memos = {MemoDefinition{"", "", 1, 0}};
  Bytes marker = write_definition(d);
  ASSERT_EQ(marker[10], 0);
  marker[11] = 2;
  EXPECT_FALSE(read_definition(marker));
}

TEST(DefinitionStreamTest, ChunksOf512) {
  const Number table = {0, 0, 0, 5};
  for (size_t size : {size_t{1}, size_t{512}, size_t{513}, size_t{512 * 300 + 7}}) {
    Bytes stream(size);
    for (size_t i = 0; i < size; ++i) stream[i] = static_cast<uint8_t>(i * 13);
    std::vector<Record> chunks = definition_chunks(table, stream);
    EXPECT_EQ(chunks.size(), (size + 511) / 512);
    EXPECT_EQ(chunks.back().data().size(), size % 512 ? size % 512 : 512);
    // Key order puts sequence 256 (00 01) before 1 (01 00): joining must not rely on it.
    std::sort(chunks.begin(), chunks.end(),
              [](const Record& a, const Record& b) { return compare_keys(a.key(), b.key()) < 0; });
    EXPECT_EQ(join_definition_chunks(table, chunks), stream) << size;
    if (chunks.size() > 1) {
      chunks.erase(chunks.begin());
      EXPECT_FALSE(join_definition_chunks(table, chunks)) << "missing chunk";
    }
  }
  EXPECT_FALSE(join_definition_chunks(Number{0, 0, 0, 6}, definition_chunks(table, Bytes{1})));
  // A short chunk before the last.
  std::vector<Record> gap = {definition_chunk(table, 0, Bytes(10, 0)),
                             definition_chunk(table, 1, Bytes(10, 0))};
  EXPECT_FALSE(join_definition_chunks(table, gap));
}

}  // namespace
}  // namespace vtn::tarnwell
