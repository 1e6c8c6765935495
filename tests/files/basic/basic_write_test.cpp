// Writing comma-delimited files: the exact text of written lines, write -> read round trips for
// every field type and option set, records rewritten with other lengths, the lock, short writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "files/basic/basic_fixture.hpp"
#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/values/decimal.hpp"

namespace vtn {
namespace {

using basic_testing::BasicTest;
using basic_testing::field_text;
using basic_testing::read_bytes;
using basic_testing::write_bytes;

// Every type a line can hold, a dimensioned GROUP and a field OVER it.
FileDeclaration all_types(const std::string& name, const std::string& options) {
  FileDeclaration d("W");
  d.driver(basic_entry, options)
      .name(name)
      .field("B", ftype::BYTE)
      .field("SH", ftype::SHORT)
      .field("US", ftype::USHORT)
      .field("DT", ftype::DATE)
      .field("TM", ftype::TIME)
      .field("L", ftype::LONG)
      .field("UL", ftype::ULONG)
      .field("SR", ftype::SREAL)
      .field("R", ftype::REAL)
      .field("F4", ftype::BFLOAT4)
      .field("F8", ftype::BFLOAT8)
      .field("D", ftype::DECIMAL(9, 2))
      .field("PD", ftype::PDECIMAL(5, 1))
      .field("S", ftype::STRING(6))
      .field("C", ftype::CSTRING(6))
      .field("P", ftype::PSTRING(6))
      .group("G", {.dim = {2}})
      .field("GS", ftype::STRING(3))
      .end()
      .field("ALL", ftype::STRING(6), {.over = "G"});
  return d;
}

template <typename T>
void put(File& f, const char* label, T value) {
  std::memcpy(f.record() + f.record_type().fields[f.field(label) - 1].offset, &value, sizeof value);
}

void put_text(File& f, const char* label, std::string_view text, uint32_t element = 0) {
  const FieldDescriptor& d = f.record_type().fields[f.field(label) - 1];
  char* p = f.record() + d.offset + element * d.size;
  if (d.value_type() == ValueType::PSTRING) {
    p[0] = static_cast<char>(text.size());
    ++p;
  }
  std::memcpy(p, text.data(), text.size());
  if (d.value_type() == ValueType::CSTRING) p[text.size()] = '\0';
}

void put_decimal(File& f, const char* label, std::string_view text) {
  const FieldDescriptor& d = f.record_type().fields[f.field(label) - 1];
  decimal_stack().push_text(text);
  auto* p = reinterpret_cast<uint8_t*>(f.record() + d.offset);
  if (d.value_type() == ValueType::DECIMAL)
    decimal_stack().pop_decimal(p, d.size, d.places);
  else
    decimal_stack().pop_pdecimal(p, d.size, d.places);
}

// A record with a value in every field.
void fill(File& f, std::string_view text) {
  f.clear();
  put(f, "B", uint8_t{200});
  put(f, "SH", int16_t{-1234});
  put(f, "US", uint16_t{65000});
  put(f, "DT", uint32_t{80000});
  put(f, "TM", uint32_t{4320001});
  put(f, "L", int32_t{-2000000000});
  put(f, "UL", uint32_t{4000000000u});
  put(f, "SR", 0.125f);
  put(f, "R", -1234.5);
  uint8_t mbf[8];
  real_to_bfloat4(2.5, mbf);
  std::memcpy(f.record() + f.record_type().fields[f.field("F4") - 1].offset, mbf, 4);
  real_to_bfloat8(-0.75, mbf);
  std::memcpy(f.record() + f.record_type().fields[f.field("F8") - 1].offset, mbf, 8);
  put_decimal(f, "D", "-1234567.89");
  put_decimal(f, "PD", "12.5");
  put_text(f, "S", text);
  put_text(f, "C", text.substr(0, 5));
  put_text(f, "P", text.substr(0, 5));
  put_text(f, "GS", "x", 0);
  put_text(f, "GS", "yz", 1);
}

class BasicWriteTest : public BasicTest {
 protected:
  // The line that ADD writes for the record `set` makes.
  std::string line(const std::string& options, const std::function<void(File&)>& set) {
    write_bytes(path("out.csv"), "");
    File f(all_types(path("out.csv"), options));
    OPEN(f, 0x22);
    EXPECT_EQ(ERRORNUMBER(), 0);
    set(f);
    ADD(f);
    EXPECT_EQ(ERRORNUMBER(), 0);
    CLOSE(f);
    return read_bytes(path("out.csv"));
  }
};

TEST_F(BasicWriteTest, TextOfWrittenLines) {
  const std::string numbers =
      "200,-1234,65000,80000,4320001,-2000000000,4000000000,0.125,-1234.5,2.5,-0.75,"
      "-1234567.89,12.5,";
  struct Row {
    const char* what;
    std::string options;
    std::string text;  // of the text fields
    std::string expected;
  };
  const Row rows[] = {
      {"quoted texts", "", "ab", numbers + "\"ab\",\"ab\",\"ab\",\"x\",\"yz\"\r\n"},
      {"bare texts", "/ALWAYSQUOTE=OFF", "ab", numbers + "ab,ab,ab,x,yz\r\n"},
      {"a delimiter in a text quotes it", "/ALWAYSQUOTE=OFF", "a,b",
       numbers + "\"a,b\",\"a,b\",\"a,b\",x,yz\r\n"},
      {"a quote in a text is doubled and quotes it", "/ALWAYSQUOTE=OFF", "a\"b",
       numbers + "\"a\"\"b\",\"a\"\"b\",\"a\"\"b\",x,yz\r\n"},
      {"a line break in a text quotes it", "/ALWAYSQUOTE=OFF", "a\r\nb",
       numbers + "\"a\r\nb\",\"a\r\nb\",\"a\r\nb\",x,yz\r\n"},
      {"trailing blanks go", "", "a  ", numbers + "\"a\",\"a\",\"a\",\"x\",\"yz\"\r\n"},
      {"all blanks", "/ALWAYSQUOTE=OFF", "   ", numbers + ",,,x,yz\r\n"},
      {"leading blanks quote a text", "/ALWAYSQUOTE=OFF", " a",
       numbers + "\" a\",\" a\",\" a\",x,yz\r\n"},
      {"single quote", "/QUOTE=39", "it's", numbers + "'it''s','it''s','it''s','x','yz'\r\n"},
      {"two-byte delimiter", "/FIELDDELIMITER=2,59,32/ALWAYSQUOTE=OFF", "a;b",
       "200; -1234; 65000; 80000; 4320001; -2000000000; 4000000000; 0.125; -1234.5; 2.5; -0.75; "
       "-1234567.89; 12.5; a;b; a;b; a;b; x; yz\r\n"},
      {"own end of record", "/ENDOFRECORD=2,13,13/COMMA=9/ALWAYSQUOTE=OFF", "ab",
       "200\t-1234\t65000\t80000\t4320001\t-2000000000\t4000000000\t0.125\t-1234.5\t2.5\t"
       "-0.75\t-1234567.89\t12.5\tab\tab\tab\tx\tyz\r\r"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(line(row.options, [&](File& f) { fill(f, row.text); }), row.expected);
  }
}

TEST_F(BasicWriteTest, RealsHaveSixSignificantDigits) {
  struct Row {
    double value;
    const char* text;
  };
  const Row rows[] = {{1234567.891, "1.23457E+06"},
                      {0.1, "0.1"},
                      {-0.000123456789, "-0.000123457"},
                      {100, "100"},
                      {1e20, "1E+20"},
                      {0, "0"},
                      {123456, "123456"},
                      {1234567, "1.23457E+06"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const std::string text = line("/ALWAYSQUOTE=OFF", [&](File& f) {
      f.clear();
      put(f, "R", row.value);
    });
    EXPECT_EQ(text.substr(0, text.find(",,")),
              "0,0,0,0,0,0,0,0," + std::string(row.text) + ",0,0,0.00,0.0");
  }
}

// Whatever a record holds comes back from its line, byte for byte, under every option set.
TEST_F(BasicWriteTest, RoundTripsForEveryTypeAndOptionSet) {
  const char* option_sets[] = {"",
                               "/ALWAYSQUOTE=OFF",
                               "/QUOTE=39/FIELDDELIMITER=3,59,59,32",
                               "/ENDOFRECORD=1,10/ENDOFRECORDINQUOTE=ON",
                               "/COMMA=9/ALWAYSQUOTE=OFF/CTRLZISEOF=OFF",
                               "/FILEBUFFERS=1/QUICKSCAN=OFF"};
  const char* texts[] = {"plain",  "a,b",    "q\"t",         "it's", "x;; y",
                         "a\r\nb", "  lead", "\xCF\xE0\xEA", ""};
  for (const char* options : option_sets) {
    SCOPED_TRACE(options);
    write_bytes(path("rt.csv"), "");
    File f(all_types(path("rt.csv"), options));
    OPEN(f, 0x22);
    ASSERT_EQ(ERRORNUMBER(), 0);
    std::vector<std::string> records;
    for (const char* text : texts) {
      fill(f, text);
      records.emplace_back(f.record(), f.record_type().size);
      ADD(f);
      ASSERT_EQ(ERRORNUMBER(), 0);
    }
    SET(f);
    for (size_t i = 0; i < records.size(); ++i) {
      SCOPED_TRACE(texts[i]);
      f.clear();
      NEXT(f);
      ASSERT_EQ(ERRORNUMBER(), 0);
      EXPECT_EQ(std::string(f.record(), f.record_type().size), records[i]);
    }
    NEXT(f);
    EXPECT_EQ(ERRORNUMBER(), 33);
    CLOSE(f);
  }
}

class BasicRewriteTest : public BasicTest {
 protected:
  void SetUp() override {
    BasicTest::SetUp();
    write_bytes(path("r.csv"), "1,\"aa\"\r\n2,\"bb\"\r\n3,\"cc\"\r\n");
  }
  File declare() {
    return File(FileDeclaration("X")
                    .driver(basic_entry)
                    .name(path("r.csv"))
                    .field("N", ftype::LONG)
                    .field("T", ftype::STRING(10)));
  }
};

TEST_F(BasicRewriteTest, PutOfAnotherLengthMovesTheRestOfTheFile) {
  struct Row {
    const char* what;
    int record;  // 1-based, read with NEXT before the PUT
    std::string text;
    std::string file;
    std::string after;  // what NEXT reads after the PUT
  };
  const Row rows[] = {
      {"same length", 2, "xy", "1,\"aa\"\r\n2,\"xy\"\r\n3,\"cc\"\r\n", "3|cc"},
      {"longer", 2, "longer", "1,\"aa\"\r\n2,\"longer\"\r\n3,\"cc\"\r\n", "3|cc"},
      {"shorter", 2, "", "1,\"aa\"\r\n2,\"\"\r\n3,\"cc\"\r\n", "3|cc"},
      {"first, longer", 1, "abcdefghij", "1,\"abcdefghij\"\r\n2,\"bb\"\r\n3,\"cc\"\r\n", "2|bb"},
      {"last, shorter", 3, "c", "1,\"aa\"\r\n2,\"bb\"\r\n3,\"c\"\r\n", ""},
      {"last, longer", 3, "cccccc", "1,\"aa\"\r\n2,\"bb\"\r\n3,\"cccccc\"\r\n", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    File f = declare();
    SHARE(f);
    SET(f);
    for (int i = 0; i < row.record; ++i) NEXT(f);
    const int32_t pointer = POINTER(f);
    std::memset(f.record() + 4, ' ', 10);
    std::memcpy(f.record() + 4, row.text.data(), row.text.size());
    PUT(f);
    EXPECT_EQ(ERRORNUMBER(), 0);
    EXPECT_EQ(POINTER(f), pointer);
    EXPECT_EQ(read_bytes(path("r.csv")), row.file);
    NEXT(f);
    if (row.after.empty()) {
      EXPECT_EQ(ERRORNUMBER(), 33);
    } else {
      EXPECT_EQ(field_text(f, 1) + "|" + field_text(f, 2), row.after);
    }
    CLOSE(f);
  }
}

TEST_F(BasicRewriteTest, WritesAtPointersAndCuts) {
  File f = declare();
  OPEN(f, 0x22);
  f.clear();
  f.record()[0] = 9;
  PUT(f);
  EXPECT_EQ(ERRORNUMBER(), 33);  // no current record
  PUT(f, 9);                     // the second record, not read before
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(read_bytes(path("r.csv")), "1,\"aa\"\r\n9,\"\"\r\n3,\"cc\"\r\n");
  PUT(f, 100);
  EXPECT_EQ(ERRORNUMBER(), 33);
  ADD(f, 0);  // a length of 0 at the end changes nothing
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(read_bytes(path("r.csv")).size(), 22u);
  ADD(f, 3);  // any other length writes the whole record
  FLUSH(f);   // nobody else may write the file: the line waited in the write buffer
  EXPECT_EQ(read_bytes(path("r.csv")), "1,\"aa\"\r\n9,\"\"\r\n3,\"cc\"\r\n9,\"\"\r\n");
  PUT(f, 9, 0);  // cuts the file behind the first record
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(read_bytes(path("r.csv")), "1,\"aa\"\r\n");
  SET(f);
  NEXT(f);
  NEXT(f);
  EXPECT_EQ(ERRORNUMBER(), 33);
  CLOSE(f);
  SHARE(f);
  EMPTY(f);
  EXPECT_EQ(ERRORNUMBER(), 63);  // EMPTY wants the file to itself
  CLOSE(f);
  OPEN(f, 0x12);
  EMPTY(f);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(read_bytes(path("r.csv")), "");
  CLOSE(f);
}

TEST_F(BasicRewriteTest, ReadOnlyFilesRefuseWrites) {
  File f = declare();
  OPEN(f, 0x40);
  ADD(f);
  EXPECT_EQ(ERRORNUMBER(), 5);
  SET(f);
  NEXT(f);
  PUT(f);
  EXPECT_EQ(ERRORNUMBER(), 5);
  CLOSE(f);
  EXPECT_EQ(read_bytes(path("r.csv")), "1,\"aa\"\r\n2,\"bb\"\r\n3,\"cc\"\r\n");
}

TEST_F(BasicRewriteTest, TheCountedLockKeepsOtherWritersOut) {
  File a = declare();
  File b = declare();
  SHARE(a);
  SHARE(b);
  ASSERT_EQ(ERRORNUMBER(), 0);
  LOCK(a);
  EXPECT_EQ(ERRORNUMBER(), 0);
  ADD(a);  // the holder writes: one more level, released again
  EXPECT_EQ(ERRORNUMBER(), 0);
  ADD(b);
  EXPECT_EQ(ERRORNUMBER(), 5);
  LOCK(b, 0);
  EXPECT_EQ(ERRORNUMBER(), 32);
  EXPECT_EQ(ERRORTEXT(), "File Is Already Locked");
  UNLOCK(a);
  EXPECT_EQ(ERRORNUMBER(), 0);
  ADD(b);
  EXPECT_EQ(ERRORNUMBER(), 0);
  LOCK(b, 1);
  EXPECT_EQ(ERRORNUMBER(), 0);
  UNLOCK(b);
  UNLOCK(b);  // not locked: nothing happens, nothing is posted
  EXPECT_EQ(ERRORNUMBER(), 0);
  CLOSE(a);
  CLOSE(b);
  const std::string bytes = read_bytes(path("r.csv"));
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 5);
}

// LOCK gives a shared file the exclusive access that EMPTY needs, and UNLOCK takes it away again;
// a file opened deny-write keeps it.
TEST_F(BasicRewriteTest, ExclusiveAccessLastsAsLongAsTheLock) {
  struct Row {
    const char* what;
    uint32_t access;
    bool lock;
    int32_t empty_error;
  };
  const Row rows[] = {
      {"shared, never locked", 0x42, false, 63},
      {"shared, locked and unlocked", 0x42, true, 63},
      {"deny write, locked and unlocked", 0x22, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    File f = declare();
    OPEN(f, row.access);
    if (row.lock) {
      LOCK(f);
      ASSERT_EQ(ERRORNUMBER(), 0);
      UNLOCK(f);
      ASSERT_EQ(ERRORNUMBER(), 0);
    }
    EMPTY(f);
    EXPECT_EQ(ERRORNUMBER(), row.empty_error);
    CLOSE(f);
    EXPECT_EQ(read_bytes(path("r.csv")).empty(), row.empty_error == 0);
  }
  // While the lock is held, EMPTY is allowed on a shared file.
  SetUp();
  File f = declare();
  SHARE(f);
  LOCK(f);
  EMPTY(f);
  EXPECT_EQ(ERRORNUMBER(), 0);
  CLOSE(f);
  EXPECT_EQ(read_bytes(path("r.csv")), "");
}

// A file that begins with the UTF-8 mark keeps it when its first record is rewritten.
TEST_F(BasicRewriteTest, RewritingTheFirstRecordKeepsTheUtf8Mark) {
  const std::string mark = "\xEF\xBB\xBF";
  struct Row {
    const char* what;
    bool by_pointer;
    std::string text;
    std::string file;
  };
  const Row rows[] = {
      {"PUT, same length", false, "xy", mark + "1,\"xy\"\r\n2,\"bb\"\r\n"},
      {"PUT, longer", false, "longer", mark + "1,\"longer\"\r\n2,\"bb\"\r\n"},
      {"PUT, shorter", false, "", mark + "1,\"\"\r\n2,\"bb\"\r\n"},
      {"PUT at pointer 1", true, "p", mark + "1,\"p\"\r\n2,\"bb\"\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    write_bytes(path("r.csv"), mark + "1,\"aa\"\r\n2,\"bb\"\r\n");
    File f = declare();
    SHARE(f);
    SET(f);
    NEXT(f);
    ASSERT_EQ(ERRORNUMBER(), 0);
    std::memset(f.record() + 4, ' ', 10);
    std::memcpy(f.record() + 4, row.text.data(), row.text.size());
    if (row.by_pointer)
      PUT(f, 1);
    else
      PUT(f);
    EXPECT_EQ(ERRORNUMBER(), 0);
    EXPECT_EQ(POINTER(f), 1);
    EXPECT_EQ(read_bytes(path("r.csv")), row.file);
    NEXT(f);  // the next pointer followed the rewritten record
    EXPECT_EQ(field_text(f, 2), "bb");
    GET(f, 1);
    EXPECT_EQ(field_text(f, 2), row.text);
    CLOSE(f);
  }
}

// Several processes append to one shared file at once: every line arrives whole, none is lost.
TEST_F(BasicRewriteTest, ConcurrentAppendsFromSeveralProcesses) {
  write_bytes(path("r.csv"), "");
  constexpr int kProcesses = 4;
  constexpr int kRecords = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      File f = declare();
      SHARE(f);
      int failures = ERRORNUMBER() != 0 ? 1 : 0;
      for (int i = 0; i < kRecords; ++i) {
        f.clear();
        const int32_t n = p * 1000 + i;
        std::memcpy(f.record(), &n, 4);
        std::memcpy(f.record() + 4, "writer", 6);
        // Another writer may hold the lock for a moment: try again, as a program would.
        do ADD(f);
        while (ERRORNUMBER() == 5);
        failures += ERRORNUMBER() != 0 ? 1 : 0;
      }
      CLOSE(f);
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  File f = declare();
  OPEN(f, 0x40);
  SET(f);
  std::set<int> seen;
  for (;;) {
    NEXT(f);
    if (ERRORNUMBER() != 0) break;
    EXPECT_EQ(field_text(f, 2), "writer");
    seen.insert(std::stoi(field_text(f, 1)));
  }
  EXPECT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(seen.size(), size_t{kProcesses * kRecords});
  CLOSE(f);
}

TEST_F(BasicRewriteTest, ShortAndFailedWritesAreAccessDenied) {
  namespace fault = platform::fault;
  {
    File f = declare();
    SHARE(f);  // a shared file writes at once
    fault::arm({.short_write = 1});
    ADD(f);
    EXPECT_EQ(ERRORNUMBER(), 5);
    fault::disarm();
    CLOSE(f);
  }
  {
    write_bytes(path("r.csv"), "");
    File f = declare();
    OPEN(f, 0x22);  // nobody else writes: the line waits for the flush
    f.clear();
    ADD(f);
    EXPECT_EQ(ERRORNUMBER(), 0);
    fault::arm({.fail_write = 1});
    FLUSH(f);
    EXPECT_EQ(ERRORNUMBER(), 5);
    fault::disarm();
    FLUSH(f);  // what failed is still held, and goes out now
    EXPECT_EQ(ERRORNUMBER(), 0);
    EXPECT_EQ(read_bytes(path("r.csv")), "0,\"\"\r\n");
    CLOSE(f);
  }
}

TEST_F(BasicRewriteTest, FileOperations) {
  File f = declare();
  COPY(f, path("copy.csv"));
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(read_bytes(path("copy.csv")), read_bytes(path("r.csv")));
  RENAME(f, path("renamed.csv"));
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_FALSE(std::filesystem::exists(path("r.csv")));
  OPEN(f);
  EXPECT_EQ(ERRORNUMBER(), 2);
  CREATE(f);
  EXPECT_EQ(ERRORNUMBER(), 54);  // no CREATE attribute
  File unnamed(FileDeclaration("U").driver(basic_entry).field("N", ftype::LONG));
  OPEN(unnamed);
  EXPECT_EQ(ERRORNUMBER(), 45);
  File with_keys(FileDeclaration("K")
                     .driver(basic_entry)
                     .name(path("renamed.csv"))
                     .field("N", ftype::LONG)
                     .key("BY_N", {"N"}));
  OPEN(with_keys);
  EXPECT_EQ(ERRORNUMBER(), 47);
  File remote(
      FileDeclaration("R").driver(basic_entry).name(path("renamed.csv")).field("N", ftype::LONG));
  remote.declared().driver_flags[1] = DF_REMOTE;
  OPEN(remote);
  EXPECT_EQ(ERRORNUMBER(), 80);
}

}  // namespace
}  // namespace vtn
