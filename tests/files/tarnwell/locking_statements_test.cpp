// HOLD + GET + PUT through the file statements from several processes at once loses no update;
// STREAM and FLUSH change nothing a program can see.
#include <gtest/gtest.h>

#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
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

}  // namespace
}  // namespace vtn
