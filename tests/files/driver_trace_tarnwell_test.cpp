// The driver trace of the record-file driver: the whole log of a small scripted run, compared
// with the expected text (the thread and the time masked).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>

#include "files/basic/basic_fixture.hpp"
#include "runtime/files/driver_trace.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"

namespace vtn {
namespace {

using basic_testing::read_bytes;
using basic_testing::write_bytes;

class TarnwellTraceTest : public basic_testing::BasicTest {
 protected:
  void SetUp() override {
    BasicTest::SetUp();
    setenv("VTN_WININI", path("win.ini").c_str(), 1);
  }
  void TearDown() override { unsetenv("VTN_WININI"); }

  std::string log() {
    std::string text = read_bytes(path("trace.log"));
    text = std::regex_replace(text, std::regex(" [0-9]+\\) +"), " T) ");
    return std::regex_replace(text, std::regex("Time Taken: [0-9]+\\.[0-9]{2} secs"),
                              "Time Taken: t");
  }
};

TEST_F(TarnwellTraceTest, ScriptedRunOfTheRecordFileDriver) {
  write_bytes(path("win.ini"), "[XWTARNWELL]\nProfile=1\nTraceFile=" + path("trace.log") +
                                   "\nDetails=1\n[XWBASIC]\nProfile=0\n");
  const std::string name = path("PACKS.TWL");
  {
    File packs(FileDeclaration("PNM")
                   .driver(tarnwell_entry)
                   .name(name)
                   .create()
                   .field("NUMBER", ftype::SHORT)
                   .field("NAME", ftype::STRING(6))
                   .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY));
    CREATE(packs);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    OPEN(packs, 0x22);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (int16_t n = 1; n <= 2; ++n) {
      packs.clear();
      std::memcpy(packs.record(), &n, 2);
      std::memcpy(packs.record() + 2, n == 1 ? "one" : "two", 3);
      ADD(packs);
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    packs.clear();
    SET(packs.key("BY_NUMBER"), packs.key("BY_NUMBER"));
    NEXT(packs);
    NEXT(packs);
    NEXT(packs);
    EXPECT_EQ(ERRORNUMBER(), 33);
    CLOSE(packs);
    forget_traced_file(&packs.declared());
  }
  const std::string& n = name;
  const std::string record_one =
      "  PNM:NUMBER        : 1\r\n"
      "  PNM:NAME          : 'one   '\r\n"
      "\r\n";
  const std::string record_two =
      "  PNM:NUMBER        : 2\r\n"
      "  PNM:NAME          : 'two   '\r\n"
      "\r\n";
  const std::string expected = n + " FILE,DRIVER('TARNWELL'),NAME('" + n + "'),CREATE\r\n" +
                               "PNM:BY_NUMBER       KEY(+PNM:NUMBER),PRIMARY\r\n"
                               "                    RECORD\r\n"
                               "PNM:NUMBER            SHORT\r\n"
                               "PNM:NAME              STRING(6)\r\n"
                               "                    END\r\n"
                               "                  END\r\n"
                               "\r\n"
                               "CREATE(" +
                               n +
                               " T) Time Taken: t\r\n"
                               "OPEN(" +
                               n +
                               " T) Time Taken: t\r\n"
                               "ADD(" +
                               n + " T) Time Taken: t\r\n" + record_one + "ADD(" + n +
                               " T) Time Taken: t\r\n" + record_two + "SETkeykey(" + n +
                               ",PNM:BY_NUMBER[1] T) Time Taken: t\r\n"
                               "  PNM:NUMBER        : 0\r\n"
                               "\r\n"
                               "NEXT(" +
                               n + " T) Time Taken: t\r\n" + record_one + "NEXT(" + n +
                               " T) Time Taken: t\r\n" + record_two + "NEXT(" + n +
                               " T) Error: Record Not Available Time Taken: t\r\n" + record_two +
                               "CLOSE(" + n + " T) Time Taken: t\r\n";
  EXPECT_EQ(log(), expected);
}

}  // namespace
}  // namespace vtn
