// twl on the values of a table beyond plain fields: dimensioned fields (numbers, texts, decimals
// and the members of a dimensioned GROUP), a binary memo and a blob. Import places every element
// where a program reads it, export shows it in CSV (a column per element), JSON lines (arrays)
// and SQLite (a column per element), and export -> import -> export gives the same text.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

using testing_support::ChildResult;
using testing_support::run_child;

ChildResult twl(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), VTN_TOOL_PATH);
  return run_child(args, {.input = input});
}

#pragma pack(push, 1)
struct Line {
  uint8_t when[4];  // DATE: day, month, year
  char note[6];     // CSTRING(6)
};
struct Stock {
  int32_t code;
  int16_t qty[3];
  char tags[2][4];
  uint8_t price[2][4];  // DECIMAL(7,2)
  Line lines[2];
};
#pragma pack(pop)

FileDeclaration stock_declaration(const std::string& name) {
  return FileDeclaration("STK")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .field("CODE", ftype::LONG)
      .field("QTY", ftype::SHORT, {.dim = {3}})
      .field("TAGS", ftype::STRING(4), {.dim = {2}})
      .field("PRICE", ftype::DECIMAL(7, 2), {.dim = {2}})
      .group("LINES", {.dim = {2}})
      .field("WHEN", ftype::DATE)
      .field("NOTE", ftype::CSTRING(6))
      .end()
      .key("BY_CODE", {"CODE"}, KA_PRIMARY)
      .memo("RAW", 8, {.binary = true})
      .blob("PICTURE");
}

const std::string kHeader =
    "\"STK:CODE\",\"STK:QTY[1]\",\"STK:QTY[2]\",\"STK:QTY[3]\",\"STK:TAGS[1]\",\"STK:TAGS[2]\","
    "\"STK:PRICE[1]\",\"STK:PRICE[2]\",\"STK:WHEN[1]\",\"STK:NOTE[1]\",\"STK:WHEN[2]\","
    "\"STK:NOTE[2]\",\"STK:RAW\",\"STK:PICTURE\"\r\n";
const std::string kRows =
    "1,3,-4,5,\"ab\",\"cd\",12.50,-0.05,\"2026-12-07\",\"x,y\",,\"z\",\"00FF41\","
    "\"0001FE2020\"\r\n"
    "2,0,0,32767,\"\",\"Щит\",0.00,99999.99,,\"\",\"1801-01-01\",\"\",\"\",\"\"\r\n";

class TwlValuesTest : public testing_support::ScratchDirectoryTest {
 protected:
  std::string make_stock(const std::string& file_name) {
    const std::string file = path(file_name.c_str());
    File stock{stock_declaration(file + "\\!STOCK")};
    CREATE(stock);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    return file;
  }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(path(name.c_str()), std::ios::binary) << text;
    return path(name.c_str());
  }
};

TEST_F(TwlValuesTest, ImportPlacesEveryElementWhereAProgramReadsIt) {
  const std::string file = make_stock("STOCK.TWL");
  const ChildResult imported = twl({"import", file, write("in.csv", kHeader + kRows)});
  ASSERT_EQ(imported.exit_code, 0) << imported.err;

  File stock{stock_declaration(file + "\\!STOCK")};
  OPEN(stock, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  Stock& s = stock.record_as<Stock>();
  s.code = 1;
  GET(stock, stock.key("BY_CODE"));
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(s.qty[0], 3);
  EXPECT_EQ(s.qty[1], -4);
  EXPECT_EQ(s.qty[2], 5);
  EXPECT_EQ(std::string(s.tags[1], 4), "cd  ");
  const uint8_t price2[4] = {0xF0, 0x00, 0x00, 0x05};  // negative, 00000.05
  EXPECT_EQ(std::memcmp(s.price[1], price2, 4), 0);
  const uint8_t when[4] = {7, 12, 0xEA, 0x07};
  EXPECT_EQ(std::memcmp(s.lines[0].when, when, 4), 0);
  EXPECT_STREQ(s.lines[0].note, "x,y");
  EXPECT_STREQ(s.lines[1].note, "z");
  EXPECT_EQ(std::string(stock.memo("RAW").buffer, 8), std::string("\x00\xFF"
                                                                  "A     ",
                                                                  8));
  EXPECT_EQ(BLOB_SIZE(stock, 1), 5);
  CLOSE(stock);
}

TEST_F(TwlValuesTest, ExportShowsElementsInEveryFormatAndReadsBackTheSame) {
  const std::string file = make_stock("STOCK.TWL");
  ASSERT_EQ(twl({"import", file, write("in.csv", kHeader + kRows)}).exit_code, 0);

  const ChildResult csv = twl({"export", file});
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  EXPECT_EQ(csv.out, kHeader + kRows);

  const ChildResult json = twl({"export", "--json", file});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const nlohmann::json first = nlohmann::json::parse(json.out.substr(0, json.out.find('\n')));
  EXPECT_EQ(first["STK:QTY"], nlohmann::json({3, -4, 5}));
  EXPECT_EQ(first["STK:TAGS"], nlohmann::json({"ab", "cd"}));
  EXPECT_EQ(first["STK:PRICE"], nlohmann::json({"12.50", "-0.05"}));
  EXPECT_EQ(first["STK:WHEN"], nlohmann::json({"2026-12-07", nullptr}));
  EXPECT_EQ(first["STK:NOTE"], nlohmann::json({"x,y", "z"}));
  EXPECT_EQ(first["STK:RAW"], "00FF41");
  EXPECT_EQ(first["STK:PICTURE"], "0001FE2020");

  const std::string db = path("stock.db");
  ASSERT_EQ(twl({"export", "--sqlite", db, file}).exit_code, 0);
  const ChildResult rows =
      run_child({"sqlite3", "-separator", "|", db,
                 "SELECT \"STK:QTY[2]\", typeof(\"STK:QTY[3]\"), \"STK:TAGS[2]\", \"STK:NOTE[2]\", "
                 "typeof(\"STK:PICTURE\"), hex(\"STK:PICTURE\") FROM STOCK ORDER BY \"STK:CODE\""});
  EXPECT_EQ(rows.out, "-4|integer|cd|z|blob|0001FE2020\n0|integer|Щит||blob|\n") << rows.err;

  // Round trip: the export imported into a new file exports the same text.
  const std::string copy = make_stock("COPY.TWL");
  const ChildResult again = twl({"import", copy, write("out.csv", csv.out)});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(twl({"export", copy}).out, csv.out);
  EXPECT_EQ(twl({"check", copy}).exit_code, 0);
}

TEST_F(TwlValuesTest, ImportRefusesBadElementsAndBytes) {
  struct Case {
    std::string what, value_columns, error;
  };
  // The row after CODE; each case spoils one value.
  const std::string good_tail = ",\"\",,\"\",\"\",\"\"";  // WHEN, NOTE, WHEN, NOTE, RAW, PICTURE
  const std::vector<Case> cases = {
      {"an element out of range", "1,2,70000,\"a\",\"b\",1,2," + good_tail,
       "STK:QTY[3]: out of the range of a SHORT"},
      {"an element too long", "1,2,3,\"a\",\"bcdef\",1,2," + good_tail,
       "STK:TAGS[2]: longer than the field's 4 characters"},
      {"odd hex digits", "1,2,3,\"a\",\"b\",1,2,\"\",\"\",\"\",\"\",\"ABC\",\"\"",
       "STK:RAW: not hexadecimal bytes"},
      {"not hex", "1,2,3,\"a\",\"b\",1,2,\"\",\"\",\"\",\"\",\"\",\"0G\"",
       "STK:PICTURE: not hexadecimal bytes"},
      {"a binary memo too long",
       "1,2,3,\"a\",\"b\",1,2,\"\",\"\",\"\",\"\",\"000102030405060708\",\"\"",
       "STK:RAW: longer than the memo's 8 bytes"},
  };
  for (const Case& c : cases) {
    const std::string file = make_stock("BAD.TWL");
    const ChildResult result =
        twl({"import", "--no-header", file, write("bad.csv", "7," + c.value_columns + "\r\n")});
    EXPECT_EQ(result.exit_code, 1) << c.what;
    EXPECT_NE(result.err.find("line 1: " + c.error), std::string::npos) << c.what << "\n"
                                                                        << result.err;
    EXPECT_EQ(twl({"export", "--no-header", file}).out, "") << c.what;
  }
}

}  // namespace
}  // namespace vtn
