#include "runtime/files/file_declaration.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "files/support/test_driver.hpp"

namespace vtn {
namespace {

using testing_driver::keyless_entry;
using testing_driver::test_entry;

constexpr uint32_t kUniqueNumberKey = KA_PRIMARY | KA_NOCASE | KA_OPT;

// The utility's three files, declared as the utility declares them.
File& request_file() {
  static File f{FileDeclaration("NPK")
                    .driver(keyless_entry)
                    .name("Mossgate.ini")
                    .create()
                    .thread()
                    .field("NAME", ftype::STRING(40))
                    .field("PATH", ftype::STRING(120))};
  return f;
}

File& pack_table() {
  static File f{FileDeclaration("PNM")
                    .driver(test_entry)
                    .name("PACKNAME")
                    .create()
                    .thread()
                    .field("NUMBER", ftype::SHORT)
                    .field("NAME", ftype::STRING(40))
                    .field("PATH", ftype::STRING(120))
                    .key("BY_NUMBER", {"NUMBER"}, kUniqueNumberKey)};
  return f;
}

File& settings_table() {
  static File f{FileDeclaration("SET")
                    .driver(test_entry)
                    .name("SETUP")
                    .create()
                    .thread()
                    .field("NUMBER", ftype::SHORT)
                    .field("NAME", ftype::STRING(40))
                    .field("VALUE", ftype::STRING(120))
                    .key("BY_NUMBER", {"NUMBER"}, kUniqueNumberKey)};
  return f;
}

#pragma pack(push, 1)
struct PackRecord {
  int16_t number;
  char name[40];
  char path[120];
};
#pragma pack(pop)

struct FieldRow {
  File& (*file)();
  const char* label;
  uint8_t type;
  uint32_t offset;
  uint32_t size;
};

TEST(FileDeclaration, TheUtilitysFilesBuildTheirBlocks) {
  struct FileRow {
    File& (*file)();
    const char* name;
    uint32_t record_length;
    uint8_t key_count;
    const char* key_label;
  };
  const FileRow files[] = {
      {request_file, "Mossgate.ini", 160, 0, nullptr},
      {pack_table, "PACKNAME", 162, 1, "PNM:BY_NUMBER"},
      {settings_table, "SETUP", 162, 1, "SET:BY_NUMBER"},
  };
  for (const FileRow& row : files) {
    SCOPED_TRACE(row.name);
    FileBlock& b = row.file().declared();
    EXPECT_EQ(std::string_view(b.name, b.name_length), row.name);
    EXPECT_EQ(b.attributes, 0x14);
    EXPECT_EQ(b.record_length, row.record_length);
    EXPECT_EQ(b.memo_count, 0);
    EXPECT_EQ(b.driver_options, nullptr);
    EXPECT_EQ(b.owner, nullptr);
    EXPECT_EQ(b.instance, nullptr);
    ASSERT_EQ(b.key_count, row.key_count);
    if (row.key_count == 1) {
      const KeyBlock& k = *b.keys[0];
      EXPECT_EQ(std::string_view(k.label, k.label_length), row.key_label);
      EXPECT_EQ(k.attributes, 0x16u);
      ASSERT_EQ(k.component_count, 1);
      EXPECT_EQ(k.components[0], 1);
      EXPECT_EQ(k.file, &b);
      EXPECT_EQ(k.name, nullptr);
    }
  }

  const FieldRow fields[] = {
      {request_file, "NPK:NAME", 18, 0, 40},   {request_file, "NPK:PATH", 18, 40, 120},
      {pack_table, "PNM:NUMBER", 2, 0, 2},     {pack_table, "PNM:NAME", 18, 2, 40},
      {pack_table, "PNM:PATH", 18, 42, 120},   {settings_table, "SET:NUMBER", 2, 0, 2},
      {settings_table, "SET:NAME", 18, 2, 40}, {settings_table, "SET:VALUE", 18, 42, 120},
  };
  for (const FieldRow& row : fields) {
    SCOPED_TRACE(row.label);
    File& f = row.file();
    const FieldDescriptor* d = field_info(&f.record_type(), f.field(row.label));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->label, row.label);
    EXPECT_EQ(d->type, row.type);
    EXPECT_EQ(d->offset, row.offset);
    EXPECT_EQ(d->size, row.size);
  }
}

TEST(FileDeclaration, RecordStartsClearedAndMapsOntoTheProgramsStruct) {
  PackRecord& r = pack_table().record_as<PackRecord>();
  EXPECT_EQ(r.number, 0);
  EXPECT_EQ(std::string_view(r.name, 40), std::string(40, ' '));
  EXPECT_EQ(std::string_view(r.path, 120), std::string(120, ' '));
  r.number = 7;
  std::memcpy(r.name, "X", 1);
  pack_table().clear();
  EXPECT_EQ(r.number, 0);
  EXPECT_EQ(r.name[0], ' ');
  EXPECT_THROW(request_file().record_as<PackRecord>(), std::invalid_argument);
}

TEST(FileDeclaration, GroupsDimensionsOverAndNames) {
  File f{FileDeclaration("CUS")
             .driver(test_entry)
             .name("CUSTOMER")
             .owner("secret")
             .driver(test_entry, "/ALLOWDETAILS")
             .encrypt()
             .oem()
             .build_events([](FileBlock&, uint32_t, uint32_t) { return 0; }, 100)
             .field("ID", ftype::LONG, {.name = "CUST_ID"})
             .group("ADDR", {.dim = {2}})
             .field("STREET", ftype::STRING(20))
             .field("ZIP", ftype::CSTRING(6))
             .end()
             .field("ZIPS", ftype::STRING(52), {.over = "ADDR"})
             .field("BALANCE", ftype::DECIMAL(9, 2))
             .field("CODES", ftype::SHORT, {.dim = {3, 4}})
             .field("NOTE", ftype::STRING(10), {.picture = "s10"})
             .key("BY_ID", {"ID"}, KA_PRIMARY)
             .index("BY_ZIP_DESC", {"-ADDR", "+ID"}, KA_DUP, "zipidx")
             .memo("REMARK", 500, {.name = "remark"})
             .blob("PHOTO", {.binary = true})};

  struct Row {
    const char* label;
    uint8_t type;
    uint32_t offset, size, elements, group_members;
    const char* external_name;
  };
  const Row rows[] = {
      {"CUS:ID", 6, 0, 4, 1, 0, "CUST_ID"}, {"CUS:ADDR", 22, 4, 26, 2, 2, ""},
      {"CUS:STREET", 18, 4, 20, 1, 0, ""},  {"CUS:ZIP", 19, 24, 6, 1, 0, ""},
      {"CUS:ZIPS", 18, 4, 52, 1, 0, ""},    {"CUS:BALANCE", 10, 56, 5, 1, 0, ""},
      {"CUS:CODES", 2, 61, 2, 12, 0, ""},   {"CUS:NOTE", 18, 85, 10, 1, 0, ""},
  };
  const RecordType& type = f.record_type();
  ASSERT_EQ(field_count(&type), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].label);
    const FieldDescriptor& d = *field_info(&type, static_cast<int32_t>(i + 1));
    EXPECT_EQ(d.label, rows[i].label);
    EXPECT_EQ(d.type, rows[i].type);
    EXPECT_EQ(d.offset, rows[i].offset);
    EXPECT_EQ(d.size, rows[i].size);
    EXPECT_EQ(d.element_count(), rows[i].elements);
    EXPECT_EQ(d.group_members, rows[i].group_members);
    EXPECT_EQ(d.external_name, rows[i].external_name);
  }
  EXPECT_EQ(field_info(&type, 6)->digits(), 9u);
  EXPECT_EQ(field_info(&type, 6)->places, 2);
  EXPECT_EQ(field_info(&type, 8)->picture, "s10");
  EXPECT_EQ(field_info(&type, 9), nullptr);
  EXPECT_EQ(field_info(&type, 0), nullptr);

  FileBlock& b = f.declared();
  EXPECT_EQ(b.record_length, 95u);
  EXPECT_EQ(b.attributes, FA_ENCRYPT | FA_OEM);
  EXPECT_EQ(std::string_view(b.owner, b.owner_length), "secret");
  EXPECT_EQ(std::string_view(b.driver_options, b.driver_options_length), "/ALLOWDETAILS");
  EXPECT_EQ(b.variable_texts, 0);
  ASSERT_NE(b.build_events, nullptr);
  EXPECT_EQ(b.build_event_step, 100u);

  ASSERT_EQ(b.key_count, 2);
  const KeyBlock& idx = *b.keys[1];
  EXPECT_EQ(idx.attributes, KA_DUP | KA_INDEX);
  EXPECT_EQ(std::string_view(idx.name, idx.name_length), "zipidx");
  ASSERT_EQ(idx.component_count, 2);
  EXPECT_EQ(idx.components[0], -2);
  EXPECT_EQ(idx.components[1], 1);
  EXPECT_EQ(&f.key("BY_ZIP_DESC"), &idx);
  EXPECT_EQ(&f.key("cus:by_id"), b.keys[0]);

  ASSERT_EQ(b.memo_count, 2);
  EXPECT_EQ(b.memos[0]->size, 500u);
  EXPECT_EQ(b.memos[0]->attributes, 0);
  EXPECT_EQ(std::string_view(b.memos[0]->name, b.memos[0]->name_length), "remark");
  EXPECT_EQ(b.memos[1]->attributes, MA_BLOB | MA_BINARY);
  EXPECT_EQ(&f.memo("PHOTO"), b.memos[1]);

  // Text fields of both group elements start blank; the CSTRING and the numbers start empty.
  const char* r = f.record();
  EXPECT_EQ(std::string_view(r + 4, 20), std::string(20, ' '));
  EXPECT_EQ(std::string_view(r + 30, 20), std::string(20, ' '));
  EXPECT_EQ(r[24], '\0');
  EXPECT_EQ(std::string_view(r + 56, 5), std::string(5, '\0'));
}

TEST(FileDeclaration, VariableTextsAreMarked) {
  char name[20] = "first.dat";
  char owner[8] = "pw";
  File f{FileDeclaration("V")
             .driver(test_entry)
             .name_variable(name, sizeof name)
             .owner_variable(owner, sizeof owner)
             .field("X", ftype::BYTE)};
  EXPECT_EQ(f.declared().variable_texts, FV_NAME | FV_OWNER);
  EXPECT_EQ(f.declared().name, name);
  EXPECT_EQ(f.declared().name_length, sizeof name);
}

TEST(FileDeclaration, MistakesAreReportedWhenBuilt) {
  const std::vector<std::pair<const char*, FileDeclaration>> cases = {
      {"unknown key component", FileDeclaration("A").field("X", ftype::LONG).key("K", {"Y"})},
      {"key without components", FileDeclaration("A").field("X", ftype::LONG).key("K", {})},
      {"unknown OVER target", FileDeclaration("A").field("X", ftype::LONG, {.over = "NOPE"})},
      {"unclosed group", FileDeclaration("A").group("G").field("X", ftype::LONG)},
      {"end without group", FileDeclaration("A").field("X", ftype::LONG).end()},
      {"duplicate label", FileDeclaration("A").field("X", ftype::LONG).field("x", ftype::BYTE)},
      {"zero-length text", FileDeclaration("A").field("X", ftype::STRING(0))},
      {"zero dimension", FileDeclaration("A").field("X", ftype::LONG, {.dim = {0}})},
      {"five dimensions", FileDeclaration("A").field("X", ftype::LONG, {.dim = {1, 2, 3, 4, 5}})},
  };
  for (const auto& [what, declaration] : cases) {
    SCOPED_TRACE(what);
    EXPECT_THROW(File{declaration}, std::invalid_argument);
  }
}

}  // namespace
}  // namespace vtn
