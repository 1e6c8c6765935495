// The diagnostic trace and the message names: the log beside the working directory, the
// auxiliary copy, dropped nested lines, the calling chain, and the fatal diagnostic that the
// run-time's internal failures leave behind.
#include "runtime/ui/diagnostic_trace.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/fatal_error.hpp"
#include "runtime/ui/message_names.hpp"
#include "runtime/values/string_stack.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

TEST(MessageNames, LookupTakesTheFirstPairOrWritesTheCode) {
  struct Case {
    uint32_t code;
    const char* name;
  };
  const Case cases[] = {
      {0x1401, "EVENT:Accepted"},  {0x2401, "QUERY_SETUSE"},   {0x1607, "0x1607"},
      {0x07FF, "0x07ff"},          {0x0000, "WM_NULL"},        {0x0004, "WM_SIZEWAIT"},
      {0x0017, "WM_SYSTEMERROR"},  {0x0040, "WM_TESTING"},     {0x0360, "WM_VBXEVENT"},
      {0x03E0, "WM_DDE_INITIATE"}, {0x03E8, "WM_DDE_EXECUTE"}, {0x1642, "EVENT:BuildDone"},
      {0x241D, "QUERY_EDITDONE"},  {0x240B, "0x240b"},         {0x0100, "WM_KEYDOWN"},
      {0x0200, "WM_MOUSEMOVE"},    {0x0400, "WM_USER"},        {0x12345, "0x12345"},
      {0x1636, "EVENT:UnDocked"},  {0x0111, "WM_COMMAND"},     {0x0001, "WM_CREATE"},
  };
  for (const Case& c : cases) EXPECT_EQ(message_name(c.code), c.name) << std::hex << c.code;
}

TEST(MessageNames, TheTableHoldsItsFourGroupsInOrder) {
  const std::span<const MessageName> table = message_name_table();
  ASSERT_EQ(table.size(), 259u);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(table[i].code, 0x3E0 + i);
  auto index_of = [&](std::string_view name) {
    for (size_t i = 0; i < table.size(); ++i) {
      if (table[i].name == name) return i;
    }
    return table.size();
  };
  EXPECT_EQ(index_of("EVENT:Accepted"), 9u);
  EXPECT_EQ(index_of("EVENT:BuildFile"), index_of("EVENT:DDEclosed") + 1);
  EXPECT_EQ(index_of("EVENT:Move"), index_of("EVENT:BuildDone") + 1);
  EXPECT_EQ(index_of("EVENT:UnDocked"), 71u);
  const uint32_t queries[] = {0x2401, 0x2402, 0x2403, 0x2404, 0x2405, 0x2406, 0x2407, 0x2408,
                              0x2409, 0x240A, 0x240C, 0x2412, 0x241C, 0x2410, 0x240E, 0x241D};
  for (size_t i = 0; i < std::size(queries); ++i) EXPECT_EQ(table[72 + i].code, queries[i]) << i;

  // The window messages follow by code; the names are unique and each is reachable by its code
  // unless an earlier pair shares it.
  std::set<std::string_view> names;
  for (size_t i = 88; i < table.size(); ++i) {
    EXPECT_TRUE(table[i].name.starts_with("WM_")) << table[i].name;
    if (i > 88) {
      EXPECT_LE(table[i - 1].code, table[i].code) << table[i].name;
    }
  }
  for (const MessageName& pair : table) EXPECT_TRUE(names.insert(pair.name).second) << pair.name;
}

// Every test starts as a new process would: no log yet, the log hook, a scratch directory as the
// working directory and a profile that the test writes.
class TraceTest : public testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override {
    previous_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    setenv("VTN_WININI", path("win.ini").c_str(), 1);
    reset_trace_for_tests();
  }
  void TearDown() override {
    reset_trace_for_tests();
    unsetenv("VTN_WININI");
    std::filesystem::current_path(previous_dir_);
  }

  void write_file(const char* name, const std::string& text) {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string read_file(const char* name) {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void set_auxtrace(const char* value) {
    write_file("win.ini", std::string("[Vortane 5 Tracing]\nauxtrace=") + value + "\n");
  }

  std::filesystem::path previous_dir_;
};

TEST_F(TraceTest, FirstLineReplacesAnOldLogAndLaterLinesAppend) {
  write_file("V5LOG.TXT", "left by an earlier run, much longer than what follows\r\n");
  trace("line %d of %s\r\n", 1, "the run");
  trace_text("second, taken as it is: %d\r\n");
  trace("%s", "");
  trace("no line end");
  EXPECT_EQ(read_file("V5LOG.TXT"),
            "line 1 of the run\r\nsecond, taken as it is: %d\r\nno line end");
}

TEST_F(TraceTest, AuxtraceChosenByTheFirstLineOnly) {
  struct Case {
    const char* before;  // the setting when the first line is written
    const char* after;   // the setting for the later lines
    bool copied;
  };
  for (const Case& c : {Case{"1", "", true}, Case{"", "1", false}, Case{"COM1", "COM1", true}}) {
    SCOPED_TRACE(std::string(c.before) + " / " + c.after);
    reset_trace_for_tests();
    set_auxtrace(c.before);
    testing::internal::CaptureStderr();
    trace_text("first\r\n");
    set_auxtrace(c.after);
    trace_text("second\r\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.copied ? "first\r\nsecond\r\n" : "");
    EXPECT_EQ(read_file("V5LOG.TXT"), "first\r\nsecond\r\n");
  }
}

TEST_F(TraceTest, ALogThatCannotBeCreatedSwallowsLinesButTheCopyStillGetsThem) {
  std::filesystem::create_directory(path("V5LOG.TXT"));
  set_auxtrace("yes");
  testing::internal::CaptureStderr();
  trace_text("kept on the copy\r\n");
  std::filesystem::remove(path("V5LOG.TXT"));
  trace_text("and not retried\r\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "kept on the copy\r\nand not retried\r\n");
  EXPECT_FALSE(std::filesystem::exists(path("V5LOG.TXT")));
}

std::vector<std::string> hooked;
void tracing_hook(std::string_view line) {
  hooked.emplace_back(line);
  trace_text("nested\r\n");  // dropped: a trace is already being written
}

TEST_F(TraceTest, ALineTracedWhileAnotherIsWrittenIsDropped) {
  hooked.clear();
  const TraceOutputHook previous = set_trace_output_hook(tracing_hook);
  EXPECT_EQ(previous, &write_to_trace_log);
  trace_text("outer\r\n");
  trace_text("again\r\n");
  set_trace_output_hook(previous);
  EXPECT_EQ(hooked, (std::vector<std::string>{"outer\r\n", "again\r\n"}));
  EXPECT_FALSE(std::filesystem::exists(path("V5LOG.TXT")));
}

TEST_F(TraceTest, LinesFromSeveralThreadsStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) trace("thread %d line %03d ----------\r\n", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::istringstream log(read_file("V5LOG.TXT"));
  std::vector<int> next(kThreads, 0);
  std::string line;
  int count = 0;
  while (std::getline(log, line)) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d ----------\r", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]++) << "thread " << t;  // each thread's lines in order, none lost
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(TraceTest, ALineAfterTheLogWasClosedIsAppended) {
  trace_text("during the run\r\n");
  close_trace_log();
  trace_text("during termination\r\n");
  close_trace_log();
  EXPECT_EQ(read_file("V5LOG.TXT"), "during the run\r\nduring termination\r\n");
}

// Not inlined and not a tail call, so that its frame is on the chain.
__attribute__((noinline)) CallingChain chain_from_here(uintptr_t& returns_to) {
  returns_to = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  CallingChain chain = calling_chain();
  asm volatile("" ::: "memory");
  return chain;
}

TEST(CallingChain, StartsWhereTheCallerReturnsTo) {
  uintptr_t returns_to = 0;
  const CallingChain chain = chain_from_here(returns_to);
  EXPECT_EQ(chain[0], returns_to);
  EXPECT_NE(chain[1], 0u);  // the test body's own caller
}

TEST_F(TraceTest, ErrorWithChainWritesTheErrorTheAddressesAndTheDashes) {
  CallingChain chain{};
  chain[0] = 0x401000;
  chain[1] = 0x7ffd12345678;
  chain[3] = 0xABC;  // a gap is skipped, the walk's zero entries print nothing
  trace_error_with_chain("Internal error 01 : String Stack Error", chain);
  EXPECT_EQ(read_file("V5LOG.TXT"),
            "Error: Internal error 01 : String Stack Error\r\n"
            "   00401000\r\n"
            "   7ffd12345678\r\n"
            "   00000abc\r\n"
            "----------------------------------\r\n");
}

// The fatal path runs in a child: it shows its box on standard error and ends with code 2.
TEST_F(TraceTest, InternalFailuresLeaveTheirDiagnosticOthersDoNot) {
  struct Case {
    const char* what;
    void (*raise)();
    const char* error_line;  // nullptr: nothing is traced
  };
  const Case cases[] = {
      {"string stack underflow", [] { (void)string_stack().pop_string(); },
       "Error: Internal error 01 : String Stack Error\r\n"},
      {"internal error 15", [] { fatal_runtime_error(515, "module x"); },
       "Error: Internal error 15 : module x\r\n"},
      {"fatal diagnostic with another code", [] { fatal_diagnostic(409, "walked off the end"); },
       "Error: walked off the end\r\n"},
      {"mismatched scopes", [] { fatal_runtime_error(802, "Mismatched POPSCOPE"); }, nullptr},
      {"data corruption", [] { fatal_runtime_error(0, "Possible data corruption"); }, nullptr},
  };
  const std::regex shape("Error: [^\r\n]*\r\n(   [0-9a-f]{8,16}\r\n){1,10}-{34}\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path("V5LOG.TXT"));
    EXPECT_EXIT(c.raise(), testing::ExitedWithCode(2), "Runtime error");
    if (c.error_line == nullptr) {
      EXPECT_FALSE(std::filesystem::exists(path("V5LOG.TXT")));
      continue;
    }
    const std::string log = read_file("V5LOG.TXT");
    EXPECT_TRUE(log.starts_with(c.error_line)) << log;
    EXPECT_TRUE(std::regex_match(log, shape)) << log;
  }
}

}  // namespace
}  // namespace vtn
