#include "runtime/files/tarnwell/memo_chunks.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/record_kinds.hpp"
#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

const Number kTable = {0, 0, 0, 1};
const Number kRecord = {0, 0, 0, 9};

Bytes bytes(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

TEST(MemoChunksTest, TextAndBlobChunking) {
  struct Case {
    const char* what;
    Bytes contents;
    MemoFormat format;
    std::vector<size_t> chunk_sizes;
    Bytes read_back;
  };
  const Bytes long_text(600, 'x');
  const Bytes blob(520, 0x20);  // spaces: a blob keeps them
  const std::vector<Case> cases = {
      {"three letters and 100 spaces", bytes("abc" + std::string(100, ' ')), {}, {3}, bytes("abc")},
      {"empty text memo: no chunk", Bytes(50, ' '), {}, {}, {}},
      {"600 bytes of text", long_text, {}, {256, 256, 88}, long_text},
      {"blob: length first", blob, {true, true, false}, {260, 256, 8}, blob},
      {"empty blob keeps its length", {}, {true, false, false}, {4}, {}},
      {"inner spaces stay", bytes("a  b   "), {}, {4}, bytes("a  b")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<Record> chunks = memo_chunk_records(kTable, kRecord, 2, c.contents, c.format);
    ASSERT_EQ(chunks.size(), c.chunk_sizes.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
      const auto view = read_memo_chunk(chunks[i]);
      ASSERT_TRUE(view);
      EXPECT_EQ(view->sequence, i);
      EXPECT_EQ(view->memo_number, 2);
      EXPECT_EQ(view->bytes.size(), c.chunk_sizes[i]);
    }
    if (c.format.blob && !chunks.empty()) {
      const auto first = chunks[0].data();
      EXPECT_EQ(first[0] | (first[1] << 8), static_cast<int>(c.contents.size()));
    }
    std::vector<Record> reversed(chunks.rbegin(), chunks.rend());
    EXPECT_EQ(read_memo_contents(reversed, c.format), c.read_back);
  }
}

TEST(MemoChunksTest, OemConversionOfTextMemosOnly) {
  const Bytes ansi = {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2};  // "Привет" in 1251
  const Bytes oem = {0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2};   // the same in 866
  struct Case {
    MemoFormat format;
    Bytes stored;
  };
  const Case cases[] = {
      {{false, false, true}, oem},    // text memo of an OEM file: converted
      {{false, true, true}, ansi},    // binary memo: as it stands
      {{false, false, false}, ansi},  // file without the OEM attribute
      // A blob keeps its exact contents, after its length, in any file.
      {{true, false, true}, {6, 0, 0, 0, 0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}},
  };
  for (const Case& c : cases) {
    const auto chunks = memo_chunk_records(kTable, kRecord, 0, ansi, c.format);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(Bytes(chunks[0].data().begin(), chunks[0].data().end()), c.stored);
    EXPECT_EQ(read_memo_contents(chunks, c.format), ansi);
  }
}

TEST(MemoChunksTest, SixteenBitSequenceNumbersLimitAMemoTo16MiB) {
  const MemoFormat blob{true, false, false};
  const MemoFormat text{};
  struct Case {
    const char* what;
    size_t size;
    uint8_t fill;
    MemoFormat format;
    bool fits;
  };
  const Case cases[] = {
      {"blob of exactly 16 MiB", kMaxMemoContents, 0x5A, blob, true},
      {"blob one byte longer", kMaxMemoContents + 1, 0x5A, blob, false},
      {"blob of 16 MiB of spaces", kMaxMemoContents + 1, ' ', blob, false},
      {"text of 16 MiB", kMaxMemoContents, 'x', text, true},
      {"text one byte longer", kMaxMemoContents + 1, 'x', text, false},
      {"text longer, but only spaces past 16 MiB", kMaxMemoContents + 300, ' ', text, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes contents(c.size, c.fill);
    if (c.fill == ' ' && !c.format.blob) contents[kMaxMemoContents - 1] = 'x';
    EXPECT_EQ(memo_fits(contents, c.format), c.fits);
    if (!c.fits) {
      // Never a second chunk with an already used sequence number.
      EXPECT_EQ(check_of([&] { memo_chunk_records(kTable, kRecord, 0, contents, c.format); }), 824);
      continue;
    }
    const auto chunks = memo_chunk_records(kTable, kRecord, 0, contents, c.format);
    ASSERT_EQ(chunks.size(), kMaxMemoChunks);
    EXPECT_EQ(read_memo_chunk(chunks.back())->sequence, 0xFFFF);
    const auto back = read_memo_contents(chunks, c.format);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size(), kMaxMemoContents);
    EXPECT_TRUE(std::equal(back->begin(), back->end(), contents.begin()));
  }
}

TEST(MemoChunksTest, DamagedChunksAreRefused) {
  const MemoFormat blob{true, false, false};
  const auto chunks = memo_chunk_records(kTable, kRecord, 1, Bytes(600, 7), blob);
  std::vector<Record> missing = {chunks[0], chunks[2]};
  EXPECT_FALSE(read_memo_contents(missing, blob));
  std::vector<Record> other_memo = chunks;
  other_memo[1] = memo_chunk(kTable, kRecord, 2, 1, Bytes(256, 7));
  EXPECT_FALSE(read_memo_contents(other_memo, blob));
  std::vector<Record> wrong_length = chunks;
  wrong_length.pop_back();
  EXPECT_FALSE(read_memo_contents(wrong_length, blob));
  std::vector<Record> too_long = {memo_chunk(kTable, kRecord, 1, 0, Bytes(260, 1))};
  EXPECT_FALSE(read_memo_contents(too_long, MemoFormat{}));  // 260 only for a blob's first
}

}  // namespace
}  // namespace vtn::tarnwell
