// The driver's options: SEND scripts with their answers, the driver options text, the defaults
// and the buffer sizes.
#include "runtime/files/basic/basic_options.hpp"

#include <gtest/gtest.h>

#include "files/basic/basic_fixture.hpp"
#include "runtime/files/basic/basic_driver.hpp"

namespace vtn {
namespace {

using basic_testing::BasicTest;
using basic_testing::write_bytes;

struct Exchange {
  const char* sent;
  std::string answer;
};

TEST(BasicOptions, SendScripts) {
  struct Script {
    const char* what;
    std::vector<Exchange> exchanges;
  };
  const Script scripts[] = {
      {"QUOTE", {{"QUOTE=39", "34"}, {"QUOTE", "39"}, {" quote = 34 ", "39"}, {"QUOTE", "34"}}},
      {"FIELDDELIMITER",
       {{"FIELDDELIMITER=2,59,32", ","},
        {"FIELDDELIMITER", "; "},
        {"FIELDDELIMITER=0", "; "},
        {"FIELDDELIMITER=x", "; "},
        {"FIELDDELIMITER", "; "}}},
      {"COMMA",
       {{"COMMA", "44"},
        {"FIELDDELIMITER=2,59,32", ","},
        {"COMMA", ""},
        {"COMMA=9", ""},
        {"COMMA", "9"},
        {"FIELDDELIMITER", "\t"}}},
      {"ENDOFRECORD and ENDOFRECORDINQUOTE",
       {{"ENDOFRECORD=1,124", "\r\n"},
        {"ENDOFRECORDINQUOTE=OFF", "ON"},
        {"ENDOFRECORD", "|"},
        {"EndOfRecordInQuote=yes", "OFF"},
        {"ENDOFRECORDINQUOTE", "ON"},
        {"ENDOFRECORD=3,1,2", "|"},
        {"ENDOFRECORD", "\x01\x02"}}},
      {"switches",
       {{"CTRLZISEOF=OFF", "ON"},
        {"CTRLZISEOF=whatever", "OFF"},
        {"CTRLZISEOF", "ON"},
        {"ALWAYSQUOTE=OFF", "ON"},
        {"ALWAYSQUOTE=maybe", "OFF"},
        {"ALWAYSQUOTE=ON", "OFF"},
        {"ALWAYSQUOTE", "ON"},
        {"QUICKSCAN=ON", "OFF"},
        {"QUICKSCAN=1", "ON"},
        {"QUICKSCAN", "ON"}}},
      {"numbers begin at the first digit", {{"QUOTE= x39", "34"}, {"QUOTE", "39"}}},
      {"unknown names change nothing",
       {{"Recover=10", ""}, {"XYZ", ""}, {"", ""}, {"QUOTE", "34"}}},
      {"buffers",
       {{"FILEBUFFERS=4", "512"},
        {"FILEBUFFERS", "2048"},
        {"FILEBUFFERS=0", "2048"},
        {"FILEBUFFERS", "1000"},
        {"FILEBUFFERS=99999999", "1000"},
        {"FILEBUFFERS", std::to_string(uint64_t{basic::kMaxBufferUnits} * 512)}}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.what);
    basic::BasicOptions options;
    for (const Exchange& e : script.exchanges) {
      SCOPED_TRACE(e.sent);
      const auto answer =
          basic::apply_option(options, basic::clean_option_text(e.sent), /*min_buffer=*/1000);
      EXPECT_EQ(answer.value_or(""), e.answer);
    }
  }
}

TEST(BasicOptions, DriverOptionsText) {
  basic::BasicOptions o;
  basic::apply_driver_options(
      o, "ignored/quote=39 / FIELDDELIMITER=2,59,32/NOSUCH=1/ALWAYSQUOTE=OFF", 512);
  EXPECT_EQ(o.quote, 39);
  EXPECT_EQ(o.field_delimiter, "; ");
  EXPECT_FALSE(o.always_quote);
  EXPECT_EQ(o.end_of_record, "\r\n");
  basic::BasicOptions untouched;
  basic::apply_driver_options(untouched, "QUOTE=39", 512);  // no "/": no option
  EXPECT_EQ(untouched.quote, 34);
}

class BasicOptionsFileTest : public BasicTest {};

TEST_F(BasicOptionsFileTest, DefaultsPerOpenAndWhatSurvivesClose) {
  write_bytes(path("o.csv"), "");
  struct Row {
    const char* what;
    uint32_t access;
    uint32_t text_length;  // of the one STRING field
    std::string options;
    std::string buffers, quick_scan;
  };
  const Row rows[] = {
      {"shared", 0x42, 10, "", "512", "OFF"},
      {"deny write", 0x22, 10, "", "1024", "ON"},
      {"exclusive", 0x12, 10, "", "1024", "ON"},
      {"a long record doubles", 0x42, 600, "", "1200", "OFF"},
      {"options text", 0x42, 10, "/FILEBUFFERS=8/QUICKSCAN=ON", "4096", "ON"},
      {"options text below the record", 0x42, 2000, "/FILEBUFFERS=1", "2000", "OFF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    File f(FileDeclaration("O")
               .driver(basic_entry, row.options)
               .name(path("o.csv"))
               .field("S", ftype::STRING(row.text_length)));
    OPEN(f, row.access);
    ASSERT_EQ(ERRORNUMBER(), 0);
    EXPECT_EQ(SEND(f, "FILEBUFFERS"), row.buffers);
    EXPECT_EQ(SEND(f, "QUICKSCAN"), row.quick_scan);
    EXPECT_EQ(SEND(f, "QUOTE=39"), "34");
    CLOSE(f);
    OPEN(f, row.access);
    EXPECT_EQ(SEND(f, "QUOTE"), "34");  // SEND does not survive CLOSE; the options text does
    EXPECT_EQ(SEND(f, "FILEBUFFERS"), row.buffers);
    CLOSE(f);
  }
}

TEST_F(BasicOptionsFileTest, RegisterAnswersTheRegistrationAndChangesNothing) {
  File f(FileDeclaration("O").driver(basic_entry).name(path("o.csv")).field("N", ftype::LONG));
  const std::string answer = SEND(f, "REGISTER");
  EXPECT_EQ(answer, std::to_string(reinterpret_cast<uintptr_t>(&basic_registration())));
  EXPECT_EQ(std::string(basic_registration().name), "BASIC");
  EXPECT_EQ(std::string(basic_registration().description), "BASIC (Comma Delimited)");
  EXPECT_EQ(SEND(f, "QUOTE"), "34");
  // A huge buffer on a file that is not open is only remembered.
  EXPECT_EQ(SEND(f, "FILEBUFFERS=99999999"), "512");
  EXPECT_EQ(SEND(f, "FILEBUFFERS"), "4294966784");
}

TEST_F(BasicOptionsFileTest, ChangingTheBufferOfAnOpenFileKeepsReading) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += std::to_string(i) + "\r\n";
  write_bytes(path("o.csv"), text);
  File f(FileDeclaration("O").driver(basic_entry).name(path("o.csv")).field("N", ftype::LONG));
  OPEN(f, 0x22);
  SET(f);
  const char* changes[] = {"FILEBUFFERS=1", "QUICKSCAN=OFF", "FILEBUFFERS=64", "QUICKSCAN=ON"};
  for (int i = 0; i < 200; ++i) {
    if (i % 50 == 25) SEND(f, changes[i / 50]);
    NEXT(f);
    ASSERT_EQ(ERRORNUMBER(), 0);
    ASSERT_EQ(basic_testing::field_text(f, 1), std::to_string(i));
  }
  NEXT(f);
  EXPECT_EQ(ERRORNUMBER(), 33);
  CLOSE(f);
}

}  // namespace
}  // namespace vtn
