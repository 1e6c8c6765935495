#include "runtime/files/operation_rules.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "runtime/files/file_block.hpp"

namespace vtn {
namespace {

TEST(OperationRules, NamesCoverExactlyTheCodesZeroTo95) {
  struct Row {
    int32_t code;
    std::string_view name;
  };
  const Row rows[] = {{-1, ""},         {0, "(0)"},       {1, "ADD"},           {14, "EOF"},
                      {35, "(35)"},     {39, "(39)"},     {45, "SETkeykey"},    {68, "NULL"},
                      {87, "Internal"}, {91, "Internal"}, {95, "COUNTRECORDS"}, {96, ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(operation_name(row.code), row.name);
  }
  EXPECT_EQ(operation_rule(0), nullptr);
  EXPECT_EQ(operation_rule(96), nullptr);
  EXPECT_NE(operation_rule(95), nullptr);
}

// Properties that hold across the table and catch a row typed into the wrong place.
TEST(OperationRules, TheTableIsConsistent) {
  std::set<std::string_view> names;
  for (int32_t code = 1; code <= op::kLast; ++code) {
    SCOPED_TRACE(code);
    const OperationRule& r = *operation_rule(code);
    if (r.name != "Internal") {
      EXPECT_TRUE(names.insert(r.name).second) << r.name;
    }
    // Only what a success grants can be discarded, and only whole-file operations discard.
    if (r.control & FC_DISCARD) {
      EXPECT_FALSE(r.key);
    }
    // A key's readiness is required only of key operations.
    if (r.required & 0x100) {
      EXPECT_TRUE(r.key || code == op::QUERY_KEY);
    }
    // Two strings exactly where a filter or a property element comes with the first.
    const bool two = code == op::BUILDdynfilter || code == op::SET_PROPERTY ||
                     code == op::BLOB_GET_PROP || code == op::SETPROPERTYkey;
    EXPECT_EQ(r.strings_in == 2, two);
  }
  EXPECT_EQ(operation_rule(op::SETkeykey)->required, 0x101u);
  EXPECT_EQ(operation_rule(op::NEXT)->cleared_on_failure, 0x2022u);
  EXPECT_EQ(operation_rule(op::SEND)->set, 0x10000u);
  EXPECT_TRUE(operation_rule(op::POSITIONkey)->string_out);
  EXPECT_TRUE(operation_returns_value(op::RECORDSkey));
  EXPECT_FALSE(operation_returns_value(op::NEXT));
}

}  // namespace
}  // namespace vtn
