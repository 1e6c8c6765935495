// The field table: which fields a line holds, in which order, and which definitions are refused.
#include "runtime/files/basic/field_table.hpp"

#include <gtest/gtest.h>

#include "runtime/files/file_declaration.hpp"

namespace vtn {
namespace {

// The labels of the values of a line, in order, with their offsets.
std::string line_of(const FileDeclaration& d, int32_t* error = nullptr) {
  File f(d);
  basic::FieldTable table;
  const int32_t r = basic::build_field_table(&f.record_type(), f.record_type().size, table);
  if (error != nullptr) *error = r;
  if (r != 0) return {};
  std::string out;
  basic::for_each_value(table, [&](const basic::TableField& field, uint32_t offset) {
    for (size_t i = 0; i < f.record_type().fields.size(); ++i)
      if (&table.fields[i] == &field)
        out += f.record_type().fields[i].label + "@" + std::to_string(offset) + " ";
  });
  return out;
}

TEST(FieldTable, ValuesOfALine) {
  struct Row {
    const char* what;
    FileDeclaration d;
    std::string values;
  };
  const Row rows[] = {
      {"plain", FileDeclaration("F").field("A", ftype::LONG).field("B", ftype::STRING(3)),
       "F:A@0 F:B@4 "},
      {"dimensioned", FileDeclaration("F").field("A", ftype::SHORT, {.dim = {2, 2}}),
       "F:A@0 F:A@2 F:A@4 F:A@6 "},
      {"group elements",
       FileDeclaration("F")
           .group("G", {.dim = {2}})
           .field("X", ftype::BYTE)
           .field("Y", ftype::BYTE)
           .end()
           .field("Z", ftype::BYTE),
       "F:X@0 F:Y@1 F:X@2 F:Y@3 F:Z@4 "},
      {"nested groups",
       FileDeclaration("F")
           .group("G", {.dim = {2}})
           .group("H", {.dim = {2}})
           .field("X", ftype::BYTE)
           .end()
           .field("Y", ftype::BYTE)
           .end(),
       "F:X@0 F:X@1 F:Y@2 F:X@3 F:X@4 F:Y@5 "},
      {"OVER a field",
       FileDeclaration("F")
           .field("A", ftype::LONG)
           .field("B", ftype::STRING(4), {.over = "A"})
           .field("C", ftype::BYTE),
       "F:A@0 F:C@4 "},
      {"a GROUP OVER a field, members left out too",
       FileDeclaration("F")
           .field("A", ftype::STRING(4))
           .group("G", {.over = "A"})
           .field("X", ftype::SHORT)
           .field("Y", ftype::SHORT)
           .end()
           .field("C", ftype::BYTE),
       "F:A@0 F:C@4 "},
      {"first member of a GROUP is not OVER the GROUP",
       FileDeclaration("F").group("G").field("X", ftype::BYTE).end(), "F:X@0 "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(line_of(row.d), row.values);
  }
}

TEST(FieldTable, RefusedDefinitions) {
  struct Row {
    const char* what;
    FileDeclaration d;
    int32_t error;
  };
  FileDeclaration deep("F");
  for (int i = 0; i < 101; ++i) deep.group("G" + std::to_string(i));
  deep.field("X", ftype::BYTE);
  for (int i = 0; i < 101; ++i) deep.end();
  FileDeclaration deep_enough("F");
  for (int i = 0; i < 100; ++i) deep_enough.group("G" + std::to_string(i));
  deep_enough.field("X", ftype::BYTE);
  for (int i = 0; i < 100; ++i) deep_enough.end();
  const Row rows[] = {
      {"a MEMO-typed field", FileDeclaration("F").field("M", ftype::of(ValueType::MEMO, 10)), 79},
      {"an ANY field", FileDeclaration("F").field("A", ftype::of(ValueType::ANY, 8)), 79},
      {"a BLOB-typed field", FileDeclaration("F").field("B", ftype::of(ValueType::BLOB, 8)), 79},
      {"a LONG of 3 bytes", FileDeclaration("F").field("L", ftype::of(ValueType::LONG, 3)), 75},
      {"GROUPs 101 deep", std::move(deep), 75},
      {"GROUPs 100 deep", std::move(deep_enough), 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    int32_t error = -1;
    line_of(row.d, &error);
    EXPECT_EQ(error, row.error);
  }
}

TEST(FieldTable, DescriptorsThatDoNotFitTheRecord) {
  RecordType type;
  FieldDescriptor f;
  f.label = "F:X";
  f.type = static_cast<uint8_t>(ValueType::LONG);
  f.size = 4;
  f.offset = 8;
  type.fields.push_back(f);
  basic::FieldTable table;
  EXPECT_EQ(basic::build_field_table(&type, 10, table), 75);  // reaches beyond the record
  EXPECT_EQ(basic::build_field_table(&type, 12, table), 0);
  type.fields[0].type = static_cast<uint8_t>(ValueType::GROUP);
  type.fields[0].group_members = 3;  // more members than fields follow
  EXPECT_EQ(basic::build_field_table(&type, 12, table), 75);
  type.fields[0] = f;
  type.fields[0].dimensions = {1000000, 1000000, 1000000, 1000000};
  EXPECT_EQ(basic::build_field_table(&type, 12, table), 75);
  EXPECT_EQ(basic::build_field_table(nullptr, 0, table), 0);
  EXPECT_TRUE(table.fields.empty());
}

TEST(FieldTable, LongestText) {
  File f(FileDeclaration("F")
             .field("B", ftype::BYTE)
             .field("S", ftype::SHORT, {.dim = {2}})
             .field("L", ftype::LONG)
             .field("R", ftype::REAL)
             .field("D", ftype::DECIMAL(9, 2))
             .field("T", ftype::STRING(30))
             .field("O", ftype::STRING(30), {.over = "T"}));
  basic::FieldTable table;
  ASSERT_EQ(basic::build_field_table(&f.record_type(), f.record_type().size, table), 0);
  EXPECT_EQ(table.longest_text, 4u + 2 * 6 + 13 + 21 + 10 + 30);
  EXPECT_EQ(table.value_count, 7u);
}

}  // namespace
}  // namespace vtn
