// The pieces of the format together: a small encrypted file holding one table, written block by
// block as the driver writes it, then read back and taken apart again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/block_io.hpp"
#include "runtime/files/tarnwell/definition_stream.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/memo_chunks.hpp"
#include "runtime/files/tarnwell/page_image.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(FormatRoundTripTest, EncryptedFileWithOneTable) {
  char pattern[] = "/tmp/vtn_format_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  const std::string name = (dir / "PACKNAME.TWL").string();
  const BlockCipher cipher = BlockCipher::from_password("owner");

  // A new file: the table takes number 1, its records 2 and 3.
  FileHeader header = new_file_header();
  const Number table = next_number(header.last_number);
  const Number first = next_number(header.last_number);
  const Number second = next_number(header.last_number);
  TableDefinition definition;
  definition.record_length = 44;
  definition.fields = {FieldDefinition{6, 0, "PNM:NUMBER", 0, 4, {0, 0}, 0, 0, 0, std::nullopt},
                       FieldDefinition{18, 4, "PNM:NAME", 0, 40, {0, 0}, 0, 0, 40, "@s40"}};
  definition.memos = {MemoDefinition{std::nullopt, "PNM:NOTES", 500, 0}};
  definition.keys = {KeyDefinition{std::nullopt, "PNM:NUMKEY", 0, {{0, 0}}}};

  PageContents root;
  root.records.push_back(table_name_record("UNNAMED", table));
  for (Record& r : definition_chunks(table, write_definition(definition))) {
    root.records.push_back(std::move(r));
  }
  root.records.push_back(counter_record(table, kKindData, 2, 0));
  root.records.push_back(counter_record(table, 0, 2, 0));
  for (const Number& rec : {first, second}) {
    Bytes buffer(44, ' ');
    buffer[3] = rec[3];
    root.records.push_back(data_record(table, rec, buffer));
    root.records.push_back(key_entry(table, 0, Bytes{0, 0, 0, rec[3]}, rec, false));
    const std::string notes = "notes of record " + std::to_string(rec[3]) + std::string(300, ' ');
    for (Record& r : memo_chunk_records(table, rec, 0, Bytes(notes.begin(), notes.end()), {})) {
      root.records.push_back(std::move(r));
    }
  }
  std::sort(root.records.begin(), root.records.end(),
            [](const Record& a, const Record& b) { return compare_keys(a.key(), b.key()) < 0; });

  Bytes image = encode_page(0, root);
  const int units = static_cast<int>(image.size() / kUnitSize);
  header.root_page = 0;
  header.zone_start[units] = 0;
  header.zone_end[units] = units;
  for (int i = units + 1; i <= kMaxUnits; ++i) header.zone_start[i] = header.zone_end[i] = units;
  header.change_counter = 1;
  ASSERT_TRUE(zones_well_formed(header));
  {
    platform::FileHandle file;
    ASSERT_TRUE(file.open(name, platform::decode_open_mode(0x142)));
    Bytes header_bytes(kHeaderSize);
    encode_header(header, std::span<uint8_t, kHeaderSize>(header_bytes.data(), kHeaderSize));
    size_t n = 0;
    ASSERT_TRUE(write_blocks(file, &cipher, 0, header_bytes, n));
    ASSERT_TRUE(write_blocks(file, &cipher, page_offset(0), image, n));
    ASSERT_TRUE(file.flush());
  }

  platform::FileHandle file;
  ASSERT_TRUE(file.open(name, platform::decode_open_mode(0x40)));
  Bytes header_bytes(kHeaderSize);
  size_t n = 0;
  FileHeader read_header;
  ASSERT_TRUE(read_blocks(file, nullptr, 0, header_bytes, n));
  EXPECT_EQ(decode_header(header_bytes, read_header), kNotAFile);  // enciphered on disk
  ASSERT_TRUE(read_blocks(file, &cipher, 0, header_bytes, n));
  ASSERT_EQ(decode_header(header_bytes, read_header), 0);
  EXPECT_EQ(read_header, header);

  const int root_units = unit_size_of_page(read_header, read_header.root_page);
  Bytes page_bytes(static_cast<size_t>(root_units) * kUnitSize);
  ASSERT_TRUE(read_blocks(file, &cipher, page_offset(read_header.root_page), page_bytes, n));
  const PageContents page = decode_page(page_bytes, root_units);
  EXPECT_EQ(page, root);

  // Take the table apart again: its name, definition, counter and memos.
  const auto name_record = read_table_name(page.records.back());
  ASSERT_TRUE(name_record);
  EXPECT_EQ(name_record->table, table);
  std::vector<Record> chunks, memo;
  for (const Record& r : page.records) {
    if (record_kind(r) == kKindDefinition) chunks.push_back(r);
    const auto m = read_memo_chunk(r);
    if (m && m->record == second) memo.push_back(r);
  }
  const auto stream = join_definition_chunks(table, chunks);
  ASSERT_TRUE(stream);
  const auto stored = read_definition(*stream);
  ASSERT_TRUE(stored);
  EXPECT_TRUE(definitions_match(*stored, definition));
  const auto notes = read_memo_contents(memo, {});
  ASSERT_TRUE(notes);
  EXPECT_EQ(std::string(notes->begin(), notes->end()), "notes of record 3");
  file.close();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vtn::tarnwell
