// Reader slots, record holds, watches and table locks between real processes on one shared file.
// Deadlines are checked with room to spare (a 1 s deadline passes between 0.9 and 3 s); that a
// process waits is checked by it still waiting while the thing it waits for is held.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "runtime/files/tarnwell/record_holds.hpp"
#include "runtime/files/tarnwell/table_lock.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"

namespace vtn::tarnwell {
namespace {

using namespace locking_test;

class LockingProcessesTest : public testing_support::ScratchDirectoryTest {
 protected:
  LockingProcessesTest() : name_(path("shared.twl")) {
    ValueTable t(name_);
    EXPECT_EQ(t.open_error(), 0);
    EXPECT_EQ(t.put_raw(1, 111), 0);
    EXPECT_EQ(t.put_raw(2, 222), 0);
  }

  // A child that holds record 2 (HOLD + GET), says so, and then on the second signal either lets
  // it go (RELEASE) or, when `new_value` is set, changes it (PUT) which also lets it go.
  pid_t holder(const Signal& holding, const Signal& go_on, std::optional<uint32_t> new_value = {}) {
    return spawn([&, new_value] {
      ValueTable t(name_);
      request_hold(t.holds(), kHoldForever);
      if (t.get(2) != 0 || !t.holds().held) return 1;
      holding.notify();
      go_on.wait();
      if (new_value) {
        t.buffer = *new_value;
        return t.put() == 0 ? 0 : 2;
      }
      release_hold(t.file(), t.holds());
      return 0;
    });
  }

  static bool still_running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

  std::string name_;
};

TEST_F(LockingProcessesTest, TwoReadersTakeTwoSlotsAndAFlushWaitsForBoth) {
  Signal slot1, slot2, leave1, leave2;
  int slot_pipe[2];
  ASSERT_EQ(pipe(slot_pipe), 0);
  auto reader = [&](const Signal& in, const Signal& leave) {
    return spawn([&] {
      ValueTable t(name_);
      if (t.file().begin_access(AccessMode::read, true) != 0) return 1;
      const uint16_t slot = t.file().reader_slot();
      (void)!::write(slot_pipe[1], &slot, sizeof slot);
      in.notify();
      leave.wait();
      return t.file().end_access();
    });
  };
  const pid_t r1 = reader(slot1, leave1);
  ASSERT_TRUE(slot1.wait());
  const pid_t r2 = reader(slot2, leave2);
  ASSERT_TRUE(slot2.wait());
  uint16_t slots[2] = {};
  ASSERT_EQ(::read(slot_pipe[0], &slots[0], sizeof slots[0]), 2);
  ASSERT_EQ(::read(slot_pipe[0], &slots[1], sizeof slots[1]), 2);
  EXPECT_NE(slots[0], slots[1]);

  Signal flushed;
  const pid_t writer = spawn([&] {
    ValueTable t(name_);
    const int32_t r = t.put_raw(3, 333);  // its flush needs every reader slot
    flushed.notify();
    return r;
  });
  usleep(300'000);
  EXPECT_TRUE(still_running(writer)) << "flushed while two readers were inside their accesses";
  leave1.notify();
  EXPECT_EQ(wait_for(r1), 0);
  usleep(200'000);
  EXPECT_TRUE(still_running(writer)) << "flushed while a reader was inside its access";
  leave2.notify();
  EXPECT_EQ(wait_for(r2), 0);
  EXPECT_EQ(wait_for(writer), 0);
  ::close(slot_pipe[0]);
  ::close(slot_pipe[1]);
  ValueTable t(name_);
  EXPECT_EQ(stored_value(t.file(), 3), 333u);
}

TEST_F(LockingProcessesTest, HoldWithADeadlineGivesUpWith43AndKeepsTheBuffer) {
  Signal holding, go_on;
  const pid_t other = holder(holding, go_on);
  ASSERT_TRUE(holding.wait());
  {
    ValueTable t(name_);
    ASSERT_EQ(t.get(1), 0);
    ASSERT_EQ(t.buffer, 111u);
    request_hold(t.holds(), 1);
    request_watch(t.holds());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.get(2), 43);
    const double waited = seconds_since(start);
    EXPECT_GE(waited, 0.9);
    EXPECT_LE(waited, 3.0);
    EXPECT_EQ(t.buffer, 111u) << "the record buffer keeps its previous contents";
    EXPECT_EQ(t.position, 1u) << "the position is reset";
    EXPECT_FALSE(t.holds().held);
    EXPECT_FALSE(t.holds().hold_requested) << "the one-shot requests are cleared";
    EXPECT_FALSE(t.holds().watch_requested);
    // Without a hold the record reads as usual.
    EXPECT_EQ(t.get(2), 0);
    EXPECT_EQ(t.buffer, 222u);
  }
  go_on.notify();
  EXPECT_EQ(wait_for(other), 0);
}

TEST_F(LockingProcessesTest, HoldWithoutLimitWaitsForTheHoldersChange) {
  Signal holding, go_on;
  const pid_t other = holder(holding, go_on, 333);
  ASSERT_TRUE(holding.wait());
  Signal got;
  const pid_t waiter = spawn([&] {
    ValueTable t(own_name(name_));
    request_hold(t.holds(), kHoldForever);
    const int32_t r = t.get(2);
    got.notify();
    // Read under the hold, the value is the holder's new one: an increment now loses nothing.
    return r != 0 ? 1 : t.buffer != 333u ? 2 : t.holds().held ? 0 : 3;
  });
  usleep(300'000);
  EXPECT_TRUE(still_running(waiter)) << "HOLD read a record held elsewhere";
  go_on.notify();
  EXPECT_EQ(wait_for(other), 0);
  EXPECT_EQ(wait_for(waiter), 0);
}

TEST_F(LockingProcessesTest, PutOfARecordHeldElsewhereIs5) {
  Signal holding, go_on;
  const pid_t other = holder(holding, go_on);
  ASSERT_TRUE(holding.wait());
  {
    ValueTable t(name_);
    ASSERT_EQ(t.get(2), 0);
    t.buffer = 999;
    EXPECT_EQ(t.put(), 5);
    EXPECT_EQ(stored_value(t.file(), 2), 222u);
    ASSERT_EQ(t.get(1), 0);  // a record nobody holds
    t.buffer = 112;
    EXPECT_EQ(t.put(), 0);
  }
  go_on.notify();
  EXPECT_EQ(wait_for(other), 0);
  ValueTable t(name_);
  EXPECT_EQ(stored_value(t.file(), 1), 112u);
}

TEST_F(LockingProcessesTest, WatchedRecordChangedElsewhereIs89AndKeepsTheOtherChange) {
  Signal watched, changed;
  const pid_t watcher = spawn([&] {
    ValueTable t(name_);
    request_watch(t.holds());
    if (t.get(2) != 0 || !t.holds().watch_active) return 1;
    watched.notify();
    changed.wait();
    t.buffer = 555;
    const int32_t first = t.put();
    // The watch ended with that PUT: a new read and PUT go through.
    if (t.get(2) != 0 || t.buffer != 444u) return 2;
    t.buffer = 556;
    return first == 89 && t.put() == 0 ? 0 : 3;
  });
  ASSERT_TRUE(watched.wait());
  {
    ValueTable t(name_);
    ASSERT_EQ(t.put_raw(2, 444), 0);
  }
  changed.notify();
  EXPECT_EQ(wait_for(watcher), 0);
  ValueTable t(name_);
  EXPECT_EQ(stored_value(t.file(), 2), 556u);
}

TEST_F(LockingProcessesTest, WatchedRecordUnchangedElsewherePuts) {
  ValueTable t(name_);
  request_watch(t.holds());
  ASSERT_EQ(t.get(2), 0);
  t.buffer = 223;
  EXPECT_EQ(t.put(), 0);
  EXPECT_FALSE(t.holds().watch_active);
  EXPECT_EQ(stored_value(t.file(), 2), 223u);
}

// Inside a transaction the changed record is not visible to others before COMMIT, so its hold
// lasts until then; otherwise another process could hold it, read the old value and overwrite
// the transaction's change.
TEST_F(LockingProcessesTest, AChangedRecordStaysHeldUntilCommit) {
  Signal changed, go_on, committed;
  const pid_t other = spawn([&] {
    ValueTable t(name_);
    if (logout(t.file()) != 0) return 1;
    request_hold(t.holds(), kHoldForever);
    if (t.get(2) != 0) return 2;
    t.buffer = 300;
    if (t.put() != 0 || t.holds().held) return 3;
    changed.notify();
    go_on.wait();
    if (commit() != 0) return 4;
    committed.notify();
    return 0;
  });
  ASSERT_TRUE(changed.wait());
  ValueTable t(name_);
  request_hold(t.holds(), 0);
  EXPECT_EQ(t.get(2), 43) << "held by the other's transaction";
  EXPECT_EQ(lock_for_put(t.file(), t.holds(), 2), 5);
  go_on.notify();
  ASSERT_TRUE(committed.wait());
  request_hold(t.holds(), 0);
  EXPECT_EQ(t.get(2), 0);
  EXPECT_EQ(t.buffer, 300u);
  EXPECT_EQ(wait_for(other), 0);
}

TEST_F(LockingProcessesTest, TableLocks) {
  constexpr uint32_t kTable = 0x00000105;
  Signal locked, go_on;
  const pid_t other = spawn([&] {
    ValueTable t(name_);
    if (lock_table(t.file(), kTable, 0) != 0) return 1;
    locked.notify();
    go_on.wait();
    usleep(300'000);
    return unlock_table(t.file(), kTable) == 0 ? 0 : 2;
  });
  ASSERT_TRUE(locked.wait());
  ValueTable t(name_);
  EXPECT_EQ(lock_table(t.file(), kTable, 0), 32);
  EXPECT_EQ(lock_table(t.file(), kTable + 1, 0), 0) << "another table's byte is free";
  EXPECT_EQ(unlock_table(t.file(), kTable + 1), 0);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lock_table(t.file(), kTable, 2), 32);
  const double waited = seconds_since(start);
  EXPECT_GE(waited, 1.8);
  EXPECT_LE(waited, 5.0);

  go_on.notify();  // the other unlocks 0.3 s later; LOCKfile waits for it
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(lock_table(t.file(), kTable, kLockForever), 0);
  EXPECT_GE(seconds_since(start), 0.2);
  EXPECT_EQ(wait_for(other), 0);
  EXPECT_EQ(unlock_table(t.file(), kTable), 0);
  EXPECT_NE(unlock_table(t.file(), kTable), 0) << "unlocking a table not locked";
}

TEST_F(LockingProcessesTest, AnExclusiveFileTakesNoLocks) {
  ValueTable t(name_, 0x12);  // read-write, nobody else
  ASSERT_EQ(t.open_error(), 0);
  EXPECT_EQ(lock_table(t.file(), 7, 0), 0);
  EXPECT_EQ(lock_for_put(t.file(), t.holds(), 7), 0);
  request_hold(t.holds(), 0);
  EXPECT_EQ(t.get(2), 0);
  EXPECT_TRUE(t.holds().held);
}

}  // namespace
}  // namespace vtn::tarnwell
