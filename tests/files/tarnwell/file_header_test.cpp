#include "runtime/files/tarnwell/file_header.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/values/error_state.hpp"
#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

FileHeader sample_header() {
  FileHeader h;
  h.log_start = 0x1234;
  h.log_end = 0x5678;
  h.reserved = 7;
  h.last_number = {0, 1, 2, 3};
  h.change_counter = 42;
  h.root_page = -1;
  for (int i = 1; i <= kMaxUnits; ++i) {
    h.zone_start[i] = 100 * i;
    h.zone_end[i] = 100 * i + i;
  }
  return h;
}

TEST(FileHeaderTest, KnownBytesAndRoundTrip) {
  const FileHeader h = sample_header();
  std::array<uint8_t, kHeaderSize> bytes{};
  encode_header(h, bytes);
  const std::vector<std::pair<size_t, std::vector<uint8_t>>> expected = {
      {0x00, {0, 0, 0, 0, 0x00, 0x02}},        // own offset, size 0x200
      {0x06, {0x34, 0x12, 0, 0, 0x78, 0x56}},  // log start, log end
      {0x0E, {'t', 'A', 'r', 'N', 7, 0}},      // signature, carried field
      {0x14, {0, 1, 2, 3, 42, 0, 0, 0}},       // last number as it stands, change counter
      {0x1C, {0xFF, 0xFF, 0xFF, 0xFF}},        // root not placed
      {0x24, {100, 0, 0, 0}},                  // zone start[1]
      {0x114, {101, 0, 0, 0}},                 // zone end[1]
      {0x1FC, {0x47, 0x17, 0, 0}},             // zone end[59] = 5959 = 0x1747
  };
  for (const auto& [offset, want] : expected) {
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + want.size()),
              want)
        << "at " << offset;
  }
  FileHeader back;
  ASSERT_EQ(decode_header(bytes, back), 0);
  EXPECT_EQ(back, h);
}

TEST(FileHeaderTest, NewFilesAndForeignFiles) {
  FileHeader h = sample_header();
  EXPECT_EQ(decode_header({}, h), 0);
  EXPECT_EQ(h, new_file_header());
  EXPECT_EQ(h.signature, kSignature);
  EXPECT_EQ(h.change_counter, 0u);

  std::array<uint8_t, kHeaderSize> bytes{};
  encode_header(new_file_header(), bytes);
  EXPECT_EQ(decode_header(std::span(bytes).first(100), h), kNotAFile);
  EXPECT_EQ(decode_header(std::span(bytes).first(511), h), kNotAFile);
  bytes[0x0E] = 'T';
  EXPECT_EQ(decode_header(bytes, h), kNotAFile);
}

TEST(FileHeaderTest, ZonesGiveUnitSizeAndEndOfUsedSpace) {
  FileHeader h;
  h.zone_start[1] = 0;
  h.zone_end[1] = 3;  // pages 0, 1, 2
  h.zone_start[3] = 5;
  h.zone_end[3] = 11;  // pages 5 and 8
  h.zone_start[7] = h.zone_end[7] = 11;
  const std::vector<std::pair<int32_t, int>> cases = {{0, 1}, {2, 1}, {5, 3}, {8, 3}, {10, 3}};
  for (const auto& [page, units] : cases) EXPECT_EQ(unit_size_of_page(h, page), units) << page;
  for (int32_t page : {3, 4, 11, -1}) {
    EXPECT_EQ(check_of([&] { unit_size_of_page(h, page); }), 1735) << page;
  }
  for (int i = 1; i <= kMaxUnits; ++i) {
    if (h.zone_start[i] == 0 && h.zone_end[i] == 0 && i > 1) h.zone_start[i] = h.zone_end[i] = 11;
  }
  h.zone_start[2] = h.zone_end[2] = 3;
  EXPECT_TRUE(zones_well_formed(h));
  EXPECT_TRUE(zones_well_formed(FileHeader{}));
  const std::vector<std::pair<int, std::pair<int32_t, int32_t>>> broken = {
      {3, {5, 10}},  // 5 units in zone 3: not whole pages
      {3, {2, 11}},  // overlaps zone 2... and zone 1's end
      {7, {11, 4}},  // ends before it starts
      {1, {-1, 2}},  // before page 0
  };
  for (const auto& [zone, range] : broken) {
    FileHeader b = h;
    b.zone_start[zone] = range.first;
    b.zone_end[zone] = range.second;
    EXPECT_FALSE(zones_well_formed(b)) << zone;
  }
  EXPECT_EQ(end_of_used_space(h), 0x200 + 11 * 0x100);
  EXPECT_EQ(end_of_used_space(FileHeader{}), 0x200);
  EXPECT_EQ(page_offset(8), 0xA00);
}

TEST(FileHeaderTest, EndOfUsedSpaceFollowsTheHighestNonEmptyZone) {
  struct Zone {
    int units;
    int32_t start, end;
  };
  struct Case {
    const char* what;
    std::vector<Zone> zones;
    int64_t end;
  };
  const std::vector<Case> cases = {
      // Empty zones may sit above the used space; only a zone holding pages counts.
      {"empty top zones far out",
       {{1, 0, 4}, {3, 4, 10}, {40, 500, 500}, {59, 900, 900}},
       0x200 + 10 * 0x100},
      {"a higher zone ending lower than an empty one",
       {{2, 0, 2}, {5, 2, 7}, {6, 30, 30}},
       0x200 + 7 * 0x100},
      {"only the top zone holds pages", {{1, 0, 0}, {59, 3, 62}}, 0x200 + 62 * 0x100},
      {"a zone of one page of 59 units", {{59, 0, 59}}, 0x200 + 59 * 0x100},
      // All empty: the used space ends at page 0, whatever the unused entry 0 holds (a flush
      // places its page log there, so a negative end would put the log over the header).
      {"all empty, entry 0 ignored", {{0, 0, 6}, {1, 9, 9}}, 0x200},
      {"all empty, entry 0 holds 0x80000000", {{0, 0, INT32_MIN}}, 0x200},
  };
  for (const Case& c : cases) {
    FileHeader h;
    for (const Zone& z : c.zones) {
      h.zone_start[z.units] = z.start;
      h.zone_end[z.units] = z.end;
    }
    EXPECT_EQ(end_of_used_space(h), c.end) << c.what;
  }
}

TEST(FileHeaderTest, OverlappingZonesOfADamagedHeaderAnswerTheLowestUnitSize) {
  FileHeader h;
  h.zone_start[5] = 5;
  h.zone_end[5] = 15;
  h.zone_start[2] = 0;
  h.zone_end[2] = 10;
  EXPECT_FALSE(zones_well_formed(h));
  EXPECT_EQ(unit_size_of_page(h, 6), 2);
  EXPECT_EQ(unit_size_of_page(h, 12), 5);
}

TEST(FileHeaderTest, NumbersCountBigEndianUntilExhausted) {
  struct Case {
    Number before, after;
  };
  const Case cases[] = {
      {{0, 0, 0, 0}, {0, 0, 0, 1}},
      {{0, 0, 0, 0xFF}, {0, 0, 1, 0}},
      {{0, 0xFF, 0xFF, 0xFF}, {1, 0, 0, 0}},
      {{0xFC, 0xFF, 0xFF, 0xFF}, {0xFD, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Number n = c.before;
    EXPECT_EQ(next_number(n), c.after);
    EXPECT_EQ(n, c.after);
  }
  Number last = {0xFD, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(check_of([&] { next_number(last); }), 1173);
  EXPECT_EQ(last, (Number{0xFD, 0xFF, 0xFF, 0xFF}));  // unchanged after the refusal
  EXPECT_EQ(number_value({0, 0, 1, 2}), 0x102u);
  EXPECT_EQ(number_from_value(0x01020304), (Number{1, 2, 3, 4}));
}

TEST(InternalErrorTest, PostedAsError90WithTheCheckNumber) {
  post_internal_error(1602, true);
  EXPECT_EQ(ERRORNUMBER(), 90);
  EXPECT_EQ(DRIVERERRORCODE(), "1602");
  EXPECT_EQ(DRIVERERROR(), "Possible data corruption in file");
  post_internal_error(522, false);
  EXPECT_EQ(DRIVERERROR(), "Tarnwell File Driver Error");
  EXPECT_EQ(internal_error_message(1735, true), "Possible data corruption in file (1735)");
}

TEST(InternalErrorDeathTest, OutsideAnOperationEndsTheProgram) {
  EXPECT_EXIT(fatal_internal_error(1735, true), ::testing::ExitedWithCode(2),
              "Possible data corruption in file \\(1735\\)");
}

}  // namespace
}  // namespace vtn::tarnwell
