// twl rebuild as a person at a terminal sees it: run under a pseudo-terminal, the progress bar
// is drawn in place and read back; elsewhere plain lines are written; Ctrl-C cancels the build
// with 93 and leaves a valid file whose keys a second rebuild completes.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using testing_support::ChildResult;
using testing_support::run_child;

constexpr int kRecords = 2000;

struct TerminalRun {
  int exit_code = -1;
  std::string screen;  // everything written to the terminal
};

// Runs twl with the given arguments on a new pseudo-terminal. With `interrupted`, Ctrl-C is
// already pending when twl starts (blocked, so that it waits for twl to take it).
TerminalRun twl_on_terminal(const std::vector<std::string>& args, bool interrupted) {
  TerminalRun run;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (interrupted) {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGINT);
      sigprocmask(SIG_BLOCK, &set, nullptr);
      raise(SIGINT);
    }
    std::vector<char*> argv = {const_cast<char*>(VTN_TOOL_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return run;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) {
      run.screen.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO: the terminal's last process has gone
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

ChildResult twl(std::vector<std::string> args) {
  args.insert(args.begin(), VTN_TOOL_PATH);
  return run_child(args);
}

// The tables are made by the driver, one APPEND (and one durable flush) per record: they live in
// memory-backed /dev/shm when the machine has it, so that the flushes cost nothing.
class TwlRebuildTest : public ::testing::Test {
 protected:
  TwlRebuildTest() {
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::string pattern = std::string(base) + "/vtn_twl_XXXXXX";
      if (mkdtemp(pattern.data()) != nullptr) {
        dir_ = pattern;
        return;
      }
    }
    ADD_FAILURE() << "cannot make a scratch directory";
  }
  ~TwlRebuildTest() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;

  // A table whose records were APPENDed: every key stale until it is built.
  std::string make_stale_table() {
    const std::string file = path("STOCK.TWL");
    File stock{FileDeclaration("STK")
                   .driver(tarnwell_entry)
                   .name(file + "\\!STOCK")
                   .create()
                   .field("ID", ftype::LONG)
                   .field("QTY", ftype::LONG)
                   .key("BY_ID", {"ID"})
                   .key("BY_QTY", {"-QTY", "ID"})};
    CREATE(stock);
    OPEN(stock, 0x42);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (int32_t i = 0; i < kRecords; ++i) {
      const int32_t fields[2] = {i, (i * 7919) % 1000};
      std::memcpy(stock.record(), fields, sizeof fields);
      APPEND(stock);
      EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    CLOSE(stock);
    return file;
  }

  // The stale marks of the table's keys, as twl info reports them.
  std::vector<int> stale_marks(const std::string& file) {
    const nlohmann::json info = nlohmann::json::parse(twl({"info", "--json", file}).out);
    std::vector<int> marks;
    for (const auto& key : info["tables"][0]["key_counters"]) {
      marks.push_back(key["counter"].is_null() ? -1 : key["counter"]["second"].get<int>());
    }
    return marks;
  }
};

TEST_F(TwlRebuildTest, TheBarIsDrawnInPlaceOnATerminal) {
  const std::string file = make_stale_table();
  ASSERT_NE(stale_marks(file), std::vector<int>({0, 0}));
  const TerminalRun run = twl_on_terminal({"rebuild", file}, false);
  EXPECT_EQ(run.exit_code, 0) << run.screen;
  // The last drawing: back to the start of the line, the full bar, erase the rest, new line.
  EXPECT_NE(run.screen.find("\rrebuild STOCK  [####################] 100%  2,000 records"),
            std::string::npos)
      << run.screen;
  EXPECT_NE(run.screen.find("\033[K"), std::string::npos) << run.screen;
  EXPECT_NE(run.screen.find("every key of STOCK built over 2000 records"), std::string::npos)
      << run.screen;
  EXPECT_EQ(stale_marks(file), std::vector<int>({0, 0}));
  EXPECT_EQ(twl({"check", file}).exit_code, 0);
  // The rebuilt key orders the records: the largest quantity first.
  const ChildResult first = twl({"export", "--json", "--key", "BY_QTY", file});
  EXPECT_EQ(first.out.substr(0, first.out.find('\n')), R"({"STK:ID":321,"STK:QTY":999})");
}

TEST_F(TwlRebuildTest, ElsewhereItWritesPlainLines) {
  const std::string file = make_stale_table();
  const ChildResult run = twl({"rebuild", "--key", "BY_ID", file});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.err.find("rebuild STOCK  [####################] 100%  2,000 records"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
  EXPECT_EQ(run.err.find('\033'), std::string::npos);
  const std::vector<int> marks = stale_marks(file);
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0], 0);  // built
  EXPECT_NE(marks[1], 0);  // not asked for: still stale
}

TEST_F(TwlRebuildTest, CtrlCCancelsWith93AndLeavesAValidFile) {
  const std::string file = make_stale_table();
  const TerminalRun cancelled = twl_on_terminal({"rebuild", file}, true);
  EXPECT_EQ(cancelled.exit_code, 1) << cancelled.screen;
  EXPECT_NE(cancelled.screen.find("error 93"), std::string::npos) << cancelled.screen;
  EXPECT_NE(stale_marks(file), std::vector<int>({0, 0}));
  const nlohmann::json check = nlohmann::json::parse(twl({"check", "--json", file}).out);
  EXPECT_TRUE(check["store"]["ok"]) << check.dump();

  const TerminalRun again = twl_on_terminal({"rebuild", file}, false);
  EXPECT_EQ(again.exit_code, 0) << again.screen;
  EXPECT_EQ(stale_marks(file), std::vector<int>({0, 0}));
  EXPECT_EQ(twl({"check", file}).exit_code, 0);
}

}  // namespace
}  // namespace vtn
