#include "runtime/files/tarnwell/run_length.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

// 200 bytes with no two neighbours equal, then `tail`.
Bytes ramp_then(const Bytes& tail) {
  Bytes b;
  for (int i = 0; i < 200; ++i) b.push_back(static_cast<uint8_t>(i));
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

TEST(RunLengthTest, KnownEncodings) {
  struct Case {
    const char* what;
    Bytes input;
    bool compressed;
    Bytes output;
  };
  const Case cases[] = {
      {"no run", {0x41, 0x42, 0x43}, false, {}},
      {"run of 3 stays literal", {1, 2, 2, 2, 3}, false, {}},
      {"run of 4", {1, 2, 2, 2, 2, 3}, true, {0x02, 1, 2, 0x03, 0x01, 3}},
      {"ends with a run: final count 0", {7, 7, 7, 7}, true, {0x01, 7, 0x03, 0x00}},
      {"two runs back to back", {5, 5, 5, 5, 9, 9, 9, 9, 9}, true, {1, 5, 3, 1, 9, 4, 0}},
      {"300 zeros: two-byte repeat count", Bytes(300, 0), true, {0x01, 0, 0xAB, 0x02, 0x00}},
      // 19,999 = 0x4E1F: groups 0x1F, 0x1C, 0x01, low first, 0x80 on all but the last.
      {"20,000 equal bytes: three-byte repeat count",
       Bytes(20000, 0x20),
       true,
       {0x01, 0x20, 0x9F, 0x9C, 0x01, 0x00}},
      {"pending literals go out with the run's first byte",
       {1, 2, 3, 4, 4, 4, 4, 4, 5, 6},
       true,
       {0x04, 1, 2, 3, 4, 0x04, 0x02, 5, 6}},
      {"a run of 3 before a run of 4 travels as literals",
       {7, 7, 7, 8, 8, 8, 8},
       true,
       {0x04, 7, 7, 7, 8, 0x03, 0x00}},
      // 201 = 0xC9: two-byte literal count 0xC9 0x01.
      {"201 literals: two-byte literal count", ramp_then({0xFF, 0xFF, 0xFF, 0xFF}), true,
       [] {
         Bytes out = {0xC9, 0x01};
         const Bytes literals = ramp_then({0xFF});
         out.insert(out.end(), literals.begin(), literals.end());
         out.insert(out.end(), {0x03, 0x00});
         return out;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes out = {0xEE};  // compression appends
    EXPECT_EQ(rle_compress(c.input, out), c.compressed);
    Bytes expected = {0xEE};
    expected.insert(expected.end(), c.output.begin(), c.output.end());
    EXPECT_EQ(out, expected);
    if (c.compressed) {
      Bytes back(c.input.size());
      EXPECT_EQ(rle_expand(std::span(out).subspan(1), back), c.output.size());
      EXPECT_EQ(back, c.input);
    }
  }
}

TEST(RunLengthTest, BadStreamsFailWithTheirCheck) {
  struct Case {
    const char* what;
    Bytes stream;
    size_t expanded;
    int32_t check;
  };
  const Case cases[] = {
      {"literal count past the end", {0x05, 1, 2, 3, 4, 5}, 3, 522},
      {"repeat count past the end", {0x01, 0x41, 0x05}, 3, 530},
      {"repeat before any byte", {0x00, 0x02}, 2, 530},
      {"huge count", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 3, 522},
      {"literals missing", {0x02, 0x41}, 3, 1602},
      {"count missing", {0x01, 0x41}, 3, 1602},
      {"empty stream", {}, 1, 1602},
      {"zero counts cannot loop forever", {0x01, 0x41, 0, 0, 0, 0}, 3, 1602},
  };
  for (const Case& c : cases) {
    Bytes out(c.expanded);
    EXPECT_EQ(check_of([&] { rle_expand(c.stream, out); }), c.check) << c.what;
  }
  Bytes none;
  EXPECT_EQ(rle_expand(Bytes{0x09}, none), 0u);  // nothing to expand reads nothing
}

TEST(RunLengthTest, RandomDataWithRunsRoundTrips) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    Bytes input;
    const int pieces = 1 + static_cast<int>(random() % 20);
    for (int p = 0; p < pieces; ++p) {
      const uint8_t b = static_cast<uint8_t>(random() % 4);  // small alphabet: accidental runs
      const size_t length = random() % 3 == 0 ? 1 + random() % 400 : 1;
      input.insert(input.end(), length, b);
    }
    Bytes out;
    if (!rle_compress(input, out)) continue;
    Bytes back(input.size());
    EXPECT_EQ(rle_expand(out, back), out.size());
    ASSERT_EQ(back, input) << "round " << round;
  }
}

}  // namespace
}  // namespace vtn::tarnwell
