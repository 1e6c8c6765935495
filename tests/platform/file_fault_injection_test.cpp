#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"
#include "support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

namespace fs = std::filesystem;

class FaultInjectionTest : public testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override { name_ = path("f.dat"); }
  void TearDown() override { fault::disarm(); }

  void open(FileHandle& h) {
    ASSERT_TRUE(h.open(name_, FileOpenMode{FileAccess::kReadWrite, FileSharing::kDenyNone,
                                           FileDisposition::kOpenAlways, false}));
  }
  static bool write(FileHandle& h, uint64_t offset, std::string_view text, size_t* n = nullptr) {
    size_t put = 0;
    const bool ok = h.write_at(
        offset, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), put);
    if (n) *n = put;
    return ok;
  }
  std::string contents() const {
    FileHandle h;
    EXPECT_TRUE(h.open(name_, FileOpenMode{}));
    uint64_t size = 0;
    EXPECT_TRUE(h.size(size));
    std::string text(size, '\0');
    size_t got = 0;
    EXPECT_TRUE(h.read_at(0, std::span(reinterpret_cast<uint8_t*>(text.data()), size), got));
    return text;
  }

  std::string name_;
};

TEST_F(FaultInjectionTest, FailsAndShortensTheChosenWritesAndFlushes) {
  fault::Plan plan;
  plan.fail_write = 2;
  plan.short_write = 3;
  plan.fail_flush = 1;
  fault::arm(plan);
  FileHandle h;
  open(h);
  size_t n = 99;
  EXPECT_TRUE(write(h, 0, "AAAA", &n));
  EXPECT_EQ(n, 4u);
  EXPECT_FALSE(write(h, 4, "BBBB", &n));
  EXPECT_EQ(last_error(), 39u);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(write(h, 4, "CCCCCC", &n));  // short: reported as success with fewer bytes
  EXPECT_EQ(n, 3u);
  EXPECT_FALSE(h.flush());
  EXPECT_EQ(last_error(), 31u);
  EXPECT_TRUE(h.flush());
  EXPECT_EQ(fault::writes_seen(), 3u);
  EXPECT_EQ(fault::flushes_seen(), 2u);
  EXPECT_EQ(contents(), "AAAACCC");
}

TEST_F(FaultInjectionTest, CrashLosesEverythingNotFlushed) {
  {
    FileHandle h;
    open(h);
    ASSERT_TRUE(write(h, 0, "old contents"));
    ASSERT_TRUE(h.flush());
  }
  fault::arm({});
  FileHandle h;
  open(h);
  ASSERT_TRUE(write(h, 0, "new"));
  ASSERT_TRUE(h.flush());  // durable
  ASSERT_TRUE(write(h, 4, "CONTENTS and more"));
  ASSERT_TRUE(h.set_size(6));
  ASSERT_TRUE(write(h, 20, "far"));
  ASSERT_TRUE(h.lock(0x8000'0000ull, 1));
  EXPECT_EQ(fault::simulate_crash(fault::CrashMode::kLoseAll), 3u);
  EXPECT_EQ(contents(), "new contents");

  // The crashed handle is dead, and its locks and sharing died with it.
  size_t n = 0;
  EXPECT_FALSE(write(h, 0, "x", &n));
  EXPECT_EQ(last_error(), kErrorInvalidHandle);
  FileHandle other;
  ASSERT_TRUE(other.open(name_, FileOpenMode{FileAccess::kReadWrite, FileSharing::kExclusive,
                                             FileDisposition::kOpenExisting, false}));
  EXPECT_TRUE(other.lock(0x8000'0000ull, 1));
}

TEST_F(FaultInjectionTest, TornCrashKeepsEachWriteWholeOrNotAtAll) {
  // Four non-overlapping 64-byte writes after a flush; every torn outcome must show each block
  // either entirely old or entirely new, and over many seeds both outcomes must occur.
  std::vector<int> seen_new(4, 0);
  const int kRuns = 40;
  for (int seed = 1; seed <= kRuns; ++seed) {
    fs::remove(name_);
    fault::arm({});
    {
      FileHandle h;
      open(h);
      ASSERT_TRUE(write(h, 0, std::string(256, 'o')));
      ASSERT_TRUE(h.flush());
      for (int block = 0; block < 4; ++block) {
        ASSERT_TRUE(write(h, block * 64, std::string(64, char('a' + block))));
      }
      fault::simulate_crash(fault::CrashMode::kTear, static_cast<uint32_t>(seed));
    }
    const std::string text = contents();
    ASSERT_EQ(text.size(), 256u);
    for (int block = 0; block < 4; ++block) {
      const std::string part = text.substr(block * 64, 64);
      const bool is_new = part == std::string(64, char('a' + block));
      EXPECT_TRUE(is_new || part == std::string(64, 'o')) << "seed " << seed;
      seen_new[block] += is_new;
    }
    fault::disarm();
  }
  for (int block = 0; block < 4; ++block) {
    EXPECT_GT(seen_new[block], 0);
    EXPECT_LT(seen_new[block], kRuns);
  }
}

TEST_F(FaultInjectionTest, TornCrashCutsLongWritesAtSectors) {
  // One 2,048-byte write starting 256 bytes into a sector: pieces 256, 512, 512, 512, 256.
  // Each piece must be entirely old or new; over many seeds some outcomes must mix them.
  const std::vector<std::pair<size_t, size_t>> pieces = {
      {256, 256}, {512, 512}, {1024, 512}, {1536, 512}, {2048, 256}};
  int mixed = 0;
  for (int seed = 1; seed <= 30; ++seed) {
    fs::remove(name_);
    fault::arm({});
    {
      FileHandle h;
      open(h);
      ASSERT_TRUE(write(h, 0, std::string(2560, 'o')));
      ASSERT_TRUE(h.flush());
      ASSERT_TRUE(write(h, 256, std::string(2048, 'n')));
      fault::simulate_crash(fault::CrashMode::kTear, static_cast<uint32_t>(seed));
    }
    const std::string text = contents();
    ASSERT_EQ(text.size(), 2560u);
    EXPECT_EQ(text.substr(0, 256), std::string(256, 'o'));
    int new_pieces = 0;
    for (const auto& [offset, length] : pieces) {
      const std::string part = text.substr(offset, length);
      const bool is_new = part == std::string(length, 'n');
      EXPECT_TRUE(is_new || part == std::string(length, 'o')) << "seed " << seed;
      new_pieces += is_new;
    }
    mixed += new_pieces > 0 && new_pieces < 5;
    fault::disarm();
  }
  EXPECT_GT(mixed, 0);
}

TEST_F(FaultInjectionTest, FlushOfAnotherHandleMakesTheFileDurable) {
  fault::arm({});
  FileHandle writer, flusher;
  open(writer);
  open(flusher);
  ASSERT_TRUE(write(writer, 0, "kept"));
  ASSERT_TRUE(flusher.flush());
  ASSERT_TRUE(write(writer, 4, " lost"));
  EXPECT_EQ(fault::simulate_crash(fault::CrashMode::kLoseAll), 1u);
  EXPECT_EQ(contents(), "kept");
}

TEST_F(FaultInjectionTest, FailingEachWriteOfASequenceKeepsExactlyTheEarlierOnes) {
  // Five writes of one block each, as a flush writes its pages; failing the n-th one must leave
  // blocks 1..n-1 new and the rest old, and after a crash only what was flushed before survives.
  const std::string old_text(5 * 64, '.');
  for (uint32_t n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    {
      FileHandle h;
      open(h);
      ASSERT_TRUE(h.set_size(0));
      ASSERT_TRUE(write(h, 0, old_text));
      ASSERT_TRUE(h.flush());
    }
    fault::Plan plan;
    plan.fail_write = n;
    fault::arm(plan);
    FileHandle h;
    open(h);
    uint32_t failed_at = 0;
    for (uint32_t block = 1; block <= 5; ++block) {
      if (!write(h, (block - 1) * 64, std::string(64, char('0' + block)))) {
        failed_at = block;
        break;
      }
    }
    EXPECT_EQ(failed_at, n);
    std::string expected = old_text;
    for (uint32_t block = 1; block < n; ++block) {
      expected.replace((block - 1) * 64, 64, std::string(64, char('0' + block)));
    }
    EXPECT_EQ(contents(), expected);
    fault::simulate_crash(fault::CrashMode::kLoseAll);
    EXPECT_EQ(contents(), old_text);
    fault::disarm();
  }
}

TEST_F(FaultInjectionTest, CrashedHandlesStayDeadUntilClosed) {
  fault::arm({});
  FileHandle h;
  open(h);
  ASSERT_TRUE(write(h, 0, "before"));
  fault::simulate_crash(fault::CrashMode::kLoseAll);
  uint8_t buffer[4];
  size_t n = 0;
  const auto dead = [&] {
    set_last_error(0);
    return !write(h, 0, "x") && last_error() == kErrorInvalidHandle && !h.read_at(0, buffer, n) &&
           !h.flush() && !h.lock(0x8000'0000ull, 1);
  };
  EXPECT_TRUE(dead());
  fault::disarm();
  EXPECT_TRUE(dead()) << "after disarming";
  fault::arm({});
  EXPECT_TRUE(dead()) << "after arming again";
  EXPECT_EQ(contents(), "");
  h.close();
  open(h);
  EXPECT_TRUE(write(h, 0, "after"));
}

TEST_F(FaultInjectionTest, CrashUndoesEveryKindOfChange) {
  // Each script runs on a file whose durable contents are "0123456789"; W writes text at an
  // offset, S sets the size, C closes the handle (its writes still sit in the cache), N reopens
  // it creating the file anew, F flushes. A crash must leave exactly what the last flush made
  // durable.
  struct Step {
    char op;
    uint64_t at;
    const char* text;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"write past the end, leaving a gap", {{'W', 20, "xx"}}, "0123456789"},
      {"shrink, then write", {{'S', 3, ""}, {'W', 1, "AB"}}, "0123456789"},
      {"grow, then write in the new part", {{'S', 30, ""}, {'W', 25, "zz"}}, "0123456789"},
      {"write, shrink below it, write",
       {{'W', 8, "WXYZ"}, {'S', 5, ""}, {'W', 2, "q"}},
       "0123456789"},
      {"created anew, then written", {{'N', 0, ""}, {'W', 0, "new"}}, "0123456789"},
      {"written and closed", {{'W', 0, "AB"}, {'C', 0, ""}}, "0123456789"},
      {"flushed, then written", {{'W', 0, "AB"}, {'F', 0, ""}, {'W', 4, "CD"}}, "AB23456789"},
      {"shrunk and flushed, then grown", {{'S', 4, ""}, {'F', 0, ""}, {'W', 6, "!"}}, "0123"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      FileHandle h;
      open(h);
      ASSERT_TRUE(h.set_size(0));
      ASSERT_TRUE(write(h, 0, "0123456789"));
      ASSERT_TRUE(h.flush());
    }
    fault::arm({});
    FileHandle h;
    open(h);
    for (const Step& step : c.steps) {
      switch (step.op) {
        case 'W':
          if (!h.is_open()) open(h);
          ASSERT_TRUE(write(h, step.at, step.text));
          break;
        case 'S':
          ASSERT_TRUE(h.set_size(step.at));
          break;
        case 'C':
          h.close();
          break;
        case 'N':
          h.close();
          ASSERT_TRUE(h.open(name_, FileOpenMode{FileAccess::kReadWrite, FileSharing::kDenyNone,
                                                 FileDisposition::kCreateAnew, false}));
          ASSERT_EQ(contents(), "");
          break;
        case 'F':
          ASSERT_TRUE(h.flush());
          break;
      }
    }
    fault::simulate_crash(fault::CrashMode::kLoseAll);
    EXPECT_EQ(contents(), c.expected);
    fault::disarm();
  }
}

TEST_F(FaultInjectionTest, FailedFlushesAndShortWritesMakeNothingDurable) {
  {
    FileHandle h;
    open(h);
    ASSERT_TRUE(write(h, 0, "durable."));
    ASSERT_TRUE(h.flush());
  }
  fault::Plan plan;
  plan.short_write = 1;
  plan.fail_flush = 1;
  plan.flush_error = 29;
  fault::arm(plan);
  FileHandle h;
  open(h);
  size_t n = 0;
  ASSERT_TRUE(write(h, 0, "SHORTxxx", &n));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(contents(), "SHORble.");
  EXPECT_FALSE(h.flush());
  EXPECT_EQ(last_error(), 29u);
  EXPECT_EQ(fault::simulate_crash(fault::CrashMode::kLoseAll), 1u);
  EXPECT_EQ(contents(), "durable.");
}

TEST_F(FaultInjectionTest, UnarmedHandlesAreLeftAlone) {
  // A handle opened before arming is neither counted as journalled nor killed by a crash.
  FileHandle early;
  open(early);
  ASSERT_TRUE(write(early, 0, "plain"));
  fault::arm({});
  ASSERT_TRUE(write(early, 5, " more"));
  EXPECT_EQ(fault::writes_seen(), 1u);
  EXPECT_EQ(fault::simulate_crash(fault::CrashMode::kLoseAll), 0u);
  EXPECT_EQ(contents(), "plain more");
  EXPECT_TRUE(write(early, 0, "P"));
  fault::disarm();
  ASSERT_TRUE(write(early, 1, "L"));
  EXPECT_EQ(fault::simulate_crash(fault::CrashMode::kLoseAll), 0u);
  EXPECT_EQ(contents(), "PLain more");
}

}  // namespace
}  // namespace vtn::platform
