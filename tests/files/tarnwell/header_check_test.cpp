// The header check at the start of every access of a shared file, through the mapping of the
// file's first page and through a read, on the same steps (each test runs once per path): another
// process flushes, empties the file and fills it anew, cuts it short; an encrypted file; a handle
// watched by fault injection; many files open at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/page_store.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/mapped_view.hpp"
#include "runtime/platform/system_error.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"
#include "tests/platform/coherent_directory.hpp"

namespace vtn::tarnwell {
namespace {

using namespace locking_test;
using Values = std::map<uint32_t, uint32_t>;

class HeaderCheckTest : public testing_support::ScratchDirectoryTest,
                        public ::testing::WithParamInterface<bool> {
 protected:
  bool mapped() const { return GetParam(); }

  void SetUp() override {
    if (!dir.usable()) GTEST_SKIP() << "no file system here keeps a shared mapping coherent";
    platform::set_mapping_enabled(mapped());
    name = dir.path("H.TWL");
  }
  void TearDown() override { platform::set_mapping_enabled(true); }

  // Every (number, value) of the file, read in one access; the access's result in `error`.
  static Values values(RecordFile& f, int32_t& error) {
    Values out;
    error = f.begin_access(AccessMode::read, true);
    if (error != 0) return out;
    Bytes last;
    for (auto r = f.find_first_after({}); r; r = f.find_first_after(last)) {
      last.assign(r->key().begin(), r->key().end());
      out[uint32_t{last[0]} << 24 | uint32_t{last[1]} << 16 | uint32_t{last[2]} << 8 | last[3]] =
          value_of(r->data());
    }
    f.end_access();
    return out;
  }
  static Values values(RecordFile& f) {
    int32_t error = 0;
    Values v = values(f, error);
    EXPECT_EQ(error, 0);
    return v;
  }

  // Writes each (number, value) in an access of its own: one flush each, the counter advancing.
  static int32_t put_each(RecordFile& f, const Values& v) {
    for (const auto& [n, value] : v) {
      if (int32_t e = f.begin_access(AccessMode::write, true)) return e;
      if (!f.replace_record(key_of(n), value_bytes(value))) {
        f.insert_record(key_of(n), value_bytes(value));
      }
      if (int32_t e = f.end_access()) return e;
    }
    return 0;
  }

  // Whether the reader's check looks through a mapping (as it should exactly when mapping is on).
  static bool looks_through_mapping(RecordFile& f) { return f.store().header_view.mapped(); }

  testing_support::CoherentDirectory dir{dir_};
  std::string name;
};

INSTANTIATE_TEST_SUITE_P(BothPaths, HeaderCheckTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mapped" : "read"; });

// Another process flushes; then it empties the file (create anew) and fills it with fewer flushes
// than this process has seen, so that the new counter is below the old one: the reader must not
// keep its cache of the old file.
TEST_P(HeaderCheckTest, ChangesByAnotherProcessAreSeen) {
  for (const std::string password : {"", "secret"}) {
    SCOPED_TRACE(password.empty() ? "plain" : "encrypted");
    std::remove(name.c_str());
    RecordFile* f = nullptr;
    ASSERT_EQ(open_record_file(name, kShared, password, f), 0);
    Values first;
    for (uint32_t n = 1; n <= 30; ++n) first[n] = n * 10;
    ASSERT_EQ(put_each(*f, first), 0);
    EXPECT_EQ(values(*f), first);
    EXPECT_EQ(looks_through_mapping(*f), mapped());
    const uint32_t counter_before = f->header().change_counter;

    Signal step, go_on;
    const std::string other = own_name(name);
    const pid_t child = spawn([&] {
      RecordFile* g = nullptr;
      if (open_record_file(other, kShared, password, g) != 0) return 1;
      if (put_each(*g, {{7, 777}, {31, 310}}) != 0) return 2;
      close_record_file(g);
      step.notify();
      go_on.wait();
      if (open_record_file(other, kShared | 0x200, password, g) != 0) return 3;  // create anew
      step.notify();
      go_on.wait();
      const int32_t put = put_each(*g, {{100, 1}, {101, 2}});
      close_record_file(g);
      return put == 0 ? 0 : 4;
    });
    ASSERT_TRUE(step.wait());
    Values changed = first;
    changed[7] = 777;
    changed[31] = 310;
    EXPECT_EQ(values(*f), changed);
    EXPECT_GT(f->header().change_counter, counter_before);
    go_on.notify();

    ASSERT_TRUE(step.wait());  // the file has 0 bytes now
    EXPECT_EQ(values(*f), Values{});
    go_on.notify();
    ASSERT_EQ(wait_for(child), 0);
    EXPECT_EQ(values(*f), (Values{{100, 1}, {101, 2}}));
    EXPECT_LT(f->header().change_counter, counter_before);
    close_record_file(f);
  }
}

void cut_to(const std::string& name, off_t size) {
  ASSERT_EQ(truncate(name.c_str(), size), 0);
}

// Another program cuts the file short while it is open. A write access refuses a file cut within
// its header, on either path; an emptied file is a new, empty file to both kinds of access.
TEST_P(HeaderCheckTest, AFileCutShort) {
  struct Case {
    off_t size;
    AccessMode mode;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {0, AccessMode::read, 0},
      {0, AccessMode::write, 0},
      {300, AccessMode::write, kNotAFile},
      {100, AccessMode::write, kNotAFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.mode == AccessMode::read ? " read" : " write"));
    std::remove(name.c_str());
    RecordFile* f = nullptr;
    ASSERT_EQ(open_record_file(name, kShared, "", f), 0);
    ASSERT_EQ(put_each(*f, {{1, 1}, {2, 2}}), 0);
    EXPECT_EQ(values(*f).size(), 2u);
    cut_to(name, c.size);
    EXPECT_EQ(f->begin_access(c.mode, true), c.result);
    if (c.result == 0) {
      EXPECT_FALSE(f->find_exact(key_of(1)).has_value());
      EXPECT_EQ(f->end_access(), 0);
    }
    EXPECT_FALSE(f->in_access());
    close_record_file(f);
  }
}

// A handle opened while fault injection is armed is never mapped: after a simulated crash its
// accesses fail as a dead handle's, on either path.
TEST_P(HeaderCheckTest, AHandleWatchedByFaultInjection) {
  RecordFile* f = nullptr;
  platform::fault::arm({});
  ASSERT_EQ(open_record_file(name, kShared, "", f), 0);
  ASSERT_EQ(put_each(*f, {{1, 1}}), 0);
  EXPECT_EQ(values(*f).size(), 1u);
  EXPECT_FALSE(looks_through_mapping(*f));
  platform::fault::simulate_crash(platform::fault::CrashMode::kLoseAll);
  EXPECT_EQ(f->begin_access(AccessMode::read, true),
            static_cast<int32_t>(platform::kErrorInvalidHandle));
  platform::fault::disarm();
  close_record_file(f);
}

size_t mappings_of(const std::string& prefix) {
  std::ifstream maps("/proc/self/maps");
  size_t count = 0;
  for (std::string line; std::getline(maps, line);) {
    count += line.find(prefix) != std::string::npos;
  }
  return count;
}

// One mapping per open physical file, gone when the file is closed.
TEST_P(HeaderCheckTest, ManyFilesOpenAtOnce) {
  constexpr uint32_t kFiles = 200;
  const std::string prefix = dir.path("M");
  std::vector<RecordFile*> files;
  for (uint32_t i = 0; i < kFiles; ++i) {
    RecordFile* f = nullptr;
    ASSERT_EQ(open_record_file(prefix + std::to_string(i) + ".TWL", kShared, "", f), 0);
    ASSERT_EQ(put_each(*f, {{i, i}}), 0);
    files.push_back(f);
  }
  for (uint32_t i = 0; i < kFiles; ++i) {
    EXPECT_EQ(values(*files[i]), (Values{{i, i}}));
  }
  // The same file opened again in this process shares the one RecordFile and its mapping.
  RecordFile* again = nullptr;
  ASSERT_EQ(open_record_file(prefix + "0.TWL", kShared, "", again), 0);
  EXPECT_EQ(again, files[0]);
  EXPECT_EQ(mappings_of(prefix), mapped() ? kFiles : 0);
  close_record_file(again);
  for (RecordFile* f : files) close_record_file(f);
  EXPECT_EQ(mappings_of(prefix), 0u);
}

}  // namespace
}  // namespace vtn::tarnwell
