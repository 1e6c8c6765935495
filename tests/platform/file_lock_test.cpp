// Byte-range locks of two handles of one process on one file: what each lock and unlock
// answers, run as short scripts so that the state left by earlier steps is checked too.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/platform/byte_lock.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"
#include "support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kBase = 0x8000'0000ull;      // the lock region
constexpr uint64_t kWriterByte = kBase + 1023;  // one writer at a time
uint64_t hold_byte(uint32_t n) {
  return kBase + 1024 + n + 1;  // table lock or record hold n
}

struct Step {
  char handle;  // 'a' or 'b'
  char op;      // 'L' lock, 'U' unlock
  uint64_t offset, length;
  uint32_t error;  // 0: the call succeeds
};

struct Script {
  const char* what;
  bool a_writes, b_writes;
  std::vector<Step> steps;
};

class FileLockTest : public testing_support::ScratchDirectoryTest {
 protected:
};

TEST_F(FileLockTest, LockAndUnlockScripts) {
  const std::vector<Script> scripts = {
      {"adjacent locks of one handle stay separate",
       true,
       true,
       {{'a', 'L', 100, 10, 0},
        {'a', 'L', 110, 10, 0},
        {'a', 'U', 100, 10, 0},
        {'b', 'L', 105, 1, 0},
        {'b', 'L', 110, 1, 33},
        {'a', 'U', 110, 10, 0},
        {'b', 'L', 110, 1, 0}}},
      {"unlocking twice",
       true,
       true,
       {{'a', 'L', 100, 10, 0}, {'a', 'U', 100, 10, 0}, {'a', 'U', 100, 10, 158}}},
      {"only the holder unlocks",
       true,
       true,
       {{'a', 'L', 100, 10, 0}, {'b', 'U', 100, 10, 158}, {'b', 'L', 109, 1, 33}}},
      {"only the exact range unlocks",
       true,
       true,
       {{'a', 'L', 100, 10, 0},
        {'a', 'U', 100, 20, 158},
        {'a', 'U', 101, 9, 158},
        {'a', 'U', 100, 9, 158},
        {'b', 'L', 100, 1, 33},
        {'a', 'U', 100, 10, 0},
        {'b', 'L', 100, 10, 0}}},
      {"a handle cannot lock over its own lock",
       true,
       true,
       {{'a', 'L', 100, 10, 0},
        {'a', 'L', 109, 5, 33},
        {'a', 'L', 90, 11, 33},
        {'a', 'L', 90, 10, 0}}},
      {"a flush waits for readers, a writer for the writer",
       true,
       true,
       {{'a', 'L', kBase + 17, 1, 0},
        {'b', 'L', kBase, 1023, 33},
        {'b', 'L', kWriterByte, 1, 0},
        {'a', 'L', kWriterByte, 1, 33},
        {'a', 'U', kBase + 17, 1, 0},
        {'b', 'L', kBase, 1023, 0},
        {'a', 'L', kBase + 1022, 1, 33}}},
      {"writer byte and all reader slots held together, released one by one",
       true,
       true,
       {{'a', 'L', kWriterByte, 1, 0},
        {'a', 'L', kBase, 1023, 0},
        {'a', 'U', kBase, 1023, 0},
        {'b', 'L', kBase + 5, 1, 0},
        {'b', 'L', kWriterByte, 1, 33}}},
      {"holds beyond 4 GiB",
       true,
       true,
       {{'a', 'L', hold_byte(0), 1, 0},
        {'a', 'L', hold_byte(0x7FFF'FFFF), 1, 0},
        {'a', 'L', hold_byte(0xFFFF'FFFF), 1, 0},
        {'b', 'L', hold_byte(0xFFFF'FFFF), 1, 33},
        {'b', 'L', hold_byte(0xFFFF'FFFE), 1, 0},
        {'b', 'L', hold_byte(0x7FFF'FFFF), 1, 33},
        {'b', 'L', hold_byte(0), 1, 33},
        {'a', 'U', hold_byte(0xFFFF'FFFF), 1, 0},
        {'b', 'L', hold_byte(0xFFFF'FFFF), 1, 0},
        {'b', 'L', kWriterByte, 1, 0}}},
      {"read-only handles: adjacent shared locks stay separate",
       false,
       true,
       {{'a', 'L', kBase + 5, 1, 0},
        {'a', 'L', kBase + 6, 1, 0},
        {'a', 'U', kBase + 5, 1, 0},
        {'b', 'L', kBase + 5, 1, 0},
        {'b', 'L', kBase + 6, 1, 33},
        {'b', 'L', kBase, 1023, 33}}},
      {"read-only holds keep writers off, not other readers",
       false,
       false,
       {{'a', 'L', hold_byte(9), 1, 0},
        {'b', 'L', hold_byte(9), 1, 0},
        {'a', 'U', hold_byte(9), 1, 0},
        {'a', 'U', hold_byte(9), 1, 158}}},
      {"ranges that reach the reserved bytes",
       true,
       true,
       {{'a', 'L', kReservedLockBase - 1, 2, 87},
        {'a', 'L', 0, kReservedLockBase + 1, 87},
        {'a', 'L', ~0ull, 1, 87},
        {'a', 'L', kReservedLockBase - 1, 1, 0},
        {'b', 'L', kReservedLockBase - 1, 1, 33}}},
  };
  const std::string name = (dir_ / "locks.dat").string();
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.what);
    FileHandle a, b;
    const auto mode = [](bool writes) {
      return FileOpenMode{writes ? FileAccess::kReadWrite : FileAccess::kRead,
                          FileSharing::kDenyNone, FileDisposition::kOpenAlways, false};
    };
    ASSERT_TRUE(a.open(name, mode(script.a_writes)));
    ASSERT_TRUE(b.open(name, mode(script.b_writes)));
    for (size_t i = 0; i < script.steps.size(); ++i) {
      const Step& step = script.steps[i];
      SCOPED_TRACE(testing::Message() << "step " << i + 1);
      FileHandle& h = step.handle == 'a' ? a : b;
      set_last_error(0);
      const bool ok =
          step.op == 'L' ? h.lock(step.offset, step.length) : h.unlock(step.offset, step.length);
      EXPECT_EQ(ok, step.error == 0);
      if (step.error != 0) {
        EXPECT_EQ(last_error(), step.error);
      }
    }
  }
}

TEST_F(FileLockTest, LocksHeldByAnotherProcess) {
  // The parent holds a reader slot through a read-only handle and a record hold through a
  // read/write one; a child sees them as a process of its own would.
  const std::string name = (dir_ / "shared.dat").string();
  FileHandle reader, writer;
  ASSERT_TRUE(reader.open(name, FileOpenMode{FileAccess::kRead, FileSharing::kDenyNone,
                                             FileDisposition::kOpenAlways, false}));
  ASSERT_TRUE(writer.open(name, FileOpenMode{FileAccess::kReadWrite, FileSharing::kDenyNone,
                                             FileDisposition::kOpenExisting, false}));
  ASSERT_TRUE(reader.lock(kBase + 5, 1));
  ASSERT_TRUE(writer.lock(hold_byte(0xFFFF'FFFF), 1));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    FileHandle r, w;
    if (!r.open(name, FileOpenMode{}) ||
        !w.open(name, FileOpenMode{FileAccess::kReadWrite, FileSharing::kDenyNone,
                                   FileDisposition::kOpenExisting, false})) {
      _exit(100);
    }
    struct Case {
      FileHandle* h;
      uint64_t offset, length;
      uint32_t error;
    };
    const Case cases[] = {
        {&r, kBase + 5, 1, 0},                // readers share a slot
        {&w, kBase, 1023, 33},                // a flush waits for the parent's reader
        {&w, kWriterByte, 1, 0},              // but a writer may start
        {&r, hold_byte(0xFFFF'FFFF), 1, 33},  // a held record
        {&w, hold_byte(0xFFFF'FFFF), 1, 33},
        {&w, hold_byte(0xFFFF'FFFE), 1, 0},
    };
    int step = 1;
    for (const Case& c : cases) {
      set_last_error(0);
      const bool ok = c.h->lock(c.offset, c.length);
      if (ok != (c.error == 0) || (!ok && last_error() != c.error)) _exit(step);
      ++step;
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failing step, or 100 if the child could not open";
}

}  // namespace
}  // namespace vtn::platform
