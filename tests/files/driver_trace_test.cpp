// The driver trace as a person reads it: whole logs of small scripted runs, compared with the
// expected text (the thread and the time masked), and the rules of the settings.
#include "runtime/files/driver_trace.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>

#include "files/basic/basic_fixture.hpp"
#include "files/support/test_driver.hpp"
#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using basic_testing::read_bytes;
using basic_testing::write_bytes;

class DriverTraceTest : public basic_testing::BasicTest {
 protected:
  void SetUp() override {
    BasicTest::SetUp();
    setenv("VTN_WININI", path("win.ini").c_str(), 1);
  }
  void TearDown() override { unsetenv("VTN_WININI"); }

  void settings(const std::string& section_text) { write_bytes(path("win.ini"), section_text); }

  // The log with the thread identifier and the time taken masked.
  std::string log(const char* name = "trace.log") {
    std::string text = read_bytes(path(name));
    text = std::regex_replace(text, std::regex(" [0-9]+\\) +"), " T) ");
    return std::regex_replace(text, std::regex("Time Taken: [0-9]+\\.[0-9]{2} secs"),
                              "Time Taken: t");
  }
};

TEST_F(DriverTraceTest, ScriptedRunOfTheCommaDelimitedDriver) {
  settings("[XWBASIC]\nProfile=1\nTraceFile=" + path("trace.log") + "\nDetails=1\n");
  write_bytes(path("people.csv"),
              "17,\"Smith\",12.5,2,132779015,132779008,169090600,402653184,\"a\",\"b\"\r\n");
  const std::string name = path("people.csv");
  {
    File people(FileDeclaration("PEO")
                    .driver(basic_entry, "/QUOTE=34")
                    .name(name)
                    .owner("secret")
                    .create()
                    .field("ID", ftype::LONG)
                    .field("NAME", ftype::STRING(8), {.name = "FULLNAME"})
                    .field("AMOUNT", ftype::DECIMAL(7, 2))
                    .field("FLAGS", ftype::BYTE)
                    .field("WHEN", ftype::DATE)
                    .field("NODAY", ftype::DATE)
                    .field("AT", ftype::TIME)
                    .field("LATE", ftype::TIME)
                    .group("PARTS", {.dim = {2}})
                    .field("PART", ftype::STRING(3))
                    .end()
                    .field("ALL", ftype::STRING(6), {.over = "PARTS"}));
    OPEN(people, 0x42);
    SET(people);
    NEXT(people);
    NEXT(people);
    CLOSE(people);
    forget_traced_file(&people.declared());
  }
  const std::string& n = name;
  const std::string expected = n + " FILE,DRIVER('BASIC','/QUOTE=34'),OWNER(******),NAME('" + n +
                               "'),CREATE\r\n" +
                               "                    RECORD\r\n"
                               "PEO:ID                LONG\r\n"
                               "PEO:NAME              STRING(8),NAME('FULLNAME')\r\n"
                               "PEO:AMOUNT            DECIMAL(7,2)\r\n"
                               "PEO:FLAGS             BYTE\r\n"
                               "PEO:WHEN              DATE\r\n"
                               "PEO:NODAY             DATE\r\n"
                               "PEO:AT                TIME\r\n"
                               "PEO:LATE              TIME\r\n"
                               "PEO:PARTS             GROUP, DIM(2)\r\n"
                               "PEO:PART                STRING(3)\r\n"
                               "                      END\r\n"
                               "PEO:ALL               STRING(6), OVER(PEO:PARTS)\r\n"
                               "                    END\r\n"
                               "                  END\r\n"
                               "\r\n"
                               "OPEN(" +
                               n +
                               " T) Time Taken: t\r\n"
                               "SETfile(" +
                               n +
                               " T) Time Taken: t\r\n"
                               "NEXT(" +
                               n +
                               " T) Time Taken: t\r\n"
                               "  PEO:ID            : 17\r\n"
                               "  PEO:NAME          : 'Smith   '\r\n"
                               "  PEO:AMOUNT        : 12.5\r\n"
                               "  PEO:FLAGS         : 02H\r\n"
                               "  PEO:WHEN          : 07 Dec 2026 (132779015)\r\n"
                               "  PEO:NODAY         : Invalid date (132779008)\r\n"
                               "  PEO:AT            : 10:20:30.40 (169090600)\r\n"
                               "  PEO:LATE          : Invalid time (402653184)\r\n"
                               "\r\n"
                               "  PEO:PART          : 'a  '\r\n"
                               "  PEO:ALL           : 'a  b  '\r\n"
                               "\r\n"
                               "NEXT(" +
                               n +
                               " T) Error: Record Not Available Time Taken: t\r\n"
                               "  PEO:ID            : 17\r\n"
                               "  PEO:NAME          : 'Smith   '\r\n"
                               "  PEO:AMOUNT        : 12.5\r\n"
                               "  PEO:FLAGS         : 02H\r\n"
                               "  PEO:WHEN          : 07 Dec 2026 (132779015)\r\n"
                               "  PEO:NODAY         : Invalid date (132779008)\r\n"
                               "  PEO:AT            : 10:20:30.40 (169090600)\r\n"
                               "  PEO:LATE          : Invalid time (402653184)\r\n"
                               "\r\n"
                               "  PEO:PART          : 'a  '\r\n"
                               "  PEO:ALL           : 'a  b  '\r\n"
                               "\r\n"
                               "CLOSE(" +
                               n + " T) Time Taken: t\r\n";
  EXPECT_EQ(log(), expected);
}

// A FileBlock that takes the address of one that has gone is dumped when its structure differs;
// the structure of the file that stays is dumped once.
TEST_F(DriverTraceTest, ANewFileAtAnOldAddressIsDumped) {
  settings("[XWBASIC]\nProfile=1\nTraceFile=" + path("trace.log") + "\nDetails=1\n");
  write_bytes(path("a.csv"), "1\r\n");
  const std::string name = path("a.csv");
  alignas(File) unsigned char storage[sizeof(File)];
  auto run = [&](FileDeclaration declaration) {
    File* f = new (storage) File(std::move(declaration));
    OPEN(*f, 0x40);
    CLOSE(*f);
    OPEN(*f, 0x40);
    CLOSE(*f);
    const FileBlock* block = &f->declared();
    f->~File();
    return block;
  };
  const FileBlock* first =
      run(FileDeclaration("A").driver(basic_entry).name(name).field("N", ftype::LONG));
  const FileBlock* second =
      run(FileDeclaration("B").driver(basic_entry).name(name).field("M", ftype::STRING(4)));
  ASSERT_EQ(first, second);
  const std::string text = log();
  EXPECT_EQ(text.find("A:N"), text.rfind("A:N"));  // once for the two OPENs of the first file
  EXPECT_NE(text.find("A:N"), std::string::npos);
  EXPECT_NE(text.find("B:M                   STRING(4)"), std::string::npos) << text;
  EXPECT_LT(text.find("A:N"), text.find("B:M"));
  forget_traced_file(second);
}

// The settings decide whether a file is traced, where, and in how much detail.
TEST_F(DriverTraceTest, SettingsDecideWhatIsWritten) {
  struct Row {
    const char* what;
    std::string settings;
    bool encrypt;
    std::string options;
    const char* log;  // the log that must appear (null: none at all)
    bool structure = false;  // the structure dump is in it
    bool contents = false;   // the record contents are in it
  };
  const Row rows[] = {
      {"Profile 0 writes nothing", "Profile=0\nTraceFile=t.log\nDetails=1", false, "", nullptr},
      {"no Profile key writes nothing", "TraceFile=t.log", false, "", nullptr},
      {"default log in the current directory", "Profile=1", false, "", "BASIC.LOG"},
      {"an empty TraceFile means the default", "Profile=1\nTraceFile=", false, "", "BASIC.LOG"},
      {"operation lines without details", "Profile=1\nTraceFile=t.log", false, "", "t.log"},
      {"details", "Profile=1\nTraceFile=t.log\nDetails=1", false, "", "t.log", true, true},
      {"ENCRYPT hides the details", "Profile=1\nTraceFile=t.log\nDetails=1", true, "", "t.log"},
      {"ENCRYPT with ALLOWDETAILS", "Profile=1\nTraceFile=t.log\nDetails=1", true,
       "/quote=34/ allowDetails", "t.log", true, true},
      {"ALLOWDETAILS inside quotes is no option", "Profile=1\nTraceFile=t.log\nDetails=1", true,
       "/x=\"a/ALLOWDETAILS\"", "t.log"},
  };
  const std::string cwd = std::filesystem::current_path();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto scratch = dir_ / row.what;
    std::filesystem::create_directory(scratch);
    std::filesystem::current_path(scratch);
    settings("[XWBASIC]\n" + row.settings + "\n");
    write_bytes("data.csv", "1,\"x\"\r\n");
    {
      FileDeclaration d("D");
      d.driver(basic_entry, row.options).name("data.csv").owner("pw");
      if (row.encrypt) d.encrypt();
      File data(d.field("N", ftype::LONG).field("T", ftype::STRING(2)));
      OPEN(data, 0x40);
      SET(data);
      NEXT(data);
      EXPECT_EQ(ERRORNUMBER(), 0);
      CLOSE(data);
      forget_traced_file(&data.declared());
    }
    std::filesystem::current_path(cwd);
    std::vector<std::string> logs;
    for (const auto& e : std::filesystem::directory_iterator(scratch))
      if (e.path().filename() != "data.csv") logs.push_back(e.path().filename());
    if (row.log == nullptr) {
      EXPECT_TRUE(logs.empty());
      continue;
    }
    ASSERT_EQ(logs, std::vector<std::string>{row.log});
    const std::string text = read_bytes((scratch / row.log).string());
    EXPECT_NE(text.find("NEXT("), std::string::npos);
    EXPECT_EQ(text.find("FILE,DRIVER('BASIC'") != std::string::npos, row.structure) << text;
    EXPECT_EQ(text.find("OWNER(******)") != std::string::npos, row.structure);
    EXPECT_EQ(text.find("  D:T               : 'x '") != std::string::npos, row.contents);
    EXPECT_EQ(text.find("pw"), std::string::npos);  // the owner never appears
  }
}

TEST_F(DriverTraceTest, FailuresAreLoggedAndTheLogNeverChangesTheOutcome) {
  settings("[XWBASIC]\nProfile=1\nTraceFile=" + path("trace.log") + "\n");
  File missing(
      FileDeclaration("M").driver(basic_entry).name(path("missing.csv")).field("N", ftype::LONG));
  OPEN(missing);
  EXPECT_EQ(ERRORNUMBER(), 2);
  EXPECT_EQ(log(), "OPEN(" + path("missing.csv") + " T) Error: File Not Found Time Taken: t\r\n");

  // A log that cannot be opened skips the entry; the operation and its error are as without it.
  settings("[XWBASIC]\nProfile=1\nTraceFile=" + path("no/such/dir/trace.log") + "\n");
  File other(
      FileDeclaration("O").driver(basic_entry).name(path("missing.csv")).field("N", ftype::LONG));
  OPEN(other);
  EXPECT_EQ(ERRORNUMBER(), 2);
  EXPECT_EQ(ERRORTEXT(), "File Not Found");
  write_bytes(path("there.csv"), "5\r\n");
  File there(
      FileDeclaration("T").driver(basic_entry).name(path("there.csv")).field("N", ftype::LONG));
  OPEN(there);
  SET(there);
  NEXT(there);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(basic_testing::field_text(there, 1), "5");
  CLOSE(there);
  EXPECT_FALSE(std::filesystem::exists(path("no")));
}

TEST_F(DriverTraceTest, TimeTakenInHundredths) {
  install_driver_trace();
  struct Row {
    uint32_t hundredths;
    const char* text;
  };
  const Row rows[] = {{0, "0.00"}, {125, "1.25"}, {7, "0.07"}, {100, "1.00"}, {123456, "1234.56"}};
  File f(FileDeclaration("F").driver(basic_entry).name("timed.csv").field("N", ftype::LONG));
  DriverInstance in;
  in.file_name = "timed.csv";
  in.trace = 1;
  in.trace_file = path("trace.log");
  for (const Row& row : rows) {
    std::filesystem::remove(path("trace.log"));
    trace_call(in, nullptr, op::FLUSH, "BASIC", 0, row.hundredths);
    EXPECT_EQ(read_bytes(path("trace.log")).substr(0, 16), "FLUSH(timed.csv ");
    EXPECT_NE(
        read_bytes(path("trace.log")).find(std::string("Time Taken: ") + row.text + " secs\r\n"),
        std::string::npos);
  }
  // A short head is padded to 18 characters.
  in.file_name = "t";
  std::filesystem::remove(path("trace.log"));
  trace_call(in, nullptr, op::FLUSH, "BASIC", 0, 0);
  const std::string line = read_bytes(path("trace.log"));
  const size_t head = line.find("Time Taken");
  EXPECT_TRUE(std::regex_match(line.substr(0, head), std::regex("FLUSH\\(t [0-9]+\\) +")));
  EXPECT_EQ(head, std::max<size_t>(18, line.find(')') + 2));
  in.file_name = "timed.csv";
  // The internal operations and files without a name are not logged.
  std::filesystem::remove(path("trace.log"));
  trace_call(in, nullptr, op::Internal91, "BASIC", 0, 0);
  trace_call(in, nullptr, op::Internal87, "BASIC", 0, 0);
  in.file_name.clear();
  trace_call(in, nullptr, op::FLUSH, "BASIC", 0, 0);
  EXPECT_FALSE(std::filesystem::exists(path("trace.log")));
}

// A driver with keys and memos: the key in the operation line, the key's values after
// SET(key, key), the memo as a hex dump, the KEY and MEMO lines of the structure.
TEST_F(DriverTraceTest, KeysAndMemosOfAKeyedDriver) {
  install_driver_trace();
  testing_driver::reset_disk();
  testing_driver::disk().files["keyed"];
  File keyed(FileDeclaration("K")
                 .driver(testing_driver::test_entry)
                 .name("keyed")
                 .field("ID", ftype::SHORT)
                 .field("NAME", ftype::CSTRING(6))
                 .field("PRICE", ftype::PDECIMAL(5, 2))
                 .field("RATE", ftype::SREAL)
                 .field("R8", ftype::REAL)
                 .field("B4", ftype::BFLOAT4)
                 .field("P", ftype::PSTRING(5))
                 .key("BY_ID", {"-ID", "NAME"}, KA_DUP | KA_NOCASE, "ByIdent")
                 .index("BY_NAME", {"NAME"})
                 .memo("NOTES", 20, {.binary = false, .name = "Notes"})
                 .blob("DATA", {.binary = true}));
  settings("[XWTEST]\nProfile=1\nTraceFile=" + path("trace.log") + "\nDetails=1\n");
  OPEN(keyed);
  ASSERT_EQ(ERRORNUMBER(), 0);
  auto* r = keyed.record();
  int16_t id = -3;
  std::memcpy(r, &id, 2);
  std::memcpy(r + 2, "ab\0", 3);
  std::memcpy(keyed.memo("NOTES").buffer, "Hello, trace!\x01\xFF over sixteen   ", 20);
  ADD(keyed);
  SET(keyed.key("BY_ID"), keyed.key("BY_ID"));
  CLOSE(keyed);
  forget_traced_file(&keyed.declared());
  const std::string expected =
      "keyed             FILE,DRIVER('TESTDRV'),NAME('keyed')\r\n"
      "K:BY_ID             KEY(-K:ID,+K:NAME),DUP,NOCASE,NAME('ByIdent')\r\n"
      "K:BY_NAME           INDEX(+K:NAME)\r\n"
      "K:NOTES             MEMO(20),NAME('Notes')\r\n"
      "K:DATA              BLOB,BINARY\r\n"
      "                    RECORD\r\n"
      "K:ID                  SHORT\r\n"
      "K:NAME                CSTRING(6)\r\n"
      "K:PRICE               PDECIMAL(5,2)\r\n"
      "K:RATE                SREAL\r\n"
      "K:R8                  REAL\r\n"
      "K:B4                  BFLOAT4\r\n"
      "K:P                   PSTRING(5)\r\n"
      "                    END\r\n"
      "                  END\r\n"
      "\r\n"
      "OPEN(keyed T) Time Taken: t\r\n"
      "ADD(keyed T) Time Taken: t\r\n"
      "K:NOTES           "
      "  48 65 6C 6C 6F 2C 20 74 72 61 63 65 21 01 FF 20  | Hello, trace!.. \r\n"
      "  6F 76 65 72                                      | over\r\n"
      "\r\n"
      "K:DATA            "
      "  K:ID              : -3\r\n"
      "  K:NAME            : 'ab'\r\n"
      "  K:PRICE           : 0\r\n"
      "  K:RATE            : 0.000000\r\n"
      "  K:R8              : 0\r\n"
      "  K:B4              : \r\n"
      "  K:P               : ''\r\n"
      "\r\n"
      "SETkeykey(keyed,[1] T) Time Taken: t\r\n"
      "  K:ID              : -3\r\n"
      "  K:NAME            : 'ab'\r\n"
      "\r\n"
      "CLOSE(keyed T) Time Taken: t\r\n";
  EXPECT_EQ(log(), expected);
}

}  // namespace
}  // namespace vtn
