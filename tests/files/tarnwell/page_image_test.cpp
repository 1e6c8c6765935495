#include "runtime/files/tarnwell/page_image.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

Record rec(Bytes key, Bytes data) {
  Record r;
  r.key_length = static_cast<uint16_t>(key.size());
  r.bytes = std::move(key);
  r.bytes.insert(r.bytes.end(), data.begin(), data.end());
  return r;
}

Bytes distinct_bytes(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

struct Fields {
  uint32_t own_offset;
  uint16_t stored, expanded, capacity, count;
  uint8_t level;
};

Fields fields_of(const Bytes& image) {
  return {load_le32(image.data()),     load_le16(image.data() + 4),  load_le16(image.data() + 6),
          load_le16(image.data() + 8), load_le16(image.data() + 10), image[12]};
}

int units_of(const Bytes& image) {
  return static_cast<int>(image.size() / kUnitSize);
}

TEST(PageImageTest, PlainLeafPage) {
  PageContents page;
  page.records = {rec({0x41, 0x42}, {1, 2, 3}), rec({0x41, 0x43}, {9})};
  const Bytes image = encode_page(3, page);
  ASSERT_EQ(image.size(), 256u);
  const Fields f = fields_of(image);
  // Record stream: C0 05 00 02 00 41 42 01 02 03 | 81 03 00 43 09 (shares "A", new length).
  EXPECT_EQ(f.own_offset, 0x200u + 3 * 0x100);
  EXPECT_EQ(f.expanded, 13 + 10 + 5);
  EXPECT_EQ(f.stored, f.expanded);
  EXPECT_EQ(f.capacity, 13 + (5 + 5) + (3 + 5));
  EXPECT_EQ(f.count, 2);
  EXPECT_EQ(f.level, 0);
  EXPECT_EQ(Bytes(image.begin() + 13, image.begin() + 28),
            (Bytes{0xC0, 5, 0, 2, 0, 0x41, 0x42, 1, 2, 3, 0x81, 3, 0, 0x43, 9}));
  for (size_t i = f.expanded; i < image.size(); ++i) ASSERT_EQ(image[i], kPagePadding) << i;
  EXPECT_EQ(decode_page(image, 1), page);

  const PageContents empty;  // a new root
  const Bytes empty_image = encode_page(-1, empty);
  EXPECT_EQ(empty_image.size(), 256u);
  EXPECT_EQ(fields_of(empty_image).expanded, 13);
  EXPECT_EQ(fields_of(empty_image).capacity, 13);
  EXPECT_EQ(decode_page(empty_image, 1), empty);
}

TEST(PageImageTest, CompressedOnlyWhenTheRoundedLengthShrinks) {
  struct Case {
    const char* what;
    Bytes data;
    bool compressed;
    size_t units;
  };
  const Case cases[] = {
      {"300 zero bytes after the header", Bytes(295, 0), true, 1},
      {"no run of 4 at all", distinct_bytes(295, 1), false, 2},
      {"a run, but both forms fit one unit", Bytes(100, 0), false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PageContents page;
    page.records = {rec(Bytes{0, 0, 0, 1, 0xF3}, c.data)};
    const Bytes image = encode_page(0, page);
    const Fields f = fields_of(image);
    EXPECT_EQ(f.stored < f.expanded, c.compressed);
    EXPECT_EQ(image.size(), c.units * kUnitSize);
    EXPECT_EQ(decode_page(image, units_of(image)), page);
  }
}

TEST(PageImageTest, IndexPageKeepsChildren) {
  PageContents page;
  page.level = 2;
  page.records = {rec({0, 0, 0, 1}, {}), rec({0, 0, 0, 7}, {}), rec({0xFE, 'A', 0}, {})};
  page.children = {5, 0x01020304, -3};
  const Bytes image = encode_page(-3, page);  // a page not yet placed
  const Fields f = fields_of(image);
  EXPECT_EQ(f.level, 2);
  EXPECT_EQ(f.capacity, 13 + 3 * 4 + (4 + 5) * 2 + (3 + 5));
  EXPECT_EQ(Bytes(image.begin() + 13, image.begin() + 21), (Bytes{5, 0, 0, 0, 4, 3, 2, 1}));
  EXPECT_EQ(decode_page(image, 1), page);
}

TEST(PageImageTest, CompressedIndexPageKeepsItsChildArrayPlain) {
  // Long keys of one repeated byte compress well; the child numbers stay in the page header.
  PageContents page;
  page.level = 1;
  for (uint8_t i = 0; i < 3; ++i) {
    Bytes key = {1, 2, 3, 4, 0, i};
    key.insert(key.end(), 200, 0x20);
    page.records.push_back(rec(key, {}));
  }
  page.children = {0x11223344, 9, 0x7FFFFFFF};
  const Bytes image = encode_page(2, page);
  const Fields f = fields_of(image);
  ASSERT_LT(f.stored, f.expanded);
  EXPECT_EQ(f.count, 3);
  EXPECT_EQ(f.level, 1);
  EXPECT_EQ(f.capacity, 13 + 3 * 4 + 3 * (206 + 5));
  EXPECT_EQ(Bytes(image.begin() + 13, image.begin() + 25),
            (Bytes{0x44, 0x33, 0x22, 0x11, 9, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}));
  // The compressed stream starts right after the children: the first record's flag byte, its
  // two lengths and key bytes as literals up to the first byte of the run of blanks.
  EXPECT_EQ(image[25], 12);  // literal count: flag, 2 + 2 length bytes, 6 key bytes, one blank
  EXPECT_EQ(Bytes(image.begin() + 26, image.begin() + 31), (Bytes{0xC0, 206, 0, 206, 0}));
  EXPECT_EQ(decode_page(image, units_of(image)), page);
}

TEST(PageImageTest, StructuralChecks) {
  PageContents page;
  page.records = {rec({1, 2, 3}, Bytes(400, 0x55)), rec({1, 2, 4}, {})};
  const Bytes good = encode_page(1, page);  // compressed, one unit
  ASSERT_EQ(units_of(good), 1);
  auto with = [&](size_t at, uint16_t value) {
    Bytes b = good;
    store_le16(b.data() + at, value);
    return b;
  };
  struct Case {
    const char* what;
    Bytes image;
    int units;
    int32_t check;
  };
  const std::vector<Case> cases = {
      {"zone of another unit size", good, 2, 1477},
      {"stored length of two units", with(4, 300), 1, 1477},
      {"stored length 0", with(4, 0), 1, 1477},
      {"expanded above capacity", with(8, 100), 1, 1659},
      {"more records than stored", with(10, 3), 1, 1602},
      {"fewer records than stored", with(10, 1), 1, 1602},
      {"expanded length cuts a run short", with(6, 200), 1, 530},
      {"stored below the header", with(4, 5), 1, 1602},
  };
  for (const Case& c : cases) {
    Bytes image = c.image;
    image.resize(static_cast<size_t>(c.units) * kUnitSize, kPagePadding);
    EXPECT_EQ(check_of([&] { decode_page(image, c.units); }), c.check) << c.what;
  }

  PageContents huge;
  std::mt19937 random(3);
  for (uint8_t i = 0; i < 3; ++i) {
    Bytes data(6000);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    huge.records.push_back(rec({i}, data));
  }
  EXPECT_EQ(check_of([&] { encode_page(0, huge); }), 1678);
}

TEST(PageImageTest, LargestPagesRoundTrip) {
  PageContents page;
  std::mt19937 random(11);
  for (int i = 0; i < 20; ++i) {
    Bytes key = {0, 0, 0, 1, 0xF3, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    Bytes data(700 - key.size());
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    page.records.push_back(rec(key, data));
  }
  EXPECT_EQ(page_capacity(page), 14113u);  // 20 records of 700 bytes: 13 + 20 * (700 + 5)
  const Bytes image = encode_page(42, page);
  EXPECT_LE(image.size(), kMaxPageImage);
  EXPECT_EQ(decode_page(image, units_of(image)), page);
  Bytes moved = image;
  set_page_number(moved, 7);
  EXPECT_EQ(load_le32(moved.data()), 0x200u + 7 * 0x100);
  EXPECT_EQ(rounded_stored_length(image), image.size());
}

}  // namespace
}  // namespace vtn::tarnwell
