// Reads through a shared mapping of a file's first pages: what each guarded read answers while the
// file changes size and content underneath (scripts), in this process and in another; that a
// fault outside a guarded read still ends the program, or reaches the handler that was there.
#include "runtime/platform/mapped_view.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/platform/coherent_directory.hpp"
#include "tests/support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

using Compare = MappedView::Compare;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the sanitizer's own handler reports the fault and exits
#else
constexpr bool kSanitized = false;
#endif

class MappedViewTest : public testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override {
    if (!dir.usable()) GTEST_SKIP() << "no file system here keeps a shared mapping coherent";
    name = dir.path("f");
    writer = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    reader = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_GE(reader, 0);
  }
  void TearDown() override {
    if (writer >= 0) ::close(writer);
    if (reader >= 0) ::close(reader);
  }

  void fill(size_t offset, size_t length, char c) {
    const std::string bytes(length, c);
    ASSERT_EQ(pwrite(writer, bytes.data(), length, static_cast<off_t>(offset)),
              static_cast<ssize_t>(length));
  }
  // What a read of the file gives, with zeros where the file does not reach.
  std::vector<uint8_t> file_bytes(size_t offset, size_t length) {
    std::vector<uint8_t> bytes(length, 0);
    (void)!pread(writer, bytes.data(), length, static_cast<off_t>(offset));
    return bytes;
  }

  testing_support::CoherentDirectory dir{dir_};
  std::string name;
  int writer = -1;
  int reader = -1;
};

struct Step {
  char op;  // 'm' map `length`, 'w' write `fill` bytes, 't' truncate to `offset`, 'c' compare
            // with `fill` bytes, 'r' read (kSame: succeeds with the file's bytes)
  size_t offset, length;
  char fill;
  Compare expect;
};

struct Script {
  const char* what;
  std::vector<Step> steps;
};

TEST_F(MappedViewTest, ReadsWhileTheFileChanges) {
  const Compare same = Compare::kSame, differs = Compare::kDifferent, gone = Compare::kUnreadable;
  const std::vector<Script> scripts = {
      {"an empty file has no bytes to read until it is written",
       {{'m', 0, 512, 0, same},
        {'c', 0, 64, 0, gone},
        {'r', 0, 512, 0, gone},
        {'w', 0, 512, 'a', same},
        {'c', 0, 64, 'a', same},
        {'r', 0, 512, 0, same}}},
      {"a file shorter than a page reads as zeros past its end",
       {{'w', 0, 100, 'a', same},
        {'m', 0, 512, 0, same},
        {'c', 0, 64, 'a', same},
        {'c', 0, 64, 'b', differs},
        {'c', 100, 64, 0, same},
        {'r', 0, 512, 0, same}}},
      {"growing and shrinking while mapped",
       {{'w', 0, 4096, 'a', same},
        {'m', 0, 8192, 0, same},
        {'c', 4096, 64, 'c', gone},
        {'w', 4096, 4096, 'c', same},
        {'c', 4096, 64, 'c', same},
        {'t', 0, 0, 0, same},
        {'c', 0, 64, 'a', gone},
        {'r', 0, 512, 0, gone},
        {'c', 4096, 64, 'c', gone},
        {'w', 0, 512, 'd', same},
        {'c', 0, 64, 'd', same},
        {'c', 4096, 64, 'c', gone}}},
      {"a write through another description is seen at once",
       {{'w', 0, 4096, 'a', same},
        {'m', 0, 4096, 0, same},
        {'c', 0, 64, 'a', same},
        {'w', 10, 1, 'z', same},
        {'c', 0, 64, 'a', differs},
        {'r', 0, 64, 0, same},
        {'w', 10, 1, 'a', same},
        {'c', 0, 64, 'a', same}}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.what);
    ASSERT_EQ(ftruncate(writer, 0), 0);
    MappedView view;
    for (size_t i = 0; i < script.steps.size(); ++i) {
      const Step& s = script.steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      switch (s.op) {
        case 'm':
          ASSERT_TRUE(view.map(reader, s.length));
          EXPECT_EQ(view.length(), s.length);
          break;
        case 'w':
          fill(s.offset, s.length, s.fill);
          break;
        case 't':
          ASSERT_EQ(ftruncate(writer, static_cast<off_t>(s.offset)), 0);
          break;
        case 'c':
          EXPECT_EQ(view.compare(s.offset, std::vector<uint8_t>(s.length, s.fill)), s.expect);
          break;
        case 'r': {
          std::vector<uint8_t> out(s.length, 0xEE);
          const bool read = view.read(s.offset, out);
          EXPECT_EQ(read, s.expect == same);
          if (read) {
            EXPECT_EQ(out, file_bytes(s.offset, s.length));
          }
          break;
        }
      }
    }
  }
}

TEST_F(MappedViewTest, MappingIsRefusedWhereItWouldNotBeCoherent) {
  MappedView view;
  const int proc = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(proc, 0);
  EXPECT_FALSE(mapping_is_coherent(proc));
  EXPECT_FALSE(view.map(proc, 512));
  ::close(proc);
  EXPECT_TRUE(mapping_is_coherent(reader));
  set_mapping_enabled(false);
  EXPECT_FALSE(view.map(reader, 512));
  EXPECT_FALSE(view.mapped());
  set_mapping_enabled(true);
  EXPECT_TRUE(view.map(reader, 512));
  MappedView moved = std::move(view);
  EXPECT_FALSE(view.mapped());
  fill(0, 64, 'q');
  EXPECT_EQ(moved.compare(0, std::vector<uint8_t>(64, 'q')), Compare::kSame);
}

// Another process writes and then empties the file; a child reads through the mapping it
// inherited, with a guard of its own.
TEST_F(MappedViewTest, OtherProcessesWritesAndTheChildsOwnGuard) {
  fill(0, 4096, 'a');
  MappedView view;
  ASSERT_TRUE(view.map(reader, 512));
  const pid_t writer_process = fork();
  if (writer_process == 0) {
    const std::string bytes(64, 'b');
    _exit(pwrite(writer, bytes.data(), 64, 0) == 64 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(writer_process, &status, 0), writer_process);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(view.compare(0, std::vector<uint8_t>(64, 'b')), Compare::kSame);

  const pid_t child = fork();
  if (child == 0) {
    if (view.compare(0, std::vector<uint8_t>(64, 'b')) != Compare::kSame) _exit(1);
    if (ftruncate(writer, 0) != 0) _exit(2);
    _exit(view.compare(0, std::vector<uint8_t>(64, 'b')) == Compare::kUnreadable ? 0 : 3);
  }
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(view.compare(0, std::vector<uint8_t>(64, 'b')), Compare::kUnreadable);
}

// Reads a mapped page past the end of the file outside any guarded read.
void fault_outside_the_guard(int fd) {
  MappedView guarded;
  if (!guarded.map(fd, 512)) _exit(7);  // the guard is installed by now
  void* raw = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  if (raw == MAP_FAILED) _exit(8);
  const volatile uint8_t* byte = static_cast<const uint8_t*>(raw);
  (void)byte[0];
  _exit(9);  // not reached: the file is empty
}

void raise_outside_the_guard(int fd) {
  MappedView guarded;
  if (!guarded.map(fd, 512)) _exit(7);
  raise(SIGBUS);
  _exit(9);
}

TEST_F(MappedViewTest, AFaultOutsideTheGuardStillEndsTheProgram) {
  if (kSanitized) {
    EXPECT_DEATH(fault_outside_the_guard(reader), "");
  } else {
    EXPECT_EXIT(fault_outside_the_guard(reader), testing::KilledBySignal(SIGBUS), "");
  }
  // A SIGBUS sent by another process is not a fault of a read: it ends the program too.
  if (kSanitized) {
    EXPECT_DEATH(raise_outside_the_guard(reader), "");
  } else {
    EXPECT_EXIT(raise_outside_the_guard(reader), testing::KilledBySignal(SIGBUS), "");
  }
}

void exit_42(int, siginfo_t*, void*) {
  _exit(42);
}

// The handler that was there before the first mapping gets every fault that is not a guarded
// read's. Run in a fresh process, so that the guard is installed after that handler.
TEST_F(MappedViewTest, AFaultOutsideTheGuardReachesTheEarlierHandler) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        struct sigaction action = {};
        action.sa_sigaction = exit_42;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
        fault_outside_the_guard(reader);
      },
      testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace vtn::platform
