// Locking through the file statements, between real processes: HOLD + GET + PUT from several
// processes at once loses no update; STREAM and FLUSH change nothing a program can see; what a
// program sees when another one holds, changes or locks what it works on; ROLLBACK and COMMIT
// over two files show all or nothing to another process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"

namespace vtn {
namespace {

using tarnwell::locking_test::spawn;
using tarnwell::locking_test::wait_for;

#pragma pack(push, 1)
struct Account {
  int32_t id;
  int32_t amount;
};
#pragma pack(pop)

FileDeclaration accounts(const std::string& name) {
  return FileDeclaration("ACC")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .field("ID", ftype::LONG)
      .field("AMOUNT", ftype::LONG)
      .key("BY_ID", {"ID"}, KA_PRIMARY);
}

// An account table opened shared (read-write, deny none), closed at the end of its scope.
class Accounts {
 public:
  explicit Accounts(const std::string& name) : file_(accounts(name)) { OPEN(file_, 0x42); }
  ~Accounts() { CLOSE(file_); }
  File& file() { return file_; }
  Account& record() { return file_.record_as<Account>(); }

  // GET by id: the error number (0 when found).
  int32_t get(int32_t id) {
    record().id = id;
    GET(file_, file_.key("BY_ID"));
    return ERRORNUMBER();
  }
  int32_t put(int32_t amount) {
    record().amount = amount;
    PUT(file_);
    return ERRORNUMBER();
  }
  int32_t amount_of(int32_t id) { return get(id) == 0 ? record().amount : -1; }

 private:
  File file_;
};

class LockingStatementsTest : public testing_support::ScratchDirectoryTest {
 protected:
  LockingStatementsTest() : a_(path("a.twl")), b_(path("b.twl")) {
    for (const std::string& name : {a_, b_}) {
      File f{accounts(name)};
      CREATE(f);
      OPEN(f, 0x42);
      for (int32_t id = 1; id <= 3; ++id) {
        f.record_as<Account>() = {id, 100};
        ADD(f);
      }
      EXPECT_EQ(ERRORNUMBER(), 0);
      CLOSE(f);
    }
  }

  std::string a_, b_;
};

TEST_F(LockingStatementsTest, StreamChangesNothing) {
  Accounts t(a_);
  STREAM(t.file());
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(t.amount_of(2), 100);
  FLUSH(t.file());
  EXPECT_EQ(ERRORNUMBER(), 0);
}

TEST_F(LockingStatementsTest, HeldIncrementsFromSeveralProcessesLoseNothing) {
  constexpr int kProcesses = 4, kIncrements = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(spawn([&, p] {
      Accounts t(a_);
      for (int i = 0; i < kIncrements; ++i) {
        HOLD(t.file());
        if (t.get(1 + (p + i) % 3) != 0) return 1;
        if (t.put(t.record().amount + 1) != 0) return 2;
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(wait_for(child), 0);
  Accounts t(a_);
  EXPECT_EQ(t.amount_of(1) + t.amount_of(2) + t.amount_of(3), 300 + kProcesses * kIncrements);
}

constexpr uint32_t kShared = 0x42;  // read and write, deny none

// A child process that does one scripted thing to a table while the parent waits at a pipe.
class Partner {
 public:
  template <typename Body>
  explicit Partner(Body body) {
    if (pipe(ready_) != 0 || pipe(go_) != 0) ADD_FAILURE() << "pipe";
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int code = body([this] { signal_ready(); }, [this] { wait_go(); });
      _exit(code);
    }
  }
  // A forked child shares its parent's open files, and with them their locks: the child opens the
  // tables afresh, as another program would.
  static void reopen(std::initializer_list<File*> files) {
    for (File* f : files) {
      CLOSE(*f);
      OPEN(*f, kShared);
    }
  }
  void wait_ready() {
    char c;
    ASSERT_EQ(read(ready_[0], &c, 1), 1);
  }
  void go() { (void)!write(go_[1], "g", 1); }
  int finish() {
    go();
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }

 private:
  void signal_ready() { (void)!write(ready_[1], "r", 1); }
  void wait_go() {
    char c;
    (void)!read(go_[0], &c, 1);
  }
  int ready_[2];
  int go_[2];
  pid_t pid_ = -1;
};

class LockingDriverTest : public testing_support::ScratchDirectoryTest {
 protected:
  LockingDriverTest() : a_{accounts(path("a"))}, b_{accounts(path("b"))} {
    for (File* f : {&a_, &b_}) {
      CREATE(*f);
      OPEN(*f, kShared);
      for (int32_t id = 1; id <= 3; ++id) {
        f->record_as<Account>() = {id, 100};
        ADD(*f);
      }
      EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
  }
  ~LockingDriverTest() override {
    CLOSE(a_);
    CLOSE(b_);
  }

  // Reads account `id` of `f` by key; its amount, or -1 after an error.
  static int32_t amount(File& f, int32_t id) {
    f.record_as<Account>().id = id;
    GET(f, f.key("BY_ID"));
    return ERRORNUMBER() == 0 ? f.record_as<Account>().amount : -1;
  }

  File a_;
  File b_;
};

TEST_F(LockingDriverTest, AHeldRecordRefusesAnotherHoldAfterItsDeadlineAndAnotherPut) {
  Partner holder([this](auto ready, auto wait_go) {
    Partner::reopen({&a_});
    HOLD(a_);
    if (amount(a_, 2) != 100) return 1;
    ready();
    wait_go();
    RELEASE(a_);
    return 0;
  });
  holder.wait_ready();

  a_.record_as<Account>() = {777, 777};
  const auto start = std::chrono::steady_clock::now();
  HOLD(a_, 1);
  a_.record_as<Account>().id = 2;
  GET(a_, a_.key("BY_ID"));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(ERRORNUMBER(), 43);
  EXPECT_GE(waited, 0.9);
  EXPECT_LE(waited, 3.0);
  EXPECT_EQ(a_.record_as<Account>().amount, 777) << "the buffer keeps what it held";

  EXPECT_EQ(amount(a_, 2), 100);  // reading without HOLD is not refused
  a_.record_as<Account>().amount = 1;
  PUT(a_);
  EXPECT_EQ(ERRORNUMBER(), 5) << "PUT of a record held elsewhere";
  EXPECT_EQ(holder.finish(), 0);

  PUT(a_);  // released: the PUT goes through
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(amount(a_, 2), 1);
}

TEST_F(LockingDriverTest, AWatchedRecordChangedElsewhereIsNotOverwritten) {
  WATCH(a_);
  ASSERT_EQ(amount(a_, 3), 100);
  Partner writer([this](auto ready, auto) {
    Partner::reopen({&a_});
    if (amount(a_, 3) != 100) return 1;
    a_.record_as<Account>().amount = 555;
    PUT(a_);
    ready();
    return ERRORNUMBER();
  });
  writer.wait_ready();
  EXPECT_EQ(writer.finish(), 0);
  a_.record_as<Account>().amount = 101;
  PUT(a_);
  EXPECT_EQ(ERRORNUMBER(), 89);
  EXPECT_EQ(amount(a_, 3), 555) << "the other station's record stays";
}

TEST_F(LockingDriverTest, ALockedTableRefusesAnotherLockUntilUnlocked) {
  Partner locker([this](auto ready, auto wait_go) {
    Partner::reopen({&a_});
    LOCK(a_);
    if (ERRORNUMBER() != 0) return 1;
    ready();
    wait_go();
    UNLOCK(a_);
    return ERRORNUMBER();
  });
  locker.wait_ready();
  const auto start = std::chrono::steady_clock::now();
  LOCK(a_, 1);
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(ERRORNUMBER(), 32);
  EXPECT_GE(waited, 0.9);
  EXPECT_LE(waited, 3.0);
  EXPECT_EQ(locker.finish(), 0);
  LOCK(a_);
  EXPECT_EQ(ERRORNUMBER(), 0);
  UNLOCK(a_);
  EXPECT_EQ(ERRORNUMBER(), 0);
}

// Moves `sum` from account 1 of A to account 1 of B inside a transaction.
void transfer(File& a, File& b, int32_t sum) {
  LOGOUT(1, {a, b});
  for (File* f : {&a, &b}) {
    f->record_as<Account>().id = 1;
    GET(*f, f->key("BY_ID"));
    f->record_as<Account>().amount += f == &a ? -sum : sum;
    PUT(*f);
  }
}

TEST_F(LockingDriverTest, RollbackAndCommitOverTwoFilesShowAllOrNothingToAnotherProcess) {
  // What another process reads: the two balances, or -1 after an error.
  auto seen_elsewhere = [this] {
    Partner reader([this](auto, auto) {
      Partner::reopen({&a_, &b_});
      const int32_t x = amount(a_, 1), y = amount(b_, 1);
      return x == 100 && y == 100 ? 10 : x == 70 && y == 130 ? 20 : 30;
    });
    return reader.finish();
  };

  transfer(a_, b_, 30);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  ROLLBACK();
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(seen_elsewhere(), 10) << "after ROLLBACK: the state before LOGOUT";
  EXPECT_EQ(amount(a_, 1), 100);
  EXPECT_EQ(amount(b_, 1), 100);

  transfer(a_, b_, 30);
  COMMIT();
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(seen_elsewhere(), 20) << "after COMMIT: both changes";
}

}  // namespace
}  // namespace vtn
