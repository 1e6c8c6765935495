#include "runtime/files/tarnwell/record_file.hpp"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <random>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/page_image.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "tests/files/tarnwell/check_of.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

class RecordFileTest : public StoreTest {
 protected:
  // A record of `length` bytes in all (key part of 4 bytes, then data).
  void insert_sized(RecordFile* f, uint32_t n, size_t length) {
    f->insert_record(key_of(n), data_of(length - 4, n));
  }
  uint8_t level_of(RecordFile* f, int32_t page) {
    PageStore& s = f->store();
    const uint8_t level = s.page(page)->level();
    s.end_operation();
    return level;
  }
  size_t records_in(RecordFile* f, int32_t page) {
    PageStore& s = f->store();
    const size_t n = s.page(page)->size();
    s.end_operation();
    return n;
  }
  Bytes header_bytes(const FileHeader& h) {
    Bytes b(kHeaderSize);
    encode_header(h, std::span<uint8_t, kHeaderSize>(b.data(), kHeaderSize));
    return b;
  }
};

TEST_F(RecordFileTest, InsertFindFlushReopen) {
  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  Model model;
  for (uint32_t i = 0; i < 300; ++i) {
    const Bytes k = key_of(i * 7 % 300);
    const Bytes d = data_of(40 + i % 90, i);
    f->insert_record(k, d);
    model[k] = d;
  }
  EXPECT_TRUE(same_records(records_of(*f), model));
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_FALSE(f->dirty());
  close(f);
  EXPECT_TRUE(same_records(reopened_records(), model));
}

TEST_F(RecordFileTest, FilesThatAreNotRecordFiles) {
  FileHeader zones_overlap;
  zones_overlap.zone_start[2] = 0;
  zones_overlap.zone_end[2] = 4;
  zones_overlap.zone_start[3] = 2;
  zones_overlap.zone_end[3] = 5;
  FileHeader past_the_end;
  past_the_end.zone_start[1] = 0;
  past_the_end.zone_end[1] = 50;  // 50 pages in a file of 512 bytes
  FileHeader root_in_no_zone;
  root_in_no_zone.change_counter = 3;
  root_in_no_zone.root_page = 7;
  FileHeader log_past_the_end;
  log_past_the_end.log_start = 0x200;
  log_past_the_end.log_end = 0x1000;
  FileHeader log_over_the_header;  // a log that would be applied over live data
  log_over_the_header.zone_end[1] = 0;
  log_over_the_header.log_start = 0;
  log_over_the_header.log_end = 0x200;
  const Bytes good = header_bytes(FileHeader{});
  Bytes wrong_signature = good;
  wrong_signature[0x0E] = 'X';
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"100 bytes", Bytes(100, 0)},
      {"511 bytes of a header", Bytes(good.begin(), good.begin() + 511)},
      {"another signature", wrong_signature},
      {"zones overlapping", header_bytes(zones_overlap)},
      {"zones past the end of the file", header_bytes(past_the_end)},
      {"root page in no zone", header_bytes(root_in_no_zone)},
      {"log past the end of the file", header_bytes(log_past_the_end)},
      {"log over the header", header_bytes(log_over_the_header)},
  };
  for (const Case& c : cases) {
    write_file("BAD.TWL", c.bytes);
    RecordFile* f = nullptr;
    EXPECT_EQ(open_record_file(path("BAD.TWL"), kReadWriteShared, "", f), kNotAFile) << c.what;
    EXPECT_EQ(f, nullptr);
  }
}

TEST_F(RecordFileTest, EmptyFileIsANewFile) {
  write_file("T.TWL", {});
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  EXPECT_FALSE(f->find_first_after({}).has_value());
  f->insert_record(key_of(1), data_of(10, 1));
  ASSERT_EQ(f->end_access(), 0);
  const Bytes bytes = read_file("T.TWL");
  FileHeader h;
  ASSERT_EQ(decode_header(bytes, h), 0);
  EXPECT_EQ(h.root_page, 0);          // the root took the first page of zone 1
  EXPECT_EQ(h.change_counter, 3u);    // 1 for the new tree, + 1 per flush phase
  EXPECT_EQ(h.log_start, h.log_end);  // the log is empty after a flush
  EXPECT_EQ(h.log_start, 0x300u);     // at the end of used space
  EXPECT_EQ(h.zone_end[1], 1);
}

// A header whose every zone is empty but whose unused zone entry 0 holds 0x80000000: the end of
// used space must not come from entry 0, so the log goes after the header, not before the file.
TEST_F(RecordFileTest, UnusedZoneEntryZeroIsIgnored) {
  FileHeader h;
  h.zone_end[0] = INT32_MIN;
  h.zone_start[0] = 17;
  write_file("T.TWL", header_bytes(h));
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  f->insert_record(key_of(1), data_of(10, 1));
  ASSERT_EQ(f->end_access(), 0);
  close(f);
  FileHeader after;
  ASSERT_EQ(decode_header(read_file("T.TWL"), after), 0);
  EXPECT_EQ(after.zone_end[0], INT32_MIN);  // kept as read
  EXPECT_EQ(after.zone_start[0], 17);
  EXPECT_GE(after.log_start, 0x300u);
  EXPECT_TRUE(same_records(reopened_records(), Model{{key_of(1), data_of(10, 1)}}));
}

TEST_F(RecordFileTest, SplitThresholds) {
  struct Case {
    const char* what;
    size_t records, length;
    bool split;
  };
  const std::vector<Case> cases = {
      {"21 x 200 bytes: capacity 4,318 over 4,096 with more than 20 records", 21, 200, true},
      {"20 x 200 bytes", 20, 200, false},
      {"20 x 700 bytes: capacity 14,113", 20, 700, false},
      {"21 x 700 bytes: capacity 14,818 with 21 records", 21, 700, true},
      {"2 x 7,600 bytes: capacity 15,223 over 15,094", 2, 7600, true},
      {"2 x 7,530 bytes: capacity 15,083", 2, 7530, false},
  };
  int file = 0;
  for (const Case& c : cases) {
    const std::string name = "S" + std::to_string(++file) + ".TWL";
    RecordFile* f = open(kReadWriteShared, name.c_str());
    ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    for (uint32_t i = 0; i < c.records; ++i) insert_sized(f, i, c.length);
    const int32_t root = f->header().root_page;
    EXPECT_EQ(level_of(f, root), c.split ? 1 : 0) << c.what;
    if (c.split) {
      // The middle record joins the half with fewer records, the new one on a tie.
      EXPECT_EQ(records_in(f, root), 2u) << c.what;
    }
    ASSERT_EQ(f->end_access(), 0);
    EXPECT_EQ(reopened_records(name.c_str()).size(), c.records) << c.what;
  }
}

TEST_F(RecordFileTest, RootSplitKeepsTheRootPageNumber) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  insert_sized(f, 0, 100);
  ASSERT_EQ(f->flush(), 0);
  const int32_t root = f->header().root_page;
  ASSERT_GE(root, 0);
  Model model;
  uint32_t n = 0;
  for (uint8_t level = 1; level <= 2; ++level) {
    while (level_of(f, root) < level) {
      insert_sized(f, ++n, 700);
      if (n % 50 == 0) {
        ASSERT_EQ(f->flush(), 0);
      }
      EXPECT_EQ(f->header().root_page, root);
    }
  }
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_EQ(f->header().root_page, root);
  EXPECT_EQ(reopened_records().size(), n + 1);
}

TEST_F(RecordFileTest, RecordLimitsAndDuplicates) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  const Bytes key = key_of(5);
  EXPECT_EQ(check_of([&] { f->insert_record(key, Bytes(15094 - 4, 0)); }), 824);
  EXPECT_EQ(check_of([&] { f->insert_record(key, Bytes(kMaxRecordLength - 4 + 1, 0)); }), 824);
  EXPECT_EQ(check_of([&] { f->insert_record(key, Bytes(kMaxRecordLength - 4, 7)); }), 0);
  EXPECT_EQ(check_of([&] { f->insert_record(key, {}); }), 706);
  EXPECT_EQ(check_of([&] { f->replace_record(key, Bytes(kMaxRecordLength, 0)); }), 824);
  // A page holding the longest record and another still splits into two valid pages.
  EXPECT_EQ(check_of([&] { f->insert_record(key_of(6), Bytes(kMaxRecordLength - 4, 1)); }), 0);
  EXPECT_EQ(check_of([&] { f->insert_record(key_of(4), Bytes(3000, 2)); }), 0);
  EXPECT_TRUE(f->replace_record(key, data_of(10, 3)));
  EXPECT_FALSE(f->replace_record(key_of(99), data_of(10, 3)));
  EXPECT_FALSE(f->delete_record(key_of(99)));
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_EQ(reopened_records().size(), 3u);
}

TEST_F(RecordFileTest, ChangesNeedAWriteAccess) {
  RecordFile* f = open();
  EXPECT_EQ(check_of([&] { f->insert_record(key_of(1), {}); }), 1163);
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
  EXPECT_EQ(check_of([&] { f->insert_record(key_of(1), {}); }), 1163);
  EXPECT_EQ(check_of([&] { f->new_table_number(); }), 1163);
  ASSERT_EQ(f->end_access(), 0);
  write_file("R.TWL", {});
  RecordFile* reader = open(kReadOnlyShared, "R.TWL");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->begin_access(AccessMode::write, true), 5);
}

TEST_F(RecordFileTest, NumbersCountUpAndSurviveAFlush) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  EXPECT_EQ(f->new_table_number(), (Number{0, 0, 0, 1}));
  EXPECT_EQ(f->new_table_number(), (Number{0, 0, 0, 2}));
  ASSERT_EQ(f->end_access(), 0);
  close(f);
  f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  EXPECT_EQ(f->new_table_number(), (Number{0, 0, 0, 3}));
  ASSERT_EQ(f->end_access(), 0);
}

TEST_F(RecordFileTest, DeletingEverythingLeavesAnEmptyReadableTree) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  std::vector<uint32_t> keys(400);
  for (uint32_t i = 0; i < keys.size(); ++i) keys[i] = i;
  for (uint32_t k : keys) insert_sized(f, k, 150 + k % 300);
  ASSERT_EQ(f->flush(), 0);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_TRUE(f->delete_record(key_of(keys[i])));
    if (i % 40 == 0) {
      ASSERT_EQ(f->flush(), 0);
      const CheckResult check = check_record_file(*f);
      ASSERT_TRUE(check.ok) << check.what;
    }
  }
  EXPECT_FALSE(f->find_first_after({}).has_value());
  EXPECT_FALSE(f->find_last_before(key_of(1000)).has_value());
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_TRUE(reopened_records().empty());
  // Only the root page is left.
  FileHeader h;
  ASSERT_EQ(decode_header(read_file("T.TWL"), h), 0);
  int pages = 0;
  for (int i = 1; i <= kMaxUnits; ++i) pages += (h.zone_end[i] - h.zone_start[i]) / i;
  EXPECT_EQ(pages, 1);
}

TEST_F(RecordFileTest, ZonesStayCompactUnderMixedSizes) {
  RecordFile* f = open();
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  std::mt19937 rng(11);
  std::set<uint32_t> present;
  for (int round = 0; round < 30; ++round) {
    for (int op = 0; op < 40; ++op) {
      const uint32_t k = rng() % 500;
      if (present.contains(k)) {
        if (rng() % 2) {
          ASSERT_TRUE(f->delete_record(key_of(k)));
          present.erase(k);
        } else {
          ASSERT_TRUE(f->replace_record(key_of(k), data_of(rng() % 9000, k)));
        }
      } else {
        f->insert_record(key_of(k), data_of(rng() % 9000, k));
        present.insert(k);
      }
    }
    ASSERT_EQ(f->flush(), 0);
    const FileHeader& h = f->header();
    for (int i = 2; i <= kMaxUnits; ++i) {
      EXPECT_LT(h.zone_start[i] - h.zone_end[i - 1], i) << "gap below zone " << i;
    }
    const CheckResult check = check_record_file(*f);
    ASSERT_TRUE(check.ok) << check.what;
  }
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_EQ(reopened_records().size(), present.size());
}

TEST_F(RecordFileTest, OneRecordFilePerNameIgnoringCase) {
  RecordFile* a = open(kReadWriteShared, "T.TWL");
  RecordFile* b = open(kReadWriteShared, "t.twl");
  EXPECT_EQ(a, b);
  RecordFile* c = nullptr;
  EXPECT_EQ(open_record_file(path("T.TWL"), 0x342, "", c), 5);  // would empty a file in use
  close(a);
  ASSERT_EQ(b->begin_access(AccessMode::write, true), 0);  // still open for the second table
  b->insert_record(key_of(1), data_of(5, 1));
  EXPECT_EQ(b->end_access(), 0);
}

TEST_F(RecordFileTest, OpenErrors) {
  RecordFile* f = nullptr;
  EXPECT_EQ(open_record_file(path("MISSING.TWL"), 0x42, "", f), 2);
  EXPECT_EQ(open_record_file(path("NO/DIR.TWL"), 0x142, "", f), 3);
  RecordFile* mine = open(0x12 | 0x100, "X.TWL");  // read-write, exclusive, created
  ASSERT_NE(mine, nullptr);
  // Another handle (as another process would open it) meets a sharing violation: 5.
  PageStore other(decode_access_bits(0x42));
  EXPECT_FALSE(other.file.open(path("X.TWL"), platform::decode_open_mode(0x42)));
}

TEST_F(RecordFileTest, EncryptedFileNeedsItsPassword) {
  RecordFile* f = open(kReadWriteShared, "E.TWL", "owner");
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  f->insert_record(key_of(1), data_of(50, 1));
  ASSERT_EQ(f->end_access(), 0);
  close(f);
  RecordFile* g = nullptr;
  EXPECT_EQ(open_record_file(path("E.TWL"), kReadOnlyShared, "other", g), kNotAFile);
  EXPECT_EQ(open_record_file(path("E.TWL"), kReadOnlyShared, "", g), kNotAFile);
  EXPECT_EQ(reopened_records("E.TWL", kReadOnlyShared, "owner").size(), 1u);
}

}  // namespace
}  // namespace vtn::tarnwell
