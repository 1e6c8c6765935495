// COMMIT over three files, crashed at every write and every durable flush in turn, and ended with
// SIGKILL at random moments during a stream of commits: afterwards every file shows the
// transaction or none does, and each passes the checker.
//
// The crash: this program puts its own pwrite and fdatasync in front of the C library's. In a
// child process they count the commit's writes and flushes; at the chosen one, instead of doing
// it, they let the fault injector undo every write no flush has made durable (a power cut) and end
// the process. The parent then opens the files afresh and looks.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "support/crash_point.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"

namespace vtn::tarnwell {
namespace {

using namespace locking_test;
namespace fs = std::filesystem;

class CrashCommitTest : public testing_support::ScratchDirectoryTest {
 protected:
  CrashCommitTest() {
    install_transaction_recovery();
    names_ = {path("a.twl"), path("b.twl"), path("c.twl")};
  }

  // Records 1..4 of value 10 in every file; no control file. The files are made once and copied
  // afterwards (a copy costs no durable flush).
  void reset_files() {
    fs::remove(path("tarnwell.tcf"));
    const fs::path templates = dir_ / "templates";
    if (!fs::exists(templates)) {
      fs::create_directory(templates);
      for (const char* name : {"a.twl", "b.twl", "c.twl"}) {
        ValueTable t((templates / name).string());
        ASSERT_EQ(t.open_error(), 0);
        for (uint32_t n = 1; n <= 4; ++n) ASSERT_EQ(t.put_raw(n, 10), 0);
      }
    }
    for (const char* name : {"a.twl", "b.twl", "c.twl"}) {
      fs::copy_file(templates / name, path(name), fs::copy_options::overwrite_existing);
    }
  }

  // In a child: one transaction that sets record 2 of every file to `value`, adds record 100 + the
  // value and deletes record 4; crashed at operation `crash_at` of its COMMIT (0: not crashed).
  // The child's exit code: kCrashed, or 0 with the operations counted written to `counted`.
  int commit_in_child(uint32_t crash_at, uint32_t value, uint32_t* counted = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = spawn([&] {
      platform::fault::arm({});  // journals the handles opened from now on
      std::vector<std::unique_ptr<ValueTable>> tables;
      std::vector<RecordFile*> files;
      for (const std::string& name : names_) {
        tables.push_back(std::make_unique<ValueTable>(name));
        files.push_back(&tables.back()->file());
      }
      if (logout(files) != 0) return 1;
      for (auto& t : tables) {
        if (t->put_raw(2, value) || t->put_raw(100 + value, value) || t->erase(4)) return 2;
      }
      g_crash_at = crash_at;
      g_operations = 0;
      g_counting = true;
      const int32_t result = commit();
      g_counting = false;
      (void)!::write(fds[1], &g_operations, sizeof g_operations);
      return result == 0 ? 0 : 3;
    });
    ::close(fds[1]);
    const int code = wait_for(pid);
    uint32_t operations = 0;
    if (::read(fds[0], &operations, sizeof operations) == sizeof operations && counted) {
      *counted = operations;
    }
    ::close(fds[0]);
    return code;
  }

  // What every file shows, as this process sees it first reading, then writing (which completes
  // or abandons a pending log): "old", "new" (value `value`), or a description of the damage.
  std::string state_of_files(uint32_t value) {
    std::string seen;
    for (bool writing : {false, true}) {
      for (const std::string& name : names_) {
        ValueTable t(name);
        if (t.open_error() != 0) return name + ": open error " + std::to_string(t.open_error());
        if (writing) {
          if (int32_t e = t.file().begin_access(AccessMode::write, true)) {
            return name + ": write access " + std::to_string(e);
          }
          t.file().end_access();
        }
        if (t.file().begin_access(AccessMode::read, true) != 0) return name + ": no access";
        const CheckResult check = check_record_file(t.file());
        t.file().end_access();
        if (!check.ok) return name + ": " + check.what;
        const auto v2 = stored_value(t.file(), 2), v4 = stored_value(t.file(), 4),
                   added = stored_value(t.file(), 100 + value);
        std::string state = "mixed";
        if (v2 == 10u && v4 == 10u && !added) state = "old";
        if (v2 == value && !v4 && added == value) state = "new";
        if (!seen.empty() && state != seen) return "files disagree: " + seen + " / " + state;
        seen = state;
      }
    }
    return seen;
  }

  std::vector<std::string> names_;
};

TEST_F(CrashCommitTest, EveryCrashPointLeavesAllOrNothing) {
  reset_files();
  uint32_t operations = 0;
  ASSERT_EQ(commit_in_child(0, 15, &operations), 0);
  ASSERT_EQ(state_of_files(15), "new");
  ASSERT_GT(operations, 20u);

  std::vector<platform::fault::CrashMode> modes = {platform::fault::CrashMode::kLoseAll};
  if (getenv("VTN_LONG_TESTS")) modes.push_back(platform::fault::CrashMode::kTear);
  int old_state = 0, new_state = 0;
  for (platform::fault::CrashMode mode : modes) {
    g_mode = mode;
    for (uint32_t k = 1; k <= operations; ++k) {
      SCOPED_TRACE("crash before operation " + std::to_string(k) + " of " +
                   std::to_string(operations));
      reset_files();
      ASSERT_EQ(commit_in_child(k, 15), kCrashed);
      const std::string state = state_of_files(15);
      ASSERT_TRUE(state == "old" || state == "new") << state;
      (state == "old" ? old_state : new_state)++;
    }
  }
  // Both sides of the commit point were reached.
  EXPECT_GT(old_state, 0);
  EXPECT_GT(new_state, 0);
  RecordProperty("crash_points", old_state + new_state);
  std::printf("crash points: %d (old state %d, new state %d)\n", old_state + new_state, old_state,
              new_state);
}

TEST_F(CrashCommitTest, SigkillDuringAStreamOfCommits) {
  const int runs = getenv("VTN_LONG_TESTS") ? 20 : 4;
  std::mt19937 random(12345);
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE(run);
    reset_files();
    Signal started;
    const pid_t pid = spawn([&] {
      started.notify();
      for (uint32_t value = 20;; ++value) {
        std::vector<std::unique_ptr<ValueTable>> tables;
        std::vector<RecordFile*> files;
        for (const std::string& name : names_) {
          tables.push_back(std::make_unique<ValueTable>(name));
          files.push_back(&tables.back()->file());
        }
        if (logout(files) != 0) return 1;
        for (auto& t : tables) {
          if (t->put_raw(2, value) || t->put_raw(100 + value, value)) return 2;
        }
        if (commit() != 0) return 3;
      }
    });
    ASSERT_TRUE(started.wait());
    usleep(20'000 + random() % 200'000);
    kill(pid, SIGKILL);
    ASSERT_EQ(wait_for(pid), 100 + SIGKILL);
    // Every file shows the same last transaction.
    std::string agreed;
    for (const std::string& name : names_) {
      ValueTable t(name);
      ASSERT_EQ(t.open_error(), 0);
      ASSERT_EQ(t.file().begin_access(AccessMode::read, true), 0);
      const CheckResult check = check_record_file(t.file());
      t.file().end_access();
      ASSERT_TRUE(check.ok) << name << ": " << check.what;
      const std::string value = std::to_string(stored_value(t.file(), 2).value_or(0));
      if (agreed.empty()) agreed = value;
      EXPECT_EQ(value, agreed) << name;
    }
  }
}

}  // namespace
}  // namespace vtn::tarnwell
