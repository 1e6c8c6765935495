#include "runtime/files/tarnwell/run_length.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

// The coder as first written, a byte at a time: what the word-at-a-time coder must match.
bool reference_compress(std::span<const uint8_t> in, Bytes& out) {
  auto put_count = [&out](size_t count) {
    for (; count >= 0x80; count >>= 7) out.push_back(static_cast<uint8_t>(count | 0x80));
    out.push_back(static_cast<uint8_t>(count));
  };
  size_t pending = 0;
  bool any_run = false;
  for (size_t i = 0; i < in.size();) {
    size_t run = 1;
    while (i + run < in.size() && in[i + run] == in[i]) ++run;
    if (run < 4) {
      i += run;
      continue;
    }
    put_count(i + 1 - pending);
    out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(pending),
               in.begin() + static_cast<ptrdiff_t>(i + 1));
    put_count(run - 1);
    any_run = true;
    i += run;
    pending = i;
  }
  if (!any_run) return false;
  put_count(in.size() - pending);
  out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(pending), in.end());
  return true;
}

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

// A million inputs of every shape the word-at-a-time search can get wrong: runs of 3, 4 and 5 at
// every distance from a word boundary and from both ends, long runs, runs back to back, plain
// noise, and page-like bytes (short alphabets with a few long runs). Each is compressed by both
// coders (the same bytes, appended to a prefix, or the same refusal) and expanded back.
TEST(RunLengthTest, MatchesTheByteAtATimeCoderOnAMillionInputs) {
  std::mt19937 random(20261207);
  const int inputs = std::getenv("VTN_LONG_TESTS") ? 10'000'000 : 1'000'000;
  Bytes input, ours, theirs, back;
  size_t compressed_count = 0;
  for (int round = 0; round < inputs; ++round) {
    input.clear();
    const unsigned shape = random() % 4;
    const size_t target = random() % 64 == 0 ? random() % 2000 : random() % 48;
    while (input.size() < target) {
      if (shape == 0) {  // noise: runs only by accident
        input.push_back(static_cast<uint8_t>(random()));
        continue;
      }
      const uint8_t alphabet = shape == 1 ? 2 : shape == 2 ? 3 : 255;
      const uint8_t b = static_cast<uint8_t>(random() % alphabet);
      size_t length = 1;
      switch (random() % 6) {
        case 0:
          length = 3 + random() % 3;
          break;  // around the shortest run
        case 1:
          length = 1 + random() % 20;
          break;
        case 2:
          length = random() % 16 == 0 ? 100 + random() % 300 : 1;
          break;
        default:
          break;
      }
      input.insert(input.end(), length, b);
    }
    ours.assign({0xEE});
    theirs.assign({0xEE});
    const bool compressed = rle_compress(input, ours);
    ASSERT_EQ(compressed, reference_compress(input, theirs)) << "round " << round;
    ASSERT_EQ(ours, theirs) << "round " << round;
    if (!compressed) continue;
    ++compressed_count;
    back.assign(input.size(), 0x5A);
    ASSERT_EQ(rle_expand(std::span(ours).subspan(1), back), ours.size() - 1) << "round " << round;
    ASSERT_EQ(back, input) << "round " << round;
  }
  // Both outcomes were exercised in earnest.
  EXPECT_GT(compressed_count, static_cast<size_t>(inputs) / 4);
  EXPECT_LT(compressed_count, static_cast<size_t>(inputs) * 9 / 10);
}

TEST(RunLengthTest, RawCoderWritesWithinItsBound) {
  // The worst inputs for the bound: runs of exactly 4 after one literal, and after long literals.
  for (const size_t pending : {size_t{1}, size_t{127}, size_t{128}, size_t{20000}}) {
    Bytes input;
    for (int k = 0; input.size() < 40000; ++k) {
      for (size_t i = 0; i < pending; ++i)
        input.push_back(static_cast<uint8_t>(i % 2 + 2 * (k % 2)));
      input.insert(input.end(), 4, 0xFF);
    }
    Bytes out(rle_compress_bound(input.size()) + 64, 0xA5);
    const size_t length = rle_compress_into(input, out.data());
    ASSERT_GT(length, 0u);
    EXPECT_LE(length, rle_compress_bound(input.size())) << pending;
    for (size_t i = length; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << "written past " << i;
    Bytes back(input.size());
    EXPECT_EQ(rle_expand(std::span(out).first(length), back), length);
    EXPECT_EQ(back, input);
  }
}

}  // namespace
}  // namespace vtn::tarnwell
