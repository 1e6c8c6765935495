#include "runtime/values/value_type.hpp"

#include <gtest/gtest.h>

namespace vtn {
namespace {

TEST(ValueTypeTest, NamesByCode) {
  const struct {
    int code;
    std::string_view name;
  } cases[] = {
      {0, "END"},      {1, "BYTE"},      {2, "SHORT"},    {3, "USHORT"},    {4, "DATE"},
      {5, "TIME"},     {6, "LONG"},      {7, "ULONG"},    {8, "SREAL"},     {9, "REAL"},
      {10, "DECIMAL"}, {11, "PDECIMAL"}, {12, "DUM1"},    {13, "BFLOAT4"},  {14, "BFLOAT8"},
      {15, "ANY"},     {16, "TEMPUFO"},  {17, "(17)"},    {18, "STRING"},   {19, "CSTRING"},
      {20, "PSTRING"}, {21, "MEMO"},     {22, "GROUP"},   {23, "CLASS"},    {24, "ARRAY"},
      {25, "FIELD"},   {26, "QUEUE"},    {27, "BLOB"},    {28, "STACKSTR"}, {29, "PICTURE"},
      {30, "STDNUM"},  {31, "UNKNOWN"},  {42, "UNKNOWN"}, {45, "UNKNOWN"},  {255, "UNKNOWN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(value_type_name(static_cast<uint8_t>(c.code)), c.name) << "code " << c.code;
  }
  EXPECT_EQ(value_type_name(ValueType::GROUP), "GROUP");
}

TEST(ValueTypeTest, NaturalKindsAndSizes) {
  const struct {
    ValueType type;
    ValueType natural;
    uint32_t size;
  } cases[] = {
      {ValueType::BYTE, ValueType::LONG, 1},
      {ValueType::SHORT, ValueType::LONG, 2},
      {ValueType::USHORT, ValueType::LONG, 2},
      {ValueType::DATE, ValueType::LONG, 4},
      {ValueType::TIME, ValueType::LONG, 4},
      {ValueType::LONG, ValueType::LONG, 4},
      {ValueType::ULONG, ValueType::LONG, 4},
      {ValueType::SREAL, ValueType::REAL, 4},
      {ValueType::REAL, ValueType::REAL, 8},
      {ValueType::BFLOAT4, ValueType::REAL, 4},
      {ValueType::BFLOAT8, ValueType::REAL, 8},
      {ValueType::DECIMAL, ValueType::DECIMAL, 0},
      {ValueType::PDECIMAL, ValueType::DECIMAL, 0},
      {ValueType::STRING, ValueType::STRING, 0},
      {ValueType::CSTRING, ValueType::STRING, 0},
      {ValueType::PSTRING, ValueType::STRING, 0},
      {ValueType::GROUP, ValueType::STRING, 0},
      {ValueType::TEMP_LONG, ValueType::LONG, 4},
      {ValueType::TEMP_REAL, ValueType::REAL, 8},
      {ValueType::TEMP_STRING, ValueType::STRING, 0},
      {ValueType::QUEUE, ValueType::END, 0},
      {static_cast<ValueType>(200), ValueType::END, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    EXPECT_EQ(natural_kind_of(c.type), c.natural);
    EXPECT_EQ(fixed_size_of(c.type), c.size);
  }
}

}  // namespace
}  // namespace vtn
