// PACK cuts a record file back to its used space: the file shrinks after many deletions, the
// checker passes, every record and both keys are intact, and a process that keeps the file open
// and reads it throughout (before, during and after the cut) reads every record correctly.
// Below, the cut of the page store itself: crashes around it, and growth after it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/values/error_state.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"
#include "tests/support/scratch_directory.hpp"

namespace vtn {
namespace {

using tarnwell::locking_test::spawn;
using tarnwell::locking_test::wait_for;

#pragma pack(push, 1)
struct Item {
  int32_t number;
  char name[40];
  char path[120];
};
#pragma pack(pop)

constexpr int kRecords = 3000;
constexpr int kKeptEvery = 10;  // records whose number is a multiple of this survive
constexpr int kKept = kRecords / kKeptEvery;

FileDeclaration items(const std::string& name) {
  return FileDeclaration("ITM")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .field("NUMBER", ftype::LONG)
      .field("NAME", ftype::STRING(40))
      .field("PATH", ftype::STRING(120))
      .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY | KA_OPT)
      .key("BY_NAME", {"NAME"}, KA_DUP | KA_OPT);
}

std::string name_of(int n) {
  // Names sort in another order than numbers, so the second key is a real second order.
  return "item " + std::to_string((n * 7919) % 10007) + "-" + std::to_string(n);
}

Item item(int n) {
  Item r;
  r.number = n;
  std::memset(r.name, ' ', sizeof r.name);
  std::memset(r.path, ' ', sizeof r.path);
  const std::string name = name_of(n);
  std::memcpy(r.name, name.data(), name.size());
  const std::string path = "/srv/items/" + std::to_string(n);
  std::memcpy(r.path, path.data(), path.size());
  return r;
}

void fill(File& f, int n) {
  f.record_as<Item>() = item(n);
}

bool matches(File& f) {
  const Item& r = f.record_as<Item>();
  const Item expected = item(r.number);
  return std::memcmp(&r, &expected, sizeof(Item)) == 0;
}

// Reads the whole table in number order: the count of correct records, or -1 at the first wrong
// one (a read error, a record out of order or with other contents).
int read_all_by_number(File& f) {
  f.record_as<Item>().number = 0;
  SET(f.key("BY_NUMBER"), f.key("BY_NUMBER"));
  if (ERRORNUMBER() != 0) return -1;
  int count = 0, previous = -1;
  for (;;) {
    NEXT(f);
    if (ERRORNUMBER() == 33) return count;
    if (ERRORNUMBER() != 0) return -1;
    const int n = f.record_as<Item>().number;
    if (n <= previous || n % kKeptEvery != 0 || !matches(f)) return -1;
    previous = n;
    ++count;
  }
}

class PackCutTest : public testing_support::ScratchDirectoryTest {
 protected:
  std::string table() const { return (dir_ / "ITEMS.TWL").string(); }

  void create_and_thin_out() {
    File f{items(table())};
    CREATE(f);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    OPEN(f, kReadWriteDenyWrite);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    LOGOUT(0, {f});
    for (int n = 1; n <= kRecords; ++n) {
      fill(f, n);
      ADD(f);
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    COMMIT();
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    LOGOUT(0, {f});
    for (int n = 1; n <= kRecords; ++n) {
      if (n % kKeptEvery == 0) continue;
      f.record_as<Item>().number = n;
      GET(f, f.key("BY_NUMBER"));
      ASSERT_EQ(ERRORNUMBER(), 0) << n;
      DELETE(f);
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    COMMIT();
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    CLOSE(f);
  }

  uint64_t file_size() const { return std::filesystem::file_size(table()); }

  void expect_intact() {
    tarnwell::RecordFile* file = nullptr;
    ASSERT_EQ(tarnwell::open_record_file(table(), 0x40, "", file), 0);
    ASSERT_EQ(file->begin_access(tarnwell::AccessMode::read, true), 0);
    const tarnwell::CheckResult check = tarnwell::check_record_file(*file);
    EXPECT_TRUE(check.ok) << check.what;
    EXPECT_EQ(static_cast<int64_t>(file_size()), tarnwell::end_of_used_space(file->header()));
    file->end_access();
    tarnwell::close_record_file(file);

    File f{items(table())};
    OPEN(f, 0x40);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    EXPECT_EQ(RECORDS(f), kKept);
    EXPECT_EQ(read_all_by_number(f), kKept);
    // The second key: every surviving record once, in name order.
    std::memset(f.record_as<Item>().name, ' ', 40);
    SET(f.key("BY_NAME"), f.key("BY_NAME"));
    std::string previous;
    std::set<int> seen;
    for (;;) {
      NEXT(f);
      if (ERRORNUMBER() != 0) break;
      const std::string name(f.record_as<Item>().name, 40);
      EXPECT_LE(previous, name);
      EXPECT_TRUE(matches(f));
      previous = name;
      seen.insert(f.record_as<Item>().number);
    }
    EXPECT_EQ(ERRORNUMBER(), 33);
    EXPECT_EQ(static_cast<int>(seen.size()), kKept);
    CLOSE(f);
  }
};

TEST_F(PackCutTest, ShrinksTheFileWhileAnotherProcessKeepsReadingIt) {
  create_and_thin_out();
  const uint64_t before = file_size();

  // The reader opens the file itself after the fork and reads it in full, again and again,
  // until told to stop; then once more. Its exit code: 0, or what went wrong.
  int ready[2], stop[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(stop), 0);
  const pid_t reader = spawn([&] {
    ::close(ready[0]);
    ::close(stop[1]);
    File f{items(table())};
    OPEN(f, 0x40);
    if (ERRORNUMBER() != 0) return 10;
    if (read_all_by_number(f) != kKept) return 11;
    (void)!::write(ready[1], "r", 1);
    pollfd told{stop[0], POLLIN, 0};
    int passes = 0;
    while (poll(&told, 1, 0) == 0) {
      if (read_all_by_number(f) != kKept) return 12;
      ++passes;
    }
    if (read_all_by_number(f) != kKept) return 13;
    CLOSE(f);
    return passes > 0 ? 0 : 14;
  });
  ::close(ready[1]);
  ::close(stop[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);

  {
    // PACK wants the table to itself: not open here, it is opened for the build so that others
    // may still read.
    File f{items(table())};
    PACK(f);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }
  (void)!::write(stop[1], "s", 1);
  EXPECT_EQ(wait_for(reader), 0);
  ::close(ready[0]);
  ::close(stop[1]);

  const uint64_t after = file_size();
  EXPECT_LT(after * 2, before) << "before " << before << ", after " << after;
  expect_intact();
}

TEST_F(PackCutTest, ATableOpenedExclusivelyIsCutAndASecondPackFindsNothingToCut) {
  create_and_thin_out();
  const uint64_t before = file_size();
  File f{items(table())};
  OPEN(f, 0x12);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  PACK(f);
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  const uint64_t cut = file_size();
  EXPECT_LT(cut * 2, before);
  PACK(f);
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(file_size(), cut);
  CLOSE(f);
  expect_intact();
}

}  // namespace
}  // namespace vtn

// The cut at the level of the page store: what a crash at its durable flush leaves, and a file
// that grows again after it, seen by a reader whose cached pages date from before the cut.
namespace vtn::tarnwell {
namespace {

namespace fault = platform::fault;

class PageCutTest : public StoreTest {
 protected:
  // A file of 600 records of which every fifth survives; nothing is left in memory.
  Model thinned_out_file() {
    Model m;
    RecordFile* f = open();
    EXPECT_EQ(f->begin_access(AccessMode::write, true), 0);
    for (uint32_t n = 0; n < 600; ++n) {
      m[key_of(n)] = data_of(150 + n % 90, n);
      f->insert_record(key_of(n), m[key_of(n)]);
    }
    EXPECT_EQ(f->end_access(), 0);
    EXPECT_EQ(f->begin_access(AccessMode::write, true), 0);
    for (uint32_t n = 0; n < 600; ++n) {
      if (n % 5 == 0) continue;
      EXPECT_TRUE(f->delete_record(key_of(n)));
      m.erase(key_of(n));
    }
    EXPECT_EQ(f->end_access(), 0);
    close(f);
    return m;
  }
  void TearDown() override { fault::disarm(); }
};

TEST_F(PageCutTest, ACrashAroundTheCutLeavesAValidFileWithEveryRecord) {
  const Model m = thinned_out_file();
  const Bytes thinned = read_file("T.TWL");
  struct Case {
    const char* what;
    uint32_t fail_flush;
    bool crash;
    fault::CrashMode mode;
    bool expect_failure;
  };
  const Case cases[] = {
      {"the durable flush fails, torn", 1, true, fault::CrashMode::kTear, true},
      {"the durable flush fails, all lost", 1, true, fault::CrashMode::kLoseAll, true},
      {"crash after the cut", 0, true, fault::CrashMode::kLoseAll, false},
      {"the durable flush fails, no crash", 1, false, fault::CrashMode::kLoseAll, true},
  };
  for (const Case& c : cases) {
    write_file("T.TWL", thinned);
    fault::Plan plan;
    plan.fail_flush = c.fail_flush;
    fault::arm(plan);
    RecordFile* f = open();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    EXPECT_EQ(f->cut_unused_space() != 0, c.expect_failure) << c.what;
    f->end_access();
    if (c.crash) fault::simulate_crash(c.mode, 7);
    close(f);
    fault::disarm();
    const uint64_t size = read_file("T.TWL").size();
    EXPECT_LE(size, thinned.size()) << c.what;
    EXPECT_TRUE(same_records(reopened_records(), m)) << c.what;
    EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadWriteShared), m)) << c.what;
  }
}

TEST_F(PageCutTest, TheFileGrowsAgainAfterTheCutAndAStaleReaderFollows) {
  Model m = thinned_out_file();
  const uint64_t before = read_file("T.TWL").size();
  RecordFile* reader = nullptr;
  ASSERT_EQ(open_record_file(other_process_name(), kReadOnlyShared, "", reader), 0);
  open_.push_back(reader);
  ASSERT_EQ(reader->begin_access(AccessMode::read, true), 0);
  EXPECT_TRUE(same_records(records_of(*reader), m));  // every page cached from before the cut
  reader->end_access();

  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  ASSERT_EQ(f->cut_unused_space(), 0);
  const uint64_t cut = read_file("T.TWL").size();
  EXPECT_EQ(static_cast<int64_t>(cut), end_of_used_space(f->header()));
  EXPECT_LT(cut * 2, before);
  EXPECT_EQ(f->end_access(), 0);

  ASSERT_EQ(reader->begin_access(AccessMode::read, true), 0);
  EXPECT_TRUE(same_records(records_of(*reader), m));
  reader->end_access();

  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (uint32_t n = 1; n < 600; n += 5) {
    m[key_of(n)] = data_of(300, n + 1000);
    f->insert_record(key_of(n), m[key_of(n)]);
  }
  EXPECT_EQ(f->end_access(), 0);
  EXPECT_GT(read_file("T.TWL").size(), cut);
  ASSERT_EQ(reader->begin_access(AccessMode::read, true), 0);
  EXPECT_TRUE(same_records(records_of(*reader), m));
  reader->end_access();
  EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadWriteShared), m));
}

}  // namespace
}  // namespace vtn::tarnwell
