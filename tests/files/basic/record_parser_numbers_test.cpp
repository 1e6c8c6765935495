// Numbers in a line as the parser reads them into REAL and SREAL fields: every text must give
// the double that the C library's correctly rounded reader gives, whichever way the parser
// takes to it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "runtime/files/basic/record_parser.hpp"

namespace vtn::basic {
namespace {

// The first value of `line` read into a field of `type` (8 bytes of storage).
double read_real(const std::string& line, ValueType type) {
  FieldTable table;
  TableField f;
  f.type = type;
  f.size = type == ValueType::REAL ? 8 : 4;
  table.fields.push_back(f);
  table.runs.push_back({0, 0, 1, f.size});
  table.value_count = 1;
  const LineSyntax syntax;
  std::string text = line + "\r\n";
  text.push_back(26);  // the byte after the view
  const TextView view{reinterpret_cast<const uint8_t*>(text.data()), text.size() - 1, true};
  char record[8] = {};
  parse_line(table, syntax, view, view.size, record);
  if (type == ValueType::SREAL) {
    float v;
    std::memcpy(&v, record, sizeof v);
    return v;
  }
  double v;
  std::memcpy(&v, record, sizeof v);
  return v;
}

// What the full reader makes of the number at the start of `line`.
double expected_real(const std::string& line, ValueType type) {
  std::string number = line.substr(0, line.find(','));
  if (!number.empty() && number[0] == '+') number.erase(0, 1);
  const double v = std::strtod(number.c_str(), nullptr);
  return type == ValueType::SREAL ? static_cast<double>(static_cast<float>(v)) : v;
}

TEST(RecordParserNumbers, RealsAgreeWithTheFullReader) {
  const char* fixed[] = {"0",
                         "-0",
                         "1.",
                         ".5",
                         "-.25",
                         "+7.5",
                         "0.1",
                         "123456789012345",
                         "1234567890123456",
                         "9007199254740993",
                         "0.000000000000000000000001",
                         "1e5",
                         "-2.5E-3",
                         "3.14159265358979323846",
                         "-",
                         ".",
                         "17,4"};
  for (const char* text : fixed) {
    for (ValueType type : {ValueType::REAL, ValueType::SREAL}) {
      const double got = read_real(text, type);
      const double want = expected_real(text, type);
      EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text << " " << got << " " << want;
    }
  }
  std::mt19937_64 random(7);
  auto pick = [&](uint64_t n) { return static_cast<uint32_t>(random() % n); };
  for (int i = 0; i < 300000; ++i) {
    std::string text;
    if (pick(3) == 0) text += '-';
    for (uint32_t n = pick(pick(4) == 0 ? 25 : 9); n > 0; --n)
      text += static_cast<char>('0' + pick(10));
    if (pick(2) == 0) {
      text += '.';
      for (uint32_t n = pick(pick(4) == 0 ? 25 : 9); n > 0; --n)
        text += static_cast<char>('0' + pick(10));
    }
    if (pick(10) == 0) text += "e" + std::to_string(static_cast<int>(pick(40)) - 20);
    for (ValueType type : {ValueType::REAL, ValueType::SREAL}) {
      const double got = read_real(text, type);
      const double want = expected_real(text, type);
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text << " " << got << " " << want;
    }
  }
}

}  // namespace
}  // namespace vtn::basic
