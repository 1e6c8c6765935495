#include "runtime/platform/file_handle.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/platform/byte_lock.hpp"
#include "runtime/platform/system_error.hpp"
#include "support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

namespace fs = std::filesystem;

class FileHandleTest : public testing_support::ScratchDirectoryTest {
 protected:
  static FileOpenMode mode(FileAccess a, FileSharing s,
                           FileDisposition d = FileDisposition::kOpenAlways) {
    return FileOpenMode{a, s, d, false};
  }

  static std::vector<uint8_t> bytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
  }

  static std::string read_all(FileHandle& h) {
    uint64_t size = 0;
    EXPECT_TRUE(h.size(size));
    std::vector<uint8_t> buffer(size);
    size_t got = 0;
    EXPECT_TRUE(h.read_at(0, buffer, got));
    return std::string(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(got));
  }
};

constexpr auto R = FileAccess::kRead;
constexpr auto RW = FileAccess::kReadWrite;
constexpr auto kNone = FileSharing::kDenyNone;
constexpr auto kDenyW = FileSharing::kDenyWrite;
constexpr auto kExcl = FileSharing::kExclusive;

struct SharingCase {
  FileAccess first_access;
  FileSharing first_sharing;
  FileAccess second_access;
  FileSharing second_sharing;
  bool second_opens;
};

// Windows rules: the second open succeeds only when each handle's access is allowed by the
// other's sharing.
constexpr SharingCase kSharingCases[] = {
    {RW, kNone, RW, kNone, true},  {RW, kNone, R, kNone, true},  {R, kNone, R, kDenyW, true},
    {RW, kNone, R, kDenyW, false}, {R, kDenyW, R, kNone, true},  {R, kDenyW, RW, kNone, false},
    {R, kDenyW, R, kDenyW, true},  {RW, kDenyW, R, kNone, true}, {RW, kDenyW, R, kDenyW, false},
    {R, kExcl, R, kNone, false},   {R, kNone, R, kExcl, false},  {RW, kExcl, RW, kExcl, false},
    {R, kNone, RW, kExcl, false},
};

TEST_F(FileHandleTest, SharingModesWithinOneProcess) {
  const std::string name = path("share.dat");
  for (const SharingCase& c : kSharingCases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.first_access) << "/" << int(c.first_sharing) << " then "
                 << int(c.second_access) << "/" << int(c.second_sharing));
    FileHandle first, second;
    ASSERT_TRUE(first.open(name, mode(c.first_access, c.first_sharing)));
    EXPECT_EQ(second.open(name, mode(c.second_access, c.second_sharing)), c.second_opens);
    if (!c.second_opens) {
      EXPECT_EQ(last_error(), kErrorSharingViolation);
      first.close();
      EXPECT_TRUE(second.open(name, mode(c.second_access, c.second_sharing)));
    }
  }
}

TEST_F(FileHandleTest, SharingModesAcrossProcesses) {
  const std::string name = path("fork.dat");
  FileHandle parent;
  ASSERT_TRUE(parent.open(name, mode(RW, kDenyW)));
  auto child_open = [&](FileAccess a, FileSharing s) {
    const pid_t pid = fork();
    if (pid == 0) {
      FileHandle h;
      const bool ok = h.open(name, mode(a, s));
      _exit(ok ? 0 : static_cast<int>(last_error()));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WEXITSTATUS(status);
  };
  EXPECT_EQ(child_open(R, kNone), 0);
  EXPECT_EQ(child_open(RW, kNone), int(kErrorSharingViolation));
  parent.close();
  EXPECT_EQ(child_open(RW, kNone), 0);
}

TEST_F(FileHandleTest, RacingExclusiveOpensNeverBothSucceed) {
  const std::string name = path("race.dat");
  for (int round = 0; round < 10; ++round) {
    int results[2];
    int release[2];
    ASSERT_EQ(pipe(results), 0);
    ASSERT_EQ(pipe(release), 0);
    constexpr int kChildren = 4;
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
      const pid_t pid = fork();
      if (pid == 0) {
        close(results[0]);
        close(release[1]);  // else the release never reaches end of file
        FileHandle h;
        const char opened = h.open(name, mode(RW, kExcl)) ? '1' : '0';
        if (write(results[1], &opened, 1) != 1) _exit(1);
        char go;
        if (read(release[0], &go, 1) < 0) _exit(1);  // keep the file open until released
        _exit(0);
      }
      children.push_back(pid);
    }
    int opened = 0;
    for (int c = 0; c < kChildren; ++c) {
      char r = 0;
      ASSERT_EQ(read(results[0], &r, 1), 1);
      opened += r == '1';
    }
    EXPECT_LE(opened, 1) << "round " << round;
    close(release[1]);  // every child's read ends
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    close(release[0]);
    close(results[0]);
    close(results[1]);
  }
}

TEST_F(FileHandleTest, OpenDispositions) {
  const std::string name = path("disp.dat");
  FileHandle h;
  EXPECT_FALSE(h.open(name, mode(R, kNone, FileDisposition::kOpenExisting)));
  EXPECT_EQ(last_error(), kErrorFileNotFound);
  EXPECT_FALSE(h.open(path("nodir/x.dat"), mode(RW, kNone, FileDisposition::kOpenAlways)));
  EXPECT_EQ(last_error(), kErrorPathNotFound);
  EXPECT_FALSE(h.open(dir_.string(), mode(R, kNone, FileDisposition::kOpenExisting)));
  EXPECT_EQ(last_error(), kErrorAccessDenied);

  ASSERT_TRUE(h.open(name, mode(RW, kNone, FileDisposition::kOpenAlways)));
  size_t n = 0;
  ASSERT_TRUE(h.write_at(0, bytes("keep me"), n));
  h.close();

  // Opening always keeps the contents; a refused create-anew must not empty the file either.
  ASSERT_TRUE(h.open(name, mode(RW, kNone, FileDisposition::kOpenAlways)));
  EXPECT_EQ(read_all(h), "keep me");
  FileHandle other;
  EXPECT_FALSE(other.open(name, mode(RW, kExcl, FileDisposition::kCreateAnew)));
  EXPECT_EQ(read_all(h), "keep me");
  h.close();
  ASSERT_TRUE(other.open(name, mode(RW, kExcl, FileDisposition::kCreateAnew)));
  EXPECT_EQ(read_all(other), "");
}

TEST_F(FileHandleTest, AccessCodeDecoding) {
  struct Case {
    uint32_t code;
    FileAccess access;
    FileSharing sharing;
    FileDisposition disposition;
  };
  const Case cases[] = {
      {0x142, RW, kNone, FileDisposition::kOpenAlways},
      {0x42, RW, kNone, FileDisposition::kOpenExisting},
      {0x22, RW, kDenyW, FileDisposition::kOpenExisting},
      {0x40, R, kNone, FileDisposition::kOpenExisting},
      {0x10, R, kExcl, FileDisposition::kOpenExisting},
      {0x32, RW, kExcl, FileDisposition::kOpenExisting},
      {0x342, RW, kNone, FileDisposition::kCreateAnew},
  };
  for (const Case& c : cases) {
    const FileOpenMode m = decode_open_mode(c.code);
    EXPECT_EQ(m.access, c.access) << std::hex << c.code;
    EXPECT_EQ(m.sharing, c.sharing) << std::hex << c.code;
    EXPECT_EQ(m.disposition, c.disposition) << std::hex << c.code;
  }
}

TEST_F(FileHandleTest, ReadWriteAtLargeOffsetsAndResize) {
  FileHandle h;
  ASSERT_TRUE(h.open(path("big.dat"), mode(RW, kNone)));
  const uint64_t far = 0x1'0000'0100ull;  // beyond 4 GiB: the file is sparse
  size_t n = 0;
  ASSERT_TRUE(h.write_at(far, bytes("tail"), n));
  EXPECT_EQ(n, 4u);
  uint64_t size = 0;
  ASSERT_TRUE(h.size(size));
  EXPECT_EQ(size, far + 4);
  std::vector<uint8_t> buffer(8, 0xEE);
  ASSERT_TRUE(h.read_at(far - 2, buffer, n));
  EXPECT_EQ(n, 6u);  // short at the end of the file
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 6), std::string("\0\0tail", 6));
  ASSERT_TRUE(h.set_size(2));
  ASSERT_TRUE(h.size(size));
  EXPECT_EQ(size, 2u);
  ASSERT_TRUE(h.flush());

  FileHandle ro;
  ASSERT_TRUE(ro.open(path("big.dat"), mode(R, kNone)));
  EXPECT_FALSE(ro.write_at(0, bytes("x"), n));
  EXPECT_EQ(last_error(), kErrorAccessDenied);
  EXPECT_FALSE(ro.set_size(0));
  ro.close();
  EXPECT_FALSE(ro.read_at(0, buffer, n));
  EXPECT_EQ(last_error(), kErrorInvalidHandle);
}

TEST_F(FileHandleTest, ByteLocksBetweenHandles) {
  const std::string name = path("locks.dat");
  const uint64_t base = 0x8000'0000ull;
  const uint64_t top_hold = base + 1024 + 0xFFFF'FFFFull + 1;  // highest hold byte
  struct Case {
    FileAccess a, b;
    uint64_t a_offset, a_length, b_offset, b_length;
    bool b_locks;
  };
  const Case cases[] = {
      {RW, RW, base + 1023, 1, base + 1023, 1, false},  // writer byte taken twice
      {RW, RW, base + 5, 1, base, 1023, false},         // a flush waits for a reader slot
      {RW, RW, base + 5, 1, base + 6, 1, true},         // different slots
      {RW, RW, top_hold, 1, top_hold, 1, false},
      {R, R, base + 5, 1, base + 5, 1, true},   // read-only handles share a slot
      {R, RW, base + 5, 1, base, 1023, false},  // ...but keep the flushing writer out
      {RW, R, base + 40, 1, base + 40, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.a_offset << " / " << c.b_offset);
    FileHandle a, b;
    ASSERT_TRUE(a.open(name, mode(c.a, kNone)));
    ASSERT_TRUE(b.open(name, mode(c.b, kNone)));
    ASSERT_TRUE(a.lock(c.a_offset, c.a_length));
    EXPECT_EQ(b.lock(c.b_offset, c.b_length), c.b_locks);
    if (!c.b_locks) {
      EXPECT_EQ(last_error(), kErrorLockViolation);
      ASSERT_TRUE(a.unlock(c.a_offset, c.a_length));
      EXPECT_TRUE(b.lock(c.b_offset, c.b_length));
    }
  }
}

TEST_F(FileHandleTest, LockRulesOfOneHandle) {
  FileHandle h, other;
  ASSERT_TRUE(h.open(path("own.dat"), mode(RW, kNone)));
  ASSERT_TRUE(other.open(path("own.dat"), mode(RW, kNone)));
  ASSERT_TRUE(h.lock(100, 10));
  EXPECT_FALSE(h.lock(105, 1));  // overlapping its own lock, as on Windows
  EXPECT_EQ(last_error(), kErrorLockViolation);
  EXPECT_FALSE(h.unlock(100, 5));  // only the exact range can be unlocked
  EXPECT_EQ(last_error(), kErrorNotLocked);
  EXPECT_FALSE(h.lock(kReservedLockBase, 1));
  EXPECT_EQ(last_error(), kErrorInvalidParameter);
  EXPECT_FALSE(other.lock(109, 1));
  h.close();  // closing drops the locks
  EXPECT_TRUE(other.lock(109, 1));
}

TEST_F(FileHandleTest, LocksAcrossProcesses) {
  FileHandle parent;
  ASSERT_TRUE(parent.open(path("plock.dat"), mode(RW, kNone)));
  ASSERT_TRUE(parent.lock(0x8000'0000ull + 7, 1));
  const pid_t pid = fork();
  if (pid == 0) {
    FileHandle h;
    if (!h.open(path("plock.dat"), mode(RW, kNone))) _exit(100);
    const bool conflicting = h.lock(0x8000'0000ull + 7, 1);
    const uint32_t error = last_error();
    const bool free_one = h.lock(0x8000'0000ull + 8, 1);
    _exit(!conflicting && error == kErrorLockViolation && free_one ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FileHandleTest, DeleteRenameCopy) {
  const std::string a = path("a.dat"), b = path("b.dat"), c = path("c.dat");
  FileHandle h;
  ASSERT_TRUE(h.open(a, mode(RW, kNone)));
  size_t n = 0;
  ASSERT_TRUE(h.write_at(0, bytes("contents"), n));
  EXPECT_FALSE(delete_file(a));
  EXPECT_EQ(last_error(), kErrorSharingViolation);
  EXPECT_FALSE(rename_file(a, b, false));
  EXPECT_EQ(last_error(), kErrorSharingViolation);
  EXPECT_TRUE(copy_file(a, c, false));  // a copy only reads the source
  h.close();
  EXPECT_FALSE(copy_file(a, c, false));
  EXPECT_EQ(last_error(), kErrorFileExists);
  EXPECT_TRUE(rename_file(a, b, false));
  EXPECT_FALSE(rename_file(c, b, false));
  EXPECT_EQ(last_error(), kErrorFileExists);
  EXPECT_TRUE(rename_file(c, b, true));
  ASSERT_TRUE(h.open(b, mode(R, kNone, FileDisposition::kOpenExisting)));
  EXPECT_EQ(read_all(h), "contents");
  h.close();
  EXPECT_TRUE(delete_file(b));
  EXPECT_FALSE(delete_file(b));
  EXPECT_EQ(last_error(), kErrorFileNotFound);
}

}  // namespace
}  // namespace vtn::platform
