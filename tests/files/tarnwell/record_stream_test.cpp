#include "runtime/files/tarnwell/record_stream.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

Record rec(std::string_view key, std::string_view data) {
  Record r;
  r.bytes.assign(key.begin(), key.end());
  r.bytes.insert(r.bytes.end(), data.begin(), data.end());
  r.key_length = static_cast<uint16_t>(key.size());
  return r;
}

Bytes encode(const std::vector<Record>& records) {
  Bytes out;
  RecordStreamWriter writer(out);
  for (const Record& r : records) writer.add(r.bytes, r.key_length);
  return out;
}

TEST(RecordOrderTest, UnsignedBytesThenShorterFirst) {
  struct Case {
    Bytes a, b;
    int sign;
  };
  const Case cases[] = {
      {{0x41, 0x42}, {0x41, 0x42, 0x43}, -1}, {{}, {0x00}, -1},          {{0x80}, {0x7F}, 1},
      {{0x41, 0x43}, {0x41, 0x42, 0x43}, 1},  {{1, 2, 3}, {1, 2, 3}, 0}, {{}, {}, 0},
  };
  for (const Case& c : cases) {
    const int r = compare_keys(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
    const int back = compare_keys(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign);
  }
}

// Keys of every length up to three words, against the plain byte-by-byte order: pairs that first
// differ at each position (the compare reads overlapping words, so each position must decide),
// and pairs where one is a prefix of the other.
TEST(RecordOrderTest, AgreesWithByteOrderAtEveryLengthAndPosition) {
  auto sign = [](int r) { return (r > 0) - (r < 0); };
  auto model = [&](const Bytes& a, const Bytes& b) {
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end())) return -1;
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end()) ? 1 : 0;
  };
  for (size_t length = 0; length <= 24; ++length) {
    Bytes base(length);
    for (size_t i = 0; i < length; ++i) base[i] = static_cast<uint8_t>(0x30 + 7 * i);
    std::vector<Bytes> others = {base};
    for (size_t at = 0; at < length; ++at) {
      for (const uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
        Bytes other = base;
        other[at] = value;
        // Bytes after the difference pull the other way, so a compare that looked past the first
        // difference would answer wrongly.
        for (size_t later = at + 1; later < length; ++later) {
          other[later] = value < base[at] ? 0xFF : 0x00;
        }
        others.push_back(other);
      }
    }
    others.push_back(Bytes(base.begin(), base.begin() + static_cast<ptrdiff_t>(length / 2)));
    Bytes longer = base;
    longer.push_back(0x00);
    others.push_back(longer);
    for (const Bytes& other : others) {
      EXPECT_EQ(sign(compare_keys(base, other)), model(base, other)) << "length " << length;
      EXPECT_EQ(sign(compare_keys(other, base)), model(other, base)) << "length " << length;
    }
  }
}

TEST(RecordStreamTest, KnownBytes) {
  const std::vector<Record> records = {rec("AB", "x"), rec("ABC", "x"), rec("ABD", "x")};
  const Bytes expected = {
      0xC0, 3,   0,   2, 0, 'A', 'B', 'x',  // first: both lengths, nothing shared
      0xC2, 4,   0,   3, 0, 'C', 'x',       // shares "AB", new lengths
      0x02, 'D', 'x',                       // shares "AB", lengths as before
  };
  const Bytes stream = encode(records);
  EXPECT_EQ(stream, expected);
  EXPECT_EQ(decode_record_stream(stream, 3), records);
}

TEST(RecordStreamTest, EachLengthIsWrittenOnlyWhenItChanges) {
  struct Case {
    const char* what;
    Record previous, record;
    Bytes second;  // the second record's bytes in the stream
  };
  const std::vector<Case> cases = {
      {"same lengths", rec("AB", "xy"), rec("AC", "xy"), {0x01, 'C', 'x', 'y'}},
      {"key length only", rec("AB", "xy"), rec("ACD", "x"), {0x41, 3, 0, 'C', 'D', 'x'}},
      {"record length only", rec("AB", "xy"), rec("AC", "xyz"), {0x81, 5, 0, 'C', 'x', 'y', 'z'}},
      {"both, lengths above 255",
       rec("K", std::string(300, 'd')),
       rec("KK", std::string(298, 'e')),
       {0xC1, 0x2C, 0x01, 2, 0, 'K', 'e'}},
      // The previous record is a prefix of this one: the shared count stops at its length.
      {"previous record shorter", rec("AB", ""), rec("ABC", ""), {0xC2, 3, 0, 3, 0, 'C'}},
      {"this record shorter", rec("A", "BC"), rec("AB", ""), {0xC2, 2, 0, 2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes stream = encode({c.previous, c.record});
    const size_t first = 5 + c.previous.bytes.size();
    Bytes second(stream.begin() + static_cast<ptrdiff_t>(first), stream.end());
    if (second.size() > c.second.size()) second.resize(c.second.size());
    EXPECT_EQ(second, c.second);
    EXPECT_EQ(decode_record_stream(stream, 2), (std::vector<Record>{c.previous, c.record}));
  }
}

TEST(RecordStreamTest, SharedPrefixIsCappedAt63) {
  const std::string common(80, 'k');
  const std::vector<Record> records = {rec(common + "1", "data"), rec(common + "2", "data"),
                                       rec("", ""), rec("z", "")};
  const Bytes stream = encode(records);
  // Second record: flag 0x3F (63 shared, same lengths), then the remaining 85 - 63 bytes.
  const size_t second = 1 + 4 + records[0].bytes.size();
  EXPECT_EQ(stream[second], 0x3F);
  EXPECT_EQ(stream.size(), second + 1 + (85 - 63) + (1 + 4) + (1 + 4 + 1));
  EXPECT_EQ(decode_record_stream(stream, records.size()), records);
}

TEST(RecordStreamTest, MalformedStreamsFailWith1602) {
  const Bytes good = encode({rec("AB", "x"), rec("AC", "yy")});
  struct Case {
    const char* what;
    Bytes stream;
    size_t count;
  };
  std::vector<Case> cases = {
      {"count too high", good, 3},
      {"count too low: bytes left over", good, 1},
      {"first record without lengths", {0x00, 'A'}, 1},
      {"first record sharing", {0xC1, 1, 0, 1, 0, 'A'}, 1},
      {"key longer than record", {0xC0, 1, 0, 2, 0, 'A'}, 1},
      {"record runs past the stream", {0xC0, 9, 0, 1, 0, 'A'}, 1},
      {"lengths cut off", {0xC0, 9}, 1},
      {"shares more than the previous record has", {0xC0, 1, 0, 1, 0, 'A', 0x82, 3, 0, 'B'}, 2},
      {"huge count", good, 1u << 30},
  };
  Bytes truncated = good;
  truncated.pop_back();
  cases.push_back({"truncated", truncated, 2});
  for (const Case& c : cases) {
    EXPECT_EQ(check_of([&] { decode_record_stream(c.stream, c.count); }), 1602) << c.what;
  }
  EXPECT_TRUE(decode_record_stream({}, 0).empty());
}

}  // namespace
}  // namespace vtn::tarnwell
