// Every pair of OPEN access codes against the sharing rule of Windows, within one process and
// across two, worked out here from what each code lets its holder do and what it lets others do.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"
#include "support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

namespace fs = std::filesystem;

// Read-only, write-only, read/write; shared (compatibility), exclusive, deny write, deny read,
// deny none.
constexpr uint32_t kAccesses[] = {0x0, 0x1, 0x2};
constexpr uint32_t kSharings[] = {0x00, 0x10, 0x20, 0x30, 0x40};

struct Rights {
  bool reads, writes;          // what the holder does
  bool lets_read, lets_write;  // what it lets other handles do
};

// The run-time opens every file for reading; any access other than 0 also writes. Sharing
// 0x10 and 0x30 keep every other open out, 0x20 lets others read, 0 and 0x40 let them do both.
Rights rights_of(uint32_t code) {
  const uint32_t sharing = code & 0x30;
  return Rights{true, (code & 3) != 0, sharing == 0 || sharing == 0x20, sharing == 0};
}

bool windows_allows_second(uint32_t first, uint32_t second) {
  const Rights a = rights_of(first), b = rights_of(second);
  return (!b.reads || a.lets_read) && (!b.writes || a.lets_write) && (!a.reads || b.lets_read) &&
         (!a.writes || b.lets_write);
}

class FileSharingTest : public testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override {
    name_ = path("shared.dat");
    FileHandle h;
    ASSERT_TRUE(h.open(name_, decode_open_mode(0x142)));
  }
  std::string name_;
};

TEST_F(FileSharingTest, EveryPairWithinOneProcess) {
  int refused = 0;
  for (uint32_t a1 : kAccesses) {
    for (uint32_t s1 : kSharings) {
      for (uint32_t a2 : kAccesses) {
        for (uint32_t s2 : kSharings) {
          const uint32_t first_code = a1 | s1, second_code = a2 | s2;
          SCOPED_TRACE(testing::Message()
                       << std::hex << "0x" << first_code << " then 0x" << second_code);
          FileHandle first, second;
          ASSERT_TRUE(first.open(name_, decode_open_mode(first_code)));
          const bool expected = windows_allows_second(first_code, second_code);
          set_last_error(0);
          EXPECT_EQ(second.open(name_, decode_open_mode(second_code)), expected);
          if (!expected) {
            ++refused;
            EXPECT_EQ(last_error(), kErrorSharingViolation);
            EXPECT_FALSE(second.is_open());
            // The refused open left the first handle's sharing in force...
            FileHandle third;
            EXPECT_FALSE(third.open(name_, decode_open_mode(second_code)));
            // ...and left nothing behind once the first is gone.
            first.close();
            EXPECT_TRUE(third.open(name_, decode_open_mode(second_code)));
          }
        }
      }
    }
  }
  EXPECT_GT(refused, 0);
}

TEST_F(FileSharingTest, EveryPairAcrossProcesses) {
  for (uint32_t a1 : kAccesses) {
    for (uint32_t s1 : kSharings) {
      FileHandle first;
      ASSERT_TRUE(first.open(name_, decode_open_mode(a1 | s1)));
      for (uint32_t a2 : kAccesses) {
        for (uint32_t s2 : kSharings) {
          const uint32_t first_code = a1 | s1, second_code = a2 | s2;
          SCOPED_TRACE(testing::Message()
                       << std::hex << "0x" << first_code << " then 0x" << second_code);
          const pid_t pid = fork();
          ASSERT_GE(pid, 0);
          if (pid == 0) {
            FileHandle h;
            const bool ok = h.open(name_, decode_open_mode(second_code));
            _exit(ok ? 0 : static_cast<int>(last_error()));
          }
          int status = 0;
          ASSERT_EQ(waitpid(pid, &status, 0), pid);
          ASSERT_TRUE(WIFEXITED(status));
          const int expected =
              windows_allows_second(first_code, second_code) ? 0 : int(kErrorSharingViolation);
          EXPECT_EQ(WEXITSTATUS(status), expected);
        }
      }
    }
  }
}

TEST_F(FileSharingTest, DriverModesAgainstEachOther) {
  // The record-file driver's own opens: create/copy target 0x142, remove 0x42, build 0x22,
  // recovery read 0x40. Only the build keeps writers out.
  struct Case {
    uint32_t first, second;
    bool second_opens;
  };
  constexpr Case kCases[] = {
      {0x142, 0x42, true}, {0x142, 0x40, true},  {0x142, 0x22, false}, {0x22, 0x40, true},
      {0x22, 0x42, false}, {0x22, 0x142, false}, {0x40, 0x22, true},   {0x12, 0x40, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.first << " then " << c.second);
    FileHandle first, second;
    ASSERT_TRUE(first.open(name_, decode_open_mode(c.first)));
    EXPECT_EQ(second.open(name_, decode_open_mode(c.second)), c.second_opens);
    EXPECT_EQ(c.second_opens, windows_allows_second(c.first, c.second));
  }
}

TEST_F(FileSharingTest, CopyFollowsTheSharingOfBothFiles) {
  // The copy reads the source as a deny-none reader and writes the target exclusively.
  const std::string target = (dir_ / "copy.dat").string();
  {
    FileHandle h;
    ASSERT_TRUE(h.open(name_, decode_open_mode(0x42)));
    size_t n = 0;
    const uint8_t text[] = {'s', 'o', 'u', 'r', 'c', 'e'};
    ASSERT_TRUE(h.write_at(0, text, n));
  }
  struct Case {
    uint32_t source_held, target_held;  // 0: not open
    uint32_t error;
  };
  constexpr Case kCases[] = {
      {0, 0, 0},     {0x42, 0, 0},  {0x22, 0, 0},  {0x40, 0, 0},
      {0x12, 0, 32}, {0x30, 0, 32}, {0, 0x40, 32}, {0, 0x42, 32},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.source_held << " / " << c.target_held);
    fs::remove(target);
    FileHandle source_holder, target_holder;
    if (c.source_held) {
      ASSERT_TRUE(source_holder.open(name_, decode_open_mode(c.source_held)));
    }
    if (c.target_held) {
      ASSERT_TRUE(target_holder.open(target, decode_open_mode(c.target_held | 0x100)));
    }
    set_last_error(0);
    EXPECT_EQ(copy_file(name_, target, true), c.error == 0);
    EXPECT_EQ(last_error(), c.error);
    target_holder.close();
    FileHandle copy;
    ASSERT_TRUE(copy.open(target, decode_open_mode(0x140)));
    uint64_t size = 0;
    ASSERT_TRUE(copy.size(size));
    EXPECT_EQ(size, c.error == 0 ? 6u : 0u);
  }
}

}  // namespace
}  // namespace vtn::platform
