// Reading comma-delimited files: tables of (file bytes, options, declared record) -> (field
// values, error), and the processing sequence over several records.
#include <gtest/gtest.h>

#include <functional>

#include "files/basic/basic_fixture.hpp"
#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/driver_trace.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using basic_testing::BasicTest;
using basic_testing::field_text;
using basic_testing::write_bytes;

enum class Shape {
  kMixed,    // LONG, STRING(8), DECIMAL(7,2)
  kTexts,    // STRING(4), CSTRING(4), PSTRING(4)
  kNumbers,  // BYTE, SHORT, USHORT, ULONG, REAL, SREAL, DECIMAL(5,3), PDECIMAL(5,1)
  kGroups,   // LONG, GROUP DIM(2) of (STRING(2), STRING(2)), STRING(8) OVER the group, LONG
  kFloats,   // BFLOAT4, BFLOAT8, DATE, TIME
};

FileDeclaration declaration(Shape shape, const std::string& name, const std::string& options) {
  FileDeclaration d("R");
  d.driver(basic_entry, options).name(name);
  switch (shape) {
    case Shape::kMixed:
      d.field("N", ftype::LONG).field("T", ftype::STRING(8)).field("D", ftype::DECIMAL(7, 2));
      break;
    case Shape::kTexts:
      d.field("S", ftype::STRING(4)).field("C", ftype::CSTRING(4)).field("P", ftype::PSTRING(4));
      break;
    case Shape::kNumbers:
      d.field("B", ftype::BYTE)
          .field("SH", ftype::SHORT)
          .field("US", ftype::USHORT)
          .field("UL", ftype::ULONG)
          .field("R", ftype::REAL)
          .field("SR", ftype::SREAL)
          .field("D", ftype::DECIMAL(5, 3))
          .field("PD", ftype::PDECIMAL(5, 1));
      break;
    case Shape::kGroups:
      d.field("FIRST", ftype::LONG)
          .group("G", {.dim = {2}})
          .field("A", ftype::STRING(2))
          .field("B", ftype::STRING(2))
          .end()
          .field("RAW", ftype::STRING(8), {.over = "G"})
          .field("LAST", ftype::LONG);
      break;
    case Shape::kFloats:
      d.field("F4", ftype::BFLOAT4)
          .field("F8", ftype::BFLOAT8)
          .field("DT", ftype::DATE)
          .field("TM", ftype::TIME);
      break;
  }
  return d;
}

// The values of every field (by number, GROUPs left out as "" and dimensioned fields element by
// element) joined by "|".
std::string values(File& file) {
  std::string out;
  const RecordType& type = file.record_type();
  for (size_t i = 0; i < type.fields.size(); ++i) {
    const FieldDescriptor& f = type.fields[i];
    if (f.value_type() == ValueType::GROUP) continue;
    if (!out.empty()) out += "|";
    out += field_text(file, static_cast<int32_t>(i + 1));
  }
  return out;
}

struct ReadCase {
  const char* what;
  Shape shape;
  std::string bytes;
  std::string options;      // the driver options text
  std::string first;        // values after the first NEXT
  int32_t error = 0;        // of the first NEXT
  std::string second = {};  // values after a second NEXT ("" when it must fail with 33)
};

class BasicReadTest : public BasicTest {
 protected:
  void run(const ReadCase& c) {
    SCOPED_TRACE(c.what);
    write_bytes(path("in.csv"), c.bytes);
    File file(declaration(c.shape, path("in.csv"), c.options));
    OPEN(file, 0x40);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    SET(file);
    NEXT(file);
    EXPECT_EQ(ERRORNUMBER(), c.error);
    EXPECT_EQ(values(file), c.first);
    NEXT(file);
    if (c.second.empty()) {
      EXPECT_EQ(ERRORNUMBER(), 33);
    } else {
      EXPECT_EQ(ERRORNUMBER(), 0);
      EXPECT_EQ(values(file), c.second);
    }
    CLOSE(file);
  }
};

TEST_F(BasicReadTest, ValuesOfALine) {
  const std::string long_text(3000, 'x');
  const ReadCase cases[] = {
      {"integer, quoted text with a delimiter, decimal", Shape::kMixed, "12,\"a,b\",3.25\r\n", "",
       "12|a,b|3.25"},
      {"doubled quotes", Shape::kMixed, "1,\"x\"\"y\",0\r\n", "", "1|x\"y|0"},
      {"empty line", Shape::kMixed, "\r\n7,a,1\r\n", "", "0||0", 0, "7|a|1"},
      {"two delimiters first", Shape::kMixed, ",,5.5\r\n", "", "0||5.5"},
      {"fewer values than fields", Shape::kMixed, "4\r\n9,b\r\n", "", "4||0", 0, "9|b|0"},
      {"more values than fields", Shape::kMixed, "1,a,2,extra,more\r\n3,c,4\r\n", "", "1|a|2", 0,
       "3|c|4"},
      {"quoted end of record kept while ENDOFRECORDINQUOTE is on", Shape::kMixed,
       "1,\"a\r\nb\",2\r\n", "", "1|a\r\nb|2"},
      {"quoted end of record cuts while it is off", Shape::kMixed, "1,\"a\r\nb\",2\r\n",
       "/ENDOFRECORDINQUOTE=OFF", "1|a|0", 0, "0|2|0"},
      {"unquoted text cut at the capacity, rest skipped", Shape::kMixed, "1,abcdefghijk,2\r\n", "",
       "1|abcdefgh|2"},
      {"quoted text cut at the capacity, rest skipped to the closing quote", Shape::kMixed,
       "1,\"abcdefgh,ij\",2\r\n", "", "1|abcdefgh|2"},
      {"a doubled quote in the skipped rest is no closing quote", Shape::kMixed,
       "1,\"abcdefgh\"\",x\",2\r\n", "", "1|abcdefgh|2"},
      {"numbers stop at the first foreign character", Shape::kMixed, "12abc,t,4.5x6\r\n", "",
       "12|t|4.5"},
      {"blanks, tabs and CRs before values", Shape::kMixed, " \t 5 ,\t\"t\" , \r 1.5\r\n", "",
       "5|t|1.5"},
      {"a quoted number reads as the number", Shape::kMixed, "\"42\",\"t\",\"-1.5\"\r\n", "",
       "42|t|-1.5"},
      {"negative numbers", Shape::kMixed, "-7,t,-0.25\r\n", "", "-7|t|-0.25"},
      {"decimals round half away from zero", Shape::kMixed, "0,t,2.345\r\n0,t,-2.345\r\n", "",
       "0|t|2.35", 0, "0|t|-2.35"},
      {"decimal with an exponent", Shape::kMixed, "0,t,1.5E2\r\n0,t,2e3\r\n", "", "0|t|150", 0,
       "0|t|2000"},
      {"last line without an end", Shape::kMixed, "1,a,1\r\n2,b,2", "", "1|a|1", 0, "2|b|2"},
      {"LF-only line ends", Shape::kMixed, "1,a,1\n2,b,2\n", "", "1|a|1", 0, "2|b|2"},
      {"a bare LF is data inside quotes", Shape::kMixed, "1,\"a\nb\",1\n", "", "1|a\nb|1"},
      {"Ctrl-Z at the start of a line ends the file", Shape::kMixed,
       "1,a,1\r\n\x1A"
       "2,b,2\r\n",
       "", "1|a|1"},
      {"Ctrl-Z as data while CTRLZISEOF is off", Shape::kMixed,
       "1,a,1\r\n\x1A"
       "2,b,2\r\n",
       "/CTRLZISEOF=OFF", "1|a|1", 0, "0|b|2"},
      {"Ctrl-Z inside a line ends it", Shape::kMixed,
       "1,a\x1A"
       "b,2\r\n",
       "", "1|a|0"},
      {"Ctrl-Z after the data", Shape::kMixed, "1,a,1\r\n2,b,2\r\n\x1A", "", "1|a|1", 0, "2|b|2"},
      {"Ctrl-Z after a last line without an end", Shape::kMixed, "1,a,1\x1A", "", "1|a|1"},
      {"Ctrl-Z at the very start", Shape::kMixed, "\x1A", "", "0||0", 33},
      {"empty file", Shape::kMixed, "", "", "0||0", 33},
      {"a line far longer than the buffer", Shape::kMixed, "1," + long_text + ",2\r\n3,c,4\r\n", "",
       "1|xxxxxxxx|0", 0, "3|c|4"},
      {"a quoted line far longer than the buffer", Shape::kMixed,
       "1,\"" + long_text + "\",2\r\n3,c,4\r\n", "", "1|xxxxxxxx|0", 0, "3|c|4"},
      {"UTF-8 mark at the start of the file", Shape::kMixed,
       "\xEF\xBB\xBF"
       "5,a,1\r\n",
       "", "5|a|1"},
      {"single quote as QUOTE", Shape::kMixed, "1,'a,b',2\r\n", "/QUOTE=39", "1|a,b|2"},
      {"two-byte delimiter", Shape::kMixed, "1; \"a;b\"; 2\r\n3; c; 4\r\n",
       "/FIELDDELIMITER=2,59,32", "1|a;b|2", 0, "3|c|4"},
      {"COMMA sets a one-byte delimiter", Shape::kMixed, "1\t\"a,b\"\t2\r\n", "/COMMA=9",
       "1|a,b|2"},
      {"own end of record", Shape::kMixed, "1,a,2|3,b,4|", "/ENDOFRECORD=1,124", "1|a|2", 0,
       "3|b|4"},
      {"own end of record: CR LF is plain data", Shape::kMixed, "1,a,2\r\n3|", "/ENDOFRECORD=1,124",
       "1|a|2"},
      {"text capacities", Shape::kTexts, "abcdef,abcdef,abcdef\r\n", "", "abcd|abc|abc"},
      {"short texts", Shape::kTexts, "a,b,\"\"\r\n", "", "a|b|"},
      {"number types", Shape::kNumbers, "255,-32768,65535,4294967295,1.25E-3,0.5,12.3456,-7.25\r\n",
       "", "255|-32768|65535|4294967295|0.00125|0.5|12.346|-7.3"},
      {"integers keep their low bytes", Shape::kNumbers, "300,70000,-1,4294967297\r\n", "",
       "44|4464|0|1|0|0|0|0"},
      {"groups element by element, OVER left out", Shape::kGroups, "1,ab,cd,ef,gh,9\r\n", "",
       "1|ab|cd|abcdefgh|9"},
      {"BFLOAT, DATE and TIME", Shape::kFloats, "1.5,-2.25,80000,360001\r\n", "",
       "1.5|-2.25|80000|360001"},
  };
  for (const ReadCase& c : cases) run(c);
}

TEST_F(BasicReadTest, PointersPositionsAndEndOfFile) {
  write_bytes(path("in.csv"), "1,a,1\r\n22,bb,2\r\n333,ccc,3");
  File file(declaration(Shape::kMixed, path("in.csv"), ""));
  OPEN(file, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0);
  NEXT(file);
  EXPECT_EQ(ERRORNUMBER(), 33);  // no SET
  SET(file);
  EXPECT_FALSE(EOF_(file));
  const int32_t expected_pointers[] = {1, 8, 17};
  const int32_t expected_bytes[] = {7, 9, 9};
  std::vector<std::string> positions;
  for (int i = 0; i < 3; ++i) {
    NEXT(file);
    ASSERT_EQ(ERRORNUMBER(), 0);
    EXPECT_EQ(POINTER(file), expected_pointers[i]);
    EXPECT_EQ(BYTES(file), expected_bytes[i]);
    positions.push_back(POSITION(file));
    EXPECT_EQ(positions.back().size(), 4u);
  }
  EXPECT_TRUE(EOF_(file));
  NEXT(file);
  EXPECT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(BYTES(file), 25);  // no current record: the file size
  // A Ctrl-Z after the data is the end of the file for EOF as well.
  write_bytes(path("z.csv"), "1,a,1\r\n\x1A");
  File z(declaration(Shape::kMixed, path("z.csv"), ""));
  OPEN(z, 0x40);
  SET(z);
  NEXT(z);
  EXPECT_TRUE(EOF_(z));
  SEND(z, "CTRLZISEOF=OFF");
  EXPECT_FALSE(EOF_(z));
  CLOSE(z);

  GET(file, 8);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(values(file), "22|bb|2");
  GET(file, 8, 100);
  EXPECT_EQ(values(file), "22|bb|2");
  GET(file, 26);
  EXPECT_EQ(ERRORNUMBER(), 33);
  REGET(file, positions[2]);
  EXPECT_EQ(values(file), "333|ccc|3");
  RESET(file, positions[1]);
  NEXT(file);
  EXPECT_EQ(values(file), "22|bb|2");
  SET(file, 17);
  NEXT(file);
  EXPECT_EQ(values(file), "333|ccc|3");
  SET(file, 0);  // from the start
  NEXT(file);
  EXPECT_EQ(values(file), "1|a|1");
  REGET(file, "    ");
  EXPECT_EQ(ERRORNUMBER(), 35);
  CLOSE(file);
  EXPECT_TRUE(EOF_(file));  // not open: 37 and true
  EXPECT_EQ(ERRORNUMBER(), 37);
}

TEST_F(BasicReadTest, QuickScanAndSharedReadersSeeAppendedRecords) {
  write_bytes(path("in.csv"), "1,a,1\r\n");
  File reader(declaration(Shape::kMixed, path("in.csv"), ""));
  File writer(declaration(Shape::kMixed, path("in.csv"), ""));
  SHARE(reader, 0x40);
  SHARE(writer, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0);
  SET(reader);
  NEXT(reader);
  EXPECT_TRUE(EOF_(reader));
  writer.clear();
  writer.record()[0] = 2;
  ADD(writer);
  ASSERT_EQ(ERRORNUMBER(), 0);
  // Without quick scan a shared reader reads the file afresh.
  EXPECT_FALSE(EOF_(reader));
  NEXT(reader);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(values(reader), "2||0");
  // With quick scan on, it trusts the size it knows.
  EXPECT_EQ(SEND(reader, "QUICKSCAN=ON"), "OFF");
  ADD(writer);
  EXPECT_TRUE(EOF_(reader));
  CLOSE(reader);
  CLOSE(writer);
}

TEST_F(BasicReadTest, OemFilesAreReadAndWrittenInTheOemCharacterSet) {
  // "Пак" in 866 is 8F A0 AA; in 1251 CF E0 EA.
  write_bytes(path("in.csv"), "1,\"\x8F\xA0\xAA\",1\r\n");
  File file(declaration(Shape::kMixed, path("in.csv"), "").oem());
  OPEN(file, 0x22);
  SET(file);
  NEXT(file);
  EXPECT_EQ(values(file), "1|\xCF\xE0\xEA|1");
  ADD(file);
  CLOSE(file);
  EXPECT_EQ(basic_testing::read_bytes(path("in.csv")),
            "1,\"\x8F\xA0\xAA\",1\r\n1,\"\x8F\xA0\xAA\",1.00\r\n");
  EXPECT_EQ(values(file), "1|\xCF\xE0\xEA|1");  // the record itself stays ANSI
}

}  // namespace
}  // namespace vtn
