// LOGOUT, COMMIT and ROLLBACK over record files in one process (other processes look on where the
// result is what another process sees), and the control files' names and records.
#include "runtime/files/tarnwell/transaction.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/files/tarnwell/control_file.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"

namespace vtn::tarnwell {
namespace {

using namespace locking_test;
namespace fs = std::filesystem;

TEST(ControlFileNames, DefaultAndRecoveryNames) {
  struct Case {
    const char* data_file;
    const char* stored;     // name in the pending-transaction record
    const char* default_;   // default control file of the data file
    const char* recovered;  // control file that recovery opens
  };
  const Case cases[] = {
      {"/data/pack/SETUP.TWL", "C:\\tarnwell.TCF", "/data/pack/tarnwell.tcf",
       "/data/pack/tarnwell.tcf"},
      {"/data/pack/SETUP.TWL", "c:\\TARNWELL.tcf", "/data/pack/tarnwell.tcf",
       "/data/pack/tarnwell.tcf"},
      {"/data/SETUP.TWL", "/other/my.tcf", "/data/tarnwell.tcf", "/other/my.tcf"},
      {"C:\\DATA\\SETUP.TWL", "C:\\tarnwell.TCF", "C:\\DATA\\tarnwell.tcf",
       "C:\\DATA\\tarnwell.tcf"},
      {"/a\\b/c\\x.twl", "C:\\tarnwell.TCF", "/a\\b/c\\tarnwell.tcf", "/a\\b/c\\tarnwell.tcf"},
      {"x.twl", "C:\\tarnwell.TCF", "tarnwell.tcf", "tarnwell.tcf"},
      {"/data/x.twl", "C:\\tarnwell.TCF.bak", "/data/tarnwell.tcf", "C:\\tarnwell.TCF.bak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data_file);
    EXPECT_EQ(default_control_file(c.data_file), c.default_);
    EXPECT_EQ(control_file_for_recovery(c.stored, c.data_file), c.recovered);
  }
}

class TransactionTest : public testing_support::ScratchDirectoryTest {
 protected:
  TransactionTest() { install_transaction_recovery(); }
  ~TransactionTest() override {
    rollback();
    set_explicit_control_file_name("");
    set_stamp_source({});
    platform::fault::disarm();
  }

  // Two files with records 1..3 of value 10 each, and nothing open.
  void make_files(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      ValueTable t(name);
      ASSERT_EQ(t.open_error(), 0);
      for (uint32_t n = 1; n <= 3; ++n) ASSERT_EQ(t.put_raw(n, 10), 0);
    }
  }

  // The values of records 1..3 as a fresh process sees them, "10,11,10"; "damaged" when the file
  // fails the checker.
  static std::string seen_elsewhere(const std::string& name) {
    return text_from_child([&]() -> std::string {
      ValueTable t(own_name(name));
      if (t.open_error() != 0) return "open error " + std::to_string(t.open_error());
      if (!check_record_file_now(t.file()).ok) return "damaged";
      std::string text;
      for (uint32_t n = 1; n <= 3; ++n) {
        const auto v = stored_value(t.file(), n);
        text += (n > 1 ? "," : "") + (v ? std::to_string(*v) : "-");
      }
      return text;
    });
  }

  static CheckResult check_record_file_now(RecordFile& f) {
    if (f.begin_access(AccessMode::read, true) != 0) return {false, 0, "no access"};
    CheckResult r = check_record_file(f);
    f.end_access();
    return r;
  }

  static std::optional<PendingTransactionView> pending_of(const std::string& name) {
    ValueTable t(name);
    if (t.open_error() != 0 || t.file().begin_access(AccessMode::read, true) != 0) {
      return std::nullopt;
    }
    std::optional<PendingTransactionView> v;
    const uint8_t key[] = {kPendingTransactionByte};
    if (auto r = t.file().find_exact(key)) {
      Record rec{Bytes(r->bytes.begin(), r->bytes.end()), static_cast<uint16_t>(r->key_length)};
      v = read_pending_transaction(rec);
    }
    t.file().end_access();
    return v;
  }

  static size_t records_in(const std::string& name) {
    ValueTable t(name);
    if (t.open_error() != 0 || t.file().begin_access(AccessMode::read, true) != 0) return 999;
    size_t n = 0;
    Bytes last;
    for (auto r = t.file().find_first_after({}); r; r = t.file().find_first_after(last)) {
      last.assign(r->key().begin(), r->key().end());
      ++n;
    }
    t.file().end_access();
    return n;
  }

  // LOGOUT of both, record 2 of `a` set to 11 and of `b` to 12 (only `a` when !both), COMMIT.
  static int32_t transfer(const std::string& a, const std::string& b, bool both = true) {
    ValueTable ta(a), tb(b);
    RecordFile* files[] = {&ta.file(), &tb.file()};
    if (int32_t e = logout(files)) return e;
    ta.put_raw(2, 11);
    if (both) tb.put_raw(2, 12);
    return commit();
  }
};

TEST_F(TransactionTest, OneDirtyFileCommitsWithoutAControlFile) {
  const std::string a = path("a.twl"), b = path("b.twl");
  make_files({a, b});
  ASSERT_EQ(transfer(a, b, /*both=*/false), 0);
  EXPECT_FALSE(fs::exists(path("tarnwell.tcf")));
  EXPECT_EQ(seen_elsewhere(a), "10,11,10");
  EXPECT_EQ(seen_elsewhere(b), "10,10,10");
  EXPECT_FALSE(transaction_open());
}

TEST_F(TransactionTest, CommitOverTwoFilesRecordsThePlaceholderAndEmptiesTheControlFile) {
  const std::string a = path("a.twl"), b = path("b.twl");
  make_files({a, b});
  set_stamp_source([] { return 777u; });
  ASSERT_EQ(transfer(a, b), 0);
  EXPECT_EQ(seen_elsewhere(a), "10,11,10");
  EXPECT_EQ(seen_elsewhere(b), "10,12,10");
  ASSERT_TRUE(fs::exists(path("tarnwell.tcf")));
  EXPECT_EQ(records_in(path("tarnwell.tcf")), 0u);
  for (const std::string& name : {a, b}) {
    const auto pending = pending_of(name);
    ASSERT_TRUE(pending) << name;
    EXPECT_EQ(pending->transaction, 777u);
    EXPECT_EQ(pending->control_file, "C:\\tarnwell.TCF");
  }
}

TEST_F(TransactionTest, FilesOfTwoDirectoriesAllNameTheFirstControlFile) {
  fs::create_directory(path("one"));
  fs::create_directory(path("two"));
  const std::string a = path("one/a.twl"), b = path("two/b.twl");
  make_files({a, b});
  ASSERT_EQ(transfer(a, b), 0);
  EXPECT_EQ(records_in(path("one/tarnwell.tcf")), 0u);
  EXPECT_EQ(records_in(path("two/tarnwell.tcf")), 0u);
  for (const std::string& name : {a, b}) {
    const auto pending = pending_of(name);
    ASSERT_TRUE(pending) << name;
    EXPECT_EQ(pending->control_file, path("one/tarnwell.tcf"));
  }
}

TEST_F(TransactionTest, ExplicitControlFileIsUsedAndStored) {
  const std::string a = path("a.twl"), b = path("b.twl"), tcf = path("mine.tcf");
  make_files({a, b});
  set_explicit_control_file_name(tcf);
  ASSERT_EQ(transfer(a, b), 0);
  EXPECT_FALSE(fs::exists(path("tarnwell.tcf")));
  EXPECT_TRUE(fs::exists(tcf));
  EXPECT_EQ(pending_of(a)->control_file, tcf);
  EXPECT_EQ(seen_elsewhere(b), "10,12,10");
}

TEST_F(TransactionTest, ANumberListedElsewhereIsSkippedAndOneTickGivesTwoNumbers) {
  const std::string a = path("a.twl"), b = path("b.twl");
  make_files({a, b});
  {
    // Another process's transaction 500 is in progress.
    ControlFile other;
    ASSERT_EQ(other.open(path("tarnwell.tcf")), 0);
    bool listed = true;
    ASSERT_EQ(other.list(500, listed), 0);
    EXPECT_FALSE(listed);
  }
  set_stamp_source([] { return 500u; });
  ASSERT_EQ(transfer(a, b), 0);
  EXPECT_EQ(pending_of(a)->transaction, 501u);
  ASSERT_EQ(transfer(a, b), 0);  // the same tick again
  EXPECT_EQ(pending_of(b)->transaction, 502u);
  // Only the other process's number is still listed.
  EXPECT_EQ(records_in(path("tarnwell.tcf")), 1u);
  EXPECT_TRUE(transaction_still_listed(a, 500, "C:\\tarnwell.TCF"));
  EXPECT_FALSE(transaction_still_listed(a, 501, "C:\\tarnwell.TCF"));
  EXPECT_TRUE(transaction_still_listed(a, 501, path("missing.tcf")));  // unopenable: unfinished
}

TEST_F(TransactionTest, RollbackRestoresEveryFileAsOthersSeeIt) {
  const std::string a = path("a.twl"), b = path("b.twl");
  make_files({a, b});
  {
    ValueTable ta(a), tb(b);
    RecordFile* files[] = {&ta.file(), &tb.file()};
    ASSERT_EQ(logout(files), 0);
    ASSERT_EQ(ta.put_raw(1, 20), 0);
    ASSERT_EQ(tb.erase(3), 0);
    ASSERT_EQ(tb.put_raw(9, 90), 0);
    EXPECT_EQ(stored_value(ta.file(), 1), 20u);  // this process sees its own changes
    EXPECT_EQ(seen_elsewhere(a), "10,10,10");    // others do not
    ASSERT_EQ(rollback(), 0);
    EXPECT_EQ(stored_value(ta.file(), 1), 10u);
    EXPECT_EQ(stored_value(tb.file(), 3), 10u);
    EXPECT_FALSE(stored_value(tb.file(), 9));
  }
  EXPECT_EQ(seen_elsewhere(a), "10,10,10");
  EXPECT_EQ(seen_elsewhere(b), "10,10,10");
  EXPECT_FALSE(fs::exists(path("tarnwell.tcf")));
}

TEST_F(TransactionTest, CommitAndRollbackFreeTheWriterByte) {
  const std::string a = path("a.twl"), b = path("b.twl");
  make_files({a, b});
  ValueTable ta(a), tb(b);
  auto other_can_write = [&] {
    return wait_for(spawn([&] {
      RecordFile* f = nullptr;
      if (open_record_file(own_name(b), kShared, "", f) != 0) return 2;
      const int32_t r = f->begin_access(AccessMode::write, /*wait=*/false);
      return r == 0 ? 0 : 1;
    }));
  };
  for (bool use_commit : {true, false}) {
    RecordFile* files[] = {&ta.file(), &tb.file()};
    ASSERT_EQ(logout(files), 0);
    ASSERT_EQ(ta.put_raw(1, 30), 0);
    ASSERT_EQ(tb.put_raw(1, 30), 0);
    EXPECT_EQ(other_can_write(), 1) << "the transaction keeps its writer byte";
    ASSERT_EQ(use_commit ? commit() : rollback(), 0);
    EXPECT_EQ(other_can_write(), 0) << (use_commit ? "after COMMIT" : "after ROLLBACK");
  }
}

TEST_F(TransactionTest, FlushWaitsForCommitInsideATransactionAndIsImmediateOutside) {
  const std::string a = path("a.twl"), b = path("b.twl");
  make_files({a, b});
  ValueTable ta(a);
  ASSERT_EQ(logout(ta.file()), 0);
  ASSERT_EQ(ta.put_raw(1, 40), 0);
  EXPECT_EQ(flush_now(ta.file()), 0);
  EXPECT_EQ(seen_elsewhere(a), "10,10,10") << "FLUSH inside a transaction writes nothing";
  EXPECT_TRUE(ta.file().in_access()) << "the transaction keeps its write access";
  ASSERT_EQ(commit(), 0);
  EXPECT_EQ(seen_elsewhere(a), "40,10,10");
  // Outside: the change goes out at once and the write access ends.
  ASSERT_EQ(ta.file().begin_access(AccessMode::write, true), 0);
  ta.file().replace_record(key_of(1), value_bytes(41));
  EXPECT_EQ(flush_now(ta.file()), 0);
  EXPECT_FALSE(ta.file().in_access());
  EXPECT_EQ(seen_elsewhere(a), "41,10,10");
}

TEST_F(TransactionTest, AHundredAndFirstControlFileIsAnInternalError) {
  std::vector<std::unique_ptr<ValueTable>> tables;
  for (int i = 0; i <= 100; ++i) {
    const std::string dir = path(("d" + std::to_string(i)).c_str());
    fs::create_directory(dir);
    tables.push_back(std::make_unique<ValueTable>(dir + "/f.twl"));
    ASSERT_EQ(tables.back()->open_error(), 0);
  }
  for (int i = 0; i < 100; ++i) ASSERT_EQ(logout(tables[i]->file()), 0);
  EXPECT_EQ(transaction_control_files().size(), 100u);
  try {
    logout(tables[100]->file());
    ADD_FAILURE() << "no internal error";
  } catch (const InternalError& e) {
    EXPECT_EQ(e.check(), kCheckTooManyControlFiles);
  }
  EXPECT_EQ(transaction_files().size(), 100u);
  EXPECT_FALSE(tables[100]->file().in_transaction());
  EXPECT_EQ(rollback(), 0);
}

// A write or a flush of COMMIT fails: COMMIT reports it, and every file shows the transaction or
// none does; when it failed before the control record went, none does.
TEST_F(TransactionTest, AFailedWriteOrFlushLeavesAllOrNothing) {
  const std::string a = path("a.twl"), b = path("b.twl"), c = path("c.twl");
  uint32_t writes = 0, flushes = 0;
  {
    make_files({a, b, c});
    platform::fault::arm({});
    ValueTable ta(a), tb(b), tc(c);
    RecordFile* files[] = {&ta.file(), &tb.file(), &tc.file()};
    ASSERT_EQ(logout(files), 0);
    for (ValueTable* t : {&ta, &tb, &tc}) t->put_raw(2, 15);
    platform::fault::arm({});
    ASSERT_EQ(commit(), 0);
    writes = platform::fault::writes_seen();
    flushes = platform::fault::flushes_seen();
    platform::fault::disarm();
  }
  ASSERT_GT(writes, 6u);
  // Fresh files for every case, copied from ones made once (a copy costs no durable flush).
  fs::create_directory(path("templates"));
  make_files({path("templates/a.twl"), path("templates/b.twl"), path("templates/c.twl")});
  int failed_before_commit = 0, failed_after_commit = 0;
  for (uint32_t k = 1; k <= writes + flushes; ++k) {
    SCOPED_TRACE(k);
    fs::remove(path("tarnwell.tcf"));
    for (const char* name : {"a.twl", "b.twl", "c.twl"}) {
      fs::copy_file(dir_ / "templates" / name, path(name), fs::copy_options::overwrite_existing);
    }
    int32_t result = 0;
    {
      ValueTable ta(a), tb(b), tc(c);
      RecordFile* files[] = {&ta.file(), &tb.file(), &tc.file()};
      ASSERT_EQ(logout(files), 0);
      for (ValueTable* t : {&ta, &tb, &tc}) t->put_raw(2, 15);
      platform::fault::Plan plan;
      if (k <= writes) {
        plan.fail_write = k;
      } else {
        plan.fail_flush = k - writes;
      }
      platform::fault::arm(plan);
      result = commit();
      platform::fault::disarm();
    }
    EXPECT_NE(result, 0);
    const auto sa = seen_elsewhere(a), sb = seen_elsewhere(b), sc = seen_elsewhere(c);
    EXPECT_EQ(sa, sb);
    EXPECT_EQ(sb, sc);
    ASSERT_TRUE(sa == "10,10,10" || sa == "10,15,10") << sa;
    (sa == "10,10,10" ? failed_before_commit : failed_after_commit)++;
    if (sa == "10,10,10" && fs::exists(path("tarnwell.tcf"))) {
      EXPECT_EQ(records_in(path("tarnwell.tcf")), 0u) << "a failed COMMIT leaves nothing listed";
    }
  }
  EXPECT_GT(failed_before_commit, 0);
  EXPECT_GT(failed_after_commit, 0);
}

}  // namespace
}  // namespace vtn::tarnwell
