// The access protocol between processes: reader slots, the writer byte, a flush waiting for the
// readers, and the table-or-record bytes. The other process is a forked child that opens the file
// itself (locks belong to open handles, so a child must not reuse the parent's).
#include "runtime/files/tarnwell/access_locks.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "runtime/files/tarnwell/page_store.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

TEST(AccessBitsTest, ModesOfTheDriver) {
  struct Case {
    uint32_t mode;
    bool write, shared, deny_write, exclusive, create, create_anew;
  };
  const std::vector<Case> cases = {
      {0x142, true, true, false, false, true, false},   // CREATE, COPY and RENAME targets
      {0x42, true, true, false, false, false, false},   // REMOVE
      {0x22, true, false, true, false, false, false},   // build of a table not open
      {0x40, false, true, false, false, false, false},  // reading a control file in recovery
      {0x12, true, false, false, true, false, false},
      {0x32, true, false, false, true, false, false},
      {0x342, true, true, false, false, true, true},
      {0x200, false, true, false, false, false, false},  // 0x200 alone creates nothing
  };
  for (const Case& c : cases) {
    const AccessBits b = decode_access_bits(c.mode);
    EXPECT_EQ(b.write, c.write) << std::hex << c.mode;
    EXPECT_EQ(b.shared, c.shared) << std::hex << c.mode;
    EXPECT_EQ(b.deny_write, c.deny_write) << std::hex << c.mode;
    EXPECT_EQ(b.exclusive, c.exclusive) << std::hex << c.mode;
    EXPECT_EQ(b.create, c.create) << std::hex << c.mode;
    EXPECT_EQ(b.create_anew, c.create_anew) << std::hex << c.mode;
  }
  EXPECT_EQ(number_byte(0), 0x80000000u + 1025);
  EXPECT_EQ(number_byte(0xFFFFFFFFu), 0x80000000ull + 1024 + 0xFFFFFFFFull + 1);
  EXPECT_GT(number_byte(0), kWriterByte);
}

class AccessLocksTest : public StoreTest {
 protected:
  // Runs `body` in a child process; a pipe lets the child say when it is about to block. Returns
  // the child's pid; `ready` is the read end.
  pid_t spawn(const std::function<int()>& body, int& ready) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close_pipe_end(fds[0]);
      child_signal_ = fds[1];
      _exit(body());
    }
    close_pipe_end(fds[1]);
    ready = fds[0];
    return pid;
  }
  static void close_pipe_end(int fd) { ::close(fd); }
  static void signal_parent() {
    const char c = 1;
    (void)::write(child_signal_, &c, 1);
  }
  static void wait_for_child_signal(int ready) {
    char c = 0;
    ASSERT_EQ(::read(ready, &c, 1), 1);
  }
  static int exit_code(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }
  FileHeader disk_header() {
    FileHeader h;
    EXPECT_EQ(decode_header(read_file("T.TWL"), h), 0);
    return h;
  }

  static inline int child_signal_ = -1;
};

TEST_F(AccessLocksTest, AFlushWaitsUntilReadersLeave) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  f->insert_record(key_of(1), data_of(30, 1));
  ASSERT_EQ(f->end_access(), 0);
  const uint32_t counter = disk_header().change_counter;

  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);  // this process reads
  const std::string name = other_process_name();
  int ready = -1;
  const pid_t child = spawn(
      [&] {
        RecordFile* g = nullptr;
        if (open_record_file(name, kReadWriteShared, "", g) != 0) return 1;
        if (g->begin_access(AccessMode::write, true) != 0) return 2;
        g->insert_record(key_of(2), data_of(30, 2));
        signal_parent();
        return g->end_access() == 0 ? 0 : 3;  // its flush waits for our reader slot
      },
      ready);
  wait_for_child_signal(ready);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(disk_header().change_counter, counter);  // nothing written while we read
  EXPECT_FALSE(f->find_exact(key_of(2)).has_value());
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_EQ(exit_code(child), 0);
  EXPECT_GT(disk_header().change_counter, counter);
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);  // the cache follows the new counter
  EXPECT_TRUE(f->find_exact(key_of(2)).has_value());
  f->end_access();
  ::close(ready);
}

// Every failure to take the reader slot moves the handle to the next slot, so a waiting reader
// finds the one slot left free.
TEST_F(AccessLocksTest, AWaitingReaderMovesToAFreeSlot) {
  open();  // creates the file
  const auto mode = platform::decode_open_mode(0x42);
  platform::FileHandle others;
  ASSERT_TRUE(others.open(path("T.TWL"), mode));
  ASSERT_TRUE(others.lock(kLockRegion, 500));
  ASSERT_TRUE(others.lock(kLockRegion + 501, kReaderSlots - 501));
  platform::FileHandle mine;
  ASSERT_TRUE(mine.open(path("T.TWL"), mode));
  AccessLocks locks(mine, false);
  if (locks.slot() != 500) {
    EXPECT_EQ(locks.lock_reader(false), 5);  // its slot is taken
  }
  EXPECT_EQ(locks.lock_reader(true), 0);
  EXPECT_EQ(locks.slot(), 500);
  // A flush cannot have every slot now; the reader leaves and it can.
  ASSERT_TRUE(others.unlock(kLockRegion, 500));
  ASSERT_TRUE(others.unlock(kLockRegion + 501, kReaderSlots - 501));
  EXPECT_FALSE(others.lock(kLockRegion, kReaderSlots));
  locks.unlock_reader();
  EXPECT_TRUE(others.lock(kLockRegion, kReaderSlots));
}

TEST_F(AccessLocksTest, OneWriterAtATime) {
  RecordFile* f = open();
  const std::string name = other_process_name();
  int ready = -1;
  const pid_t child = spawn(
      [&] {
        RecordFile* g = nullptr;
        if (open_record_file(name, kReadWriteShared, "", g) != 0) return 1;
        if (g->begin_access(AccessMode::write, false) != 0) return 2;
        signal_parent();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return g->end_access() == 0 ? 0 : 3;
      },
      ready);
  wait_for_child_signal(ready);
  // The child holds the writer byte: a write access that may not wait is refused with 5, a
  // reader is not held up, and a waiting writer gets in once the child is done.
  EXPECT_EQ(f->begin_access(AccessMode::write, false), 5);
  EXPECT_EQ(f->begin_access(AccessMode::read, false), 0);
  EXPECT_EQ(f->end_access(), 0);
  EXPECT_EQ(f->begin_access(AccessMode::write, true), 0);
  EXPECT_EQ(f->end_access(), 0);
  EXPECT_EQ(exit_code(child), 0);
  ::close(ready);
}

TEST_F(AccessLocksTest, TableAndRecordBytes) {
  RecordFile* f = open();
  EXPECT_EQ(f->lock_number_byte(42), 0);
  const std::string name = other_process_name();
  int ready = -1;
  const pid_t child = spawn(
      [&] {
        RecordFile* g = nullptr;
        if (open_record_file(name, kReadWriteShared, "", g) != 0) return 1;
        if (g->lock_number_byte(42) != 33) return 2;  // held by the parent
        if (g->lock_number_byte(43) != 0) return 3;
        return g->unlock_number_byte(43) == 0 ? 0 : 4;
      },
      ready);
  EXPECT_EQ(exit_code(child), 0);
  EXPECT_EQ(f->unlock_number_byte(42), 0);
  EXPECT_EQ(f->unlock_number_byte(42), static_cast<int32_t>(platform::kErrorNotLocked));
  ::close(ready);
}

TEST_F(AccessLocksTest, AnExclusiveFileTakesNoLocks) {
  RecordFile* f = open(0x112);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->exclusive());
  EXPECT_EQ(f->lock_number_byte(7), 0);
  ASSERT_EQ(f->begin_access(AccessMode::write, false), 0);
  f->insert_record(key_of(1), data_of(5, 1));
  EXPECT_EQ(f->end_access(), 0);
  // The lock region is untouched: a lock of the reader slots would still be ours to take.
  PageStore& s = f->store();
  EXPECT_TRUE(s.file.lock(kLockRegion, kReaderSlots));
  EXPECT_TRUE(s.file.unlock(kLockRegion, kReaderSlots));
}

}  // namespace
}  // namespace vtn::tarnwell
