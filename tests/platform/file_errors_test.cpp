// Failures of the file services: the Windows error number each one records, and that none of
// them leaves a descriptor behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"
#include "support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

namespace fs = std::filesystem;

constexpr FileOpenMode kReadExisting{FileAccess::kRead, FileSharing::kDenyNone,
                                     FileDisposition::kOpenExisting, false};
constexpr FileOpenMode kWriteAlways{FileAccess::kReadWrite, FileSharing::kDenyNone,
                                    FileDisposition::kOpenAlways, false};
constexpr FileOpenMode kExclusiveAnew{FileAccess::kReadWrite, FileSharing::kExclusive,
                                      FileDisposition::kCreateAnew, false};

int open_descriptor_count() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

class FileErrorsTest : public testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override {
    FileHandle h;
    ASSERT_TRUE(h.open(path("data.dat"), kWriteAlways));
    size_t n = 0;
    const uint8_t text[] = {'d', 'a', 't', 'a'};
    ASSERT_TRUE(h.write_at(0, text, n));
  }
  void TearDown() override { fault::disarm(); }
};

TEST_F(FileErrorsTest, EveryFailureRecordsItsWindowsError) {
  const std::string data = path("data.dat");
  FileHandle holder;  // keeps data.dat open, writable, locked at 0x80000010
  ASSERT_TRUE(holder.open(data, kWriteAlways));
  ASSERT_TRUE(holder.lock(0x8000'0010ull, 1));
  FileHandle reader;
  ASSERT_TRUE(reader.open(data, kReadExisting));
  FileHandle closed;
  const std::string other = path("other.dat");
  ASSERT_TRUE(FileHandle().open(other, kWriteAlways));
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);

  uint8_t buffer[4] = {};
  size_t n = 0;
  struct Case {
    const char* what;
    std::function<bool()> call;
    uint32_t error;
  };
  const std::vector<Case> cases = {
      {"open a missing file", [&] { return FileHandle().open(path("none"), kReadExisting); }, 2},
      {"open in a missing directory",
       [&] { return FileHandle().open(path("nodir/x"), kWriteAlways); }, 3},
      {"open below a plain file", [&] { return FileHandle().open(data + "/x", kReadExisting); }, 3},
      {"open a directory", [&] { return FileHandle().open(dir_.string(), kReadExisting); }, 5},
      {"open a FIFO", [&] { return FileHandle().open(path("fifo"), kReadExisting); }, 5},
      {"open against a writer", [&] { return FileHandle().open(data, kExclusiveAnew); }, 32},
      {"write through a reader", [&] { return reader.write_at(0, buffer, n); }, 5},
      {"resize through a reader", [&] { return reader.set_size(0); }, 5},
      {"read a closed handle", [&] { return closed.read_at(0, buffer, n); }, 6},
      {"flush a closed handle", [&] { return closed.flush(); }, 6},
      {"size of a closed handle",
       [&] {
         uint64_t size = 0;
         return closed.size(size);
       },
       6},
      {"lock a closed handle", [&] { return closed.lock(0x8000'0000ull, 1); }, 6},
      {"lock a byte held elsewhere", [&] { return reader.lock(0x8000'0010ull, 1); }, 33},
      {"lock nothing", [&] { return reader.lock(0x8000'0000ull, 0); }, 87},
      {"unlock what is not locked", [&] { return reader.unlock(0x8000'0010ull, 1); }, 158},
      {"delete an open file", [&] { return delete_file(data); }, 32},
      {"delete a missing file", [&] { return delete_file(path("none")); }, 2},
      {"delete in a missing directory", [&] { return delete_file(path("nodir/x")); }, 3},
      {"delete a directory", [&] { return delete_file(dir_.string()); }, 5},
      {"rename a missing file", [&] { return rename_file(path("none"), path("y"), false); }, 2},
      {"rename from a missing directory",
       [&] { return rename_file(path("nodir/x"), path("y"), false); }, 3},
      {"rename an open file", [&] { return rename_file(data, path("y"), false); }, 32},
      {"copy a missing file", [&] { return copy_file(path("none"), path("y"), false); }, 2},
      {"copy a FIFO", [&] { return copy_file(path("fifo"), path("y"), false); }, 5},
      {"copy onto an open file", [&] { return copy_file(other, data, true); }, 32},
      {"copy into a missing directory", [&] { return copy_file(data, path("nodir/y"), false); }, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set_last_error(0);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(last_error(), c.error);
  }
  // Nothing above changed the file.
  reader.read_at(0, buffer, n);
  EXPECT_EQ(std::string(buffer, buffer + n), "data");
}

TEST_F(FileErrorsTest, RenameIntoAMissingDirectory) {
  const std::string source = path("move.dat");
  {
    FileHandle h;
    ASSERT_TRUE(h.open(source, kWriteAlways));
  }
  set_last_error(0);
  EXPECT_FALSE(rename_file(source, path("nodir/y"), false));
  EXPECT_EQ(last_error(), kErrorPathNotFound);
  EXPECT_TRUE(file_exists(source));
}

TEST_F(FileErrorsTest, FailedOpensLeaveNoDescriptorBehind) {
  const std::string data = path("data.dat");
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  FileHandle writer;
  ASSERT_TRUE(writer.open(data, kWriteAlways));
  const int before = open_descriptor_count();
  ASSERT_GT(before, 0);
  for (int round = 0; round < 20; ++round) {
    FileHandle h;
    EXPECT_FALSE(h.open(data, kExclusiveAnew));  // sharing violation after the system open
    EXPECT_FALSE(h.open(dir_.string(), kReadExisting));
    EXPECT_FALSE(h.open(path("fifo"), kReadExisting));
    EXPECT_FALSE(h.open(path("none"), kReadExisting));
    EXPECT_FALSE(delete_file(data));  // looks for other handles through a descriptor of its own
    EXPECT_FALSE(copy_file(data, data, true));
  }
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(FileErrorsTest, DescriptorsAreNotInheritedByPrograms) {
  FileHandle h;
  ASSERT_TRUE(h.open(path("data.dat"), kWriteAlways));
  // Find the handle's descriptor among the process's and check its close-on-exec flag.
  int found = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(entry.path(), ec);
    if (ec || target != fs::path(path("data.dat"))) continue;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    ++found;
  }
  EXPECT_EQ(found, 1);
}

TEST_F(FileErrorsTest, TooManyOpenFilesIsError4) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit limit{32, 32};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(100);
    std::vector<FileHandle> handles(64);
    for (FileHandle& h : handles) {
      if (!h.open(path("data.dat"), kWriteAlways)) _exit(static_cast<int>(last_error()));
    }
    _exit(101);  // the limit never bit
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), int(kErrorTooManyOpenFiles));
}

TEST_F(FileErrorsTest, ReadsAtAndPastTheEnd) {
  FileHandle h;
  ASSERT_TRUE(h.open(path("data.dat"), kReadExisting));
  struct Case {
    uint64_t offset;
    size_t asked, got;
  };
  constexpr Case kCases[] = {{0, 4, 4}, {0, 10, 4}, {3, 4, 1}, {4, 4, 0}, {0x1'0000'0000ull, 4, 0}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.offset);
    std::vector<uint8_t> buffer(c.asked);
    size_t got = 99;
    EXPECT_TRUE(h.read_at(c.offset, buffer, got));
    EXPECT_EQ(got, c.got);
  }
}

TEST_F(FileErrorsTest, AFullDiskFailsTheWriteAndSaysHowMuchWasStored) {
  // A file size limit stands in for a full disk: the system stores what fits, then refuses.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    FileHandle h;
    if (!h.open(path("full.dat"), kWriteAlways)) _exit(101);
    const std::vector<uint8_t> bytes(1500, 'x');
    size_t n = 0;
    set_last_error(0);
    if (h.write_at(0, bytes, n)) _exit(102);  // part of a write is not success
    if (n != 1000) _exit(103);
    if (last_error() != kErrorHandleDiskFull) _exit(104);
    if (h.set_size(2000) || last_error() != kErrorHandleDiskFull) _exit(105);
    uint64_t size = 0;
    if (!h.size(size) || size != 1000) _exit(106);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vtn::platform
