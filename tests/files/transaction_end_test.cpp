#include <gtest/gtest.h>

#include "files/support/test_driver.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/open_file_list.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using testing_driver::disk;

class Transaction : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_driver::reset_disk();
    for (const char* name : {"a", "b", "text"}) disk().files[name];
    clear_error();
    OPEN(a_, 0x42);
    OPEN(text_, 0x42);
    OPEN(b_, 0x42);
    disk().log.clear();
  }
  void TearDown() override {
    if (logout_active()) ROLLBACK();
    for (File* f : {&a_, &b_, &text_}) CLOSE(*f);
  }

  static FileDeclaration declaration(const char* name, DriverEntry entry) {
    return FileDeclaration("T").driver(entry).name(name).field("X", ftype::LONG);
  }

  // The (code, file) pairs the driver performed since SetUp.
  static std::vector<std::pair<int32_t, std::string>> performed() { return disk().log; }

  File a_{declaration("a", testing_driver::test_entry)};
  File text_{declaration("text", testing_driver::keyless_entry)};
  File b_{declaration("b", testing_driver::test_entry)};
};

TEST_F(Transaction, CommitOrRollbackWithoutLogoutPosts91) {
  COMMIT();
  EXPECT_EQ(ERRORNUMBER(), 91);
  EXPECT_EQ(ERRORTEXT(), "LOGOUT Not Active");
  EXPECT_EQ(error_source_file(), nullptr);
  clear_error();
  ROLLBACK();
  EXPECT_EQ(ERRORNUMBER(), 91);
  EXPECT_TRUE(performed().empty());
}

TEST_F(Transaction, EndWalksTheListBackwardsWithEachFilesFlags) {
  struct Row {
    void (*end)();
    int32_t end_code;
  };
  for (const Row& row : {Row{COMMIT, op::COMMIT}, Row{ROLLBACK, op::ROLLBACK}}) {
    SCOPED_TRACE(row.end_code);
    disk().log.clear();
    LOGOUT(1, {a_, b_});
    ASSERT_EQ(ERRORNUMBER(), 0);
    EXPECT_TRUE(logout_active());
    EXPECT_FALSE(find_open_file(&text_.declared())->in_transaction);
    for (File* f : {&a_, &b_}) {
      EXPECT_TRUE(find_open_file(&f->declared())->in_transaction);
      EXPECT_EQ(f->declared().instance->file_state & FS_LOGOUT, FS_LOGOUT);
    }
    row.end();
    EXPECT_EQ(ERRORNUMBER(), 0);
    EXPECT_FALSE(logout_active());
    // Opened a, text, b: walked b, a (text is not in the transaction). UNLOCK of a file that is
    // not locked reports nothing and never reaches the driver.
    const std::vector<std::pair<int32_t, std::string>> expected = {
        {op::LOGOUT, "a"}, {op::LOGOUT, "b"}, {row.end_code, "b"}, {row.end_code, "a"}};
    EXPECT_EQ(performed(), expected);
    for (File* f : {&a_, &b_}) EXPECT_EQ(f->declared().instance->file_state & FS_LOGOUT, 0u);
    for (File* f : {&a_, &b_, &text_}) EXPECT_FALSE(find_open_file(&f->declared())->in_transaction);
  }
}

TEST_F(Transaction, LockedFilesAreUnlockedAtTheEnd) {
  LOCK(a_);
  LOCK(text_);
  LOGOUT(1, {a_});
  // Only a's entry is in the transaction, so only a is unlocked by its end.
  ASSERT_EQ(ERRORNUMBER(), 0);
  COMMIT();
  const std::vector<std::pair<int32_t, std::string>> expected = {{op::LOCKfile, "a"},
                                                                 {op::LOCKfile, "text"},
                                                                 {op::LOGOUT, "a"},
                                                                 {op::COMMIT, "a"},
                                                                 {op::UNLOCK, "a"}};
  EXPECT_EQ(performed(), expected);
  EXPECT_EQ(a_.declared().instance->file_state & FS_LOCKED, 0u);
  EXPECT_EQ(text_.declared().instance->file_state & FS_LOCKED, FS_LOCKED);
}

TEST_F(Transaction, AFileOfADriverWithoutTransactionsCannotJoin) {
  LOGOUT(1, {a_, text_});
  EXPECT_EQ(ERRORNUMBER(), 80);
  EXPECT_EQ(error_source_file(), &text_.declared());
  EXPECT_FALSE(logout_active());
  EXPECT_EQ(a_.declared().instance->file_state & FS_LOGOUT, 0u);
}

TEST_F(Transaction, ARefusingFileUndoesTheOthersAndKeepsItsError) {
  File closed{declaration("a", testing_driver::test_entry)};
  LOGOUT(1, {a_, closed});
  EXPECT_EQ(ERRORNUMBER(), 37);
  EXPECT_EQ(error_source_file(), &closed.declared());
  EXPECT_FALSE(logout_active());
  EXPECT_FALSE(find_open_file(&a_.declared())->in_transaction);
  EXPECT_EQ(a_.declared().instance->file_state & FS_LOGOUT, 0u);
  const std::vector<std::pair<int32_t, std::string>> expected = {{op::LOGOUT, "a"},
                                                                 {op::ROLLBACK, "a"}};
  EXPECT_EQ(performed(), expected);

  LOGOUT(1, {a_});
  LOGOUT(1, {b_});
  EXPECT_EQ(ERRORNUMBER(), 56);
  EXPECT_TRUE(logout_active());
}

TEST_F(Transaction, TheFirstFailureOfTheEndStays) {
  LOGOUT(1, {a_, b_});
  // b fails its COMMIT (the driver does not serve it any more), a's calls then succeed.
  b_.declared().entry = [](int32_t code, FileBlock* f, const OperandWord* w) -> int32_t {
    if (code == op::COMMIT) {
      post_error(90);
      set_error_file(f);
      return 90;
    }
    return testing_driver::test_entry(code, f, w);
  };
  COMMIT();
  b_.declared().entry = testing_driver::test_entry;
  EXPECT_EQ(ERRORNUMBER(), 90);
  EXPECT_EQ(error_source_file(), &b_.declared());
}

}  // namespace
}  // namespace vtn
