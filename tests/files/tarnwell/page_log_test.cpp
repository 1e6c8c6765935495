// Recovery of an interrupted flush: a file left with its page log written and its header pointing
// at it (a flush stopped between its two phases) is read through by a reader, applied by a writer,
// or abandoned when the log cannot be walked or its transaction never committed.
#include "runtime/files/tarnwell/page_log.hpp"

#include <gtest/gtest.h>

#include "runtime/files/tarnwell/record_kinds.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

class PageLogTest : public StoreTest {
 protected:
  void SetUp() override {
    RecordFile* f = open();
    ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    for (uint32_t i = 0; i < 80; ++i) put(*f, old_, i, data_of(100 + i, i));
    ASSERT_EQ(f->end_access(), 0);
    close(f);
    new_ = old_;
  }
  void TearDown() override { set_pending_transaction_check({}); }

  static void put(RecordFile& f, Model& m, uint32_t n, Bytes data) {
    const Bytes key = key_of(n);
    if (m.contains(key)) {
      f.replace_record(key, data);
    } else {
      f.insert_record(key, data);
    }
    m[key] = std::move(data);
  }

  // Changes records (and optionally adds a pending-transaction record), runs phase 0 of the flush
  // only, and drops the process's file as a crash between the phases would.
  void interrupted_flush(bool pending_transaction) {
    RecordFile* f = open();
    ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    for (uint32_t i = 0; i < 80; i += 3) put(*f, new_, i, data_of(900 + i, i + 1000));
    if (pending_transaction) {
      const Record r = pending_transaction_record(7, "C:\\tarnwell.TCF");
      f->insert_record(r.key(), r.data());
      new_[Bytes(r.key().begin(), r.key().end())] = Bytes(r.data().begin(), r.data().end());
    }
    ASSERT_EQ(f->flush_phase0(), 0);
    close(f);
    FileHeader h;
    ASSERT_EQ(decode_header(read_file("T.TWL"), h), 0);
    ASSERT_NE(h.log_start, h.log_end);
    log_start_ = h.log_start;
  }
  bool log_empty() {
    FileHeader h;
    EXPECT_EQ(decode_header(read_file("T.TWL"), h), 0);
    return h.log_start == h.log_end;
  }

  Model old_, new_;
  uint32_t log_start_ = 0;
};

TEST_F(PageLogTest, ReaderReadsThroughWriterApplies) {
  interrupted_flush(false);
  const Bytes before = read_file("T.TWL");
  EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadOnlyShared), new_));
  EXPECT_EQ(read_file("T.TWL"), before);  // a reader changes nothing
  EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadWriteShared), new_));
  EXPECT_TRUE(log_empty());
  EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadOnlyShared), new_));
}

TEST_F(PageLogTest, PendingTransactionDecides) {
  struct Case {
    const char* what;
    bool install_check;
    bool still_listed;
    bool expect_new;
  };
  const std::vector<Case> cases = {
      {"no check installed: applied", false, false, true},
      {"transaction committed: applied", true, false, true},
      {"transaction still listed: abandoned", true, true, false},
  };
  const Bytes original = read_file("T.TWL");
  const Model original_model = old_;
  for (const Case& c : cases) {
    write_file("T.TWL", original);
    old_ = new_ = original_model;
    interrupted_flush(true);
    std::vector<std::pair<uint32_t, std::string>> asked;
    if (c.install_check) {
      set_pending_transaction_check(
          [&](const std::string& file, uint32_t txn, const std::string& control) {
            EXPECT_EQ(file, path("T.TWL"));
            asked.emplace_back(txn, control);
            return c.still_listed;
          });
    } else {
      set_pending_transaction_check({});
    }
    const Model& expected = c.expect_new ? new_ : old_;
    EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadOnlyShared), expected)) << c.what;
    EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadWriteShared), expected)) << c.what;
    EXPECT_TRUE(log_empty()) << c.what;
    if (c.install_check) {
      ASSERT_FALSE(asked.empty()) << c.what;
      EXPECT_EQ(asked[0].first, 7u);
      EXPECT_EQ(asked[0].second, "C:\\tarnwell.TCF");
    }
  }
}

TEST_F(PageLogTest, LogThatCannotBeWalkedIsAbandoned) {
  struct Case {
    const char* what;
    size_t offset_in_log;  // where a byte of the log is spoiled
    uint8_t value;
  };
  const std::vector<Case> cases = {
      {"first image's stored length runs past the log", 5, 0x7F},
      {"first image aimed inside the log", 3, 0x70},
  };
  const Bytes original = read_file("T.TWL");
  for (const Case& c : cases) {
    write_file("T.TWL", original);
    new_ = old_;
    interrupted_flush(false);
    Bytes bytes = read_file("T.TWL");
    bytes[log_start_ + c.offset_in_log] = c.value;
    write_file("T.TWL", bytes);
    EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadOnlyShared), old_)) << c.what;
    EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadWriteShared), old_)) << c.what;
    EXPECT_TRUE(log_empty()) << c.what;
  }
}

TEST_F(PageLogTest, AbandonedPhaseZeroKeepsTheOldState) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  f->insert_record(key_of(5000), data_of(10, 1));
  ASSERT_EQ(f->flush_phase0(), 0);
  ASSERT_EQ(f->abandon_flush(), 0);
  EXPECT_FALSE(f->dirty());
  EXPECT_FALSE(f->find_exact(key_of(5000)).has_value());  // changes in memory are gone
  ASSERT_EQ(f->end_access(), 0);
  close(f);
  EXPECT_TRUE(log_empty());
  EXPECT_TRUE(same_records(reopened_records(), old_));
}

TEST_F(PageLogTest, TransactionKeepsTheWriteAccessAndDefersTheFlush) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  f->set_in_transaction(true);
  f->insert_record(key_of(6000), data_of(10, 1));
  EXPECT_EQ(f->flush(), 0);
  EXPECT_EQ(f->end_access(), 0);
  EXPECT_TRUE(f->in_access());
  EXPECT_EQ(f->access_mode(), AccessMode::write);
  EXPECT_TRUE(f->dirty());
  EXPECT_TRUE(same_records(reopened_records_at(other_process_name(), kReadOnlyShared), old_));
  // ROLLBACK: the changes go and the access ends.
  f->set_in_transaction(false);
  f->discard_changes();
  EXPECT_FALSE(f->in_access());
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
  EXPECT_FALSE(f->find_exact(key_of(6000)).has_value());
  f->end_access();
}

}  // namespace
}  // namespace vtn::tarnwell
