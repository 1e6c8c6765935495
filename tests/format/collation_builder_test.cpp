#include "runtime/format/collation_builder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/collation_order.hpp"

namespace vtn {
namespace {

std::array<uint8_t, 256> identity() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<uint8_t>(c);
  return t;
}

// The 95 printable characters and the 127 codes 80h-FEh, each in reverse order.
std::string reversed_full_order() {
  std::string s;
  for (int c = 0x7E; c >= 0x20; --c) s += static_cast<char>(c);
  for (int c = 0xFE; c >= 0x80; --c) s += static_cast<char>(c);
  return s;
}

TEST(CollationBuilder, ExchangeRule) {
  struct Case {
    std::string sequence;
    std::vector<std::pair<uint8_t, uint8_t>> changed;  // code, rank; all else identity
  };
  const Case cases[] = {
      {"", {}},
      {"ba", {{'b', 'a'}, {'a', 'b'}}},
      {"cab", {{'c', 'a'}, {'a', 'b'}, {'b', 'c'}}},
      {"baba", {{'b', 'a'}, {'a', 'b'}}},                    // repeats count once
      {std::string("ba\0dc", 5), {{'b', 'a'}, {'a', 'b'}}},  // ends at NUL
      {"b,a", {{'b', ','}, {',', 'a'}, {'a', 'b'}}},         // commas are characters
      {"abc", {}},                                           // already in order
  };
  for (const Case& c : cases) {
    auto expected = identity();
    for (auto [code, rank] : c.changed) expected[code] = rank;
    EXPECT_EQ(build_collation_table(c.sequence), expected) << c.sequence;
  }
}

TEST(CollationBuilder, FullOrderOf222Characters) {
  const std::string order = reversed_full_order();
  ASSERT_EQ(order.size(), 222u);
  const auto table = build_collation_table(order);
  EXPECT_EQ(table['~'], 0x20);
  EXPECT_EQ(table[' '], 0x7E);
  EXPECT_EQ(table['a'], 0x20 + ('~' - 'a'));
  EXPECT_EQ(table[0xFE], 0x80);
  EXPECT_EQ(table[0x80], 0xFE);
  for (int c : {0x00, 0x0A, 0x1F, 0x7F, 0xFF}) EXPECT_EQ(table[c], c);
  EXPECT_EQ(std::set<uint8_t>(table.begin(), table.end()).size(), 256u);  // a permutation

  // With a repeat it is no longer the full order: the exchange rule applies.
  std::string repeated = order;
  repeated[5] = repeated[6];
  repeated += '\x01';
  const auto exchanged = build_collation_table(repeated);
  EXPECT_EQ(exchanged['~'], 0x01);   // the smallest code goes to the first character
  EXPECT_EQ(exchanged[0x01], 0xFE);  // and the largest to the last
}

TEST(CollationBuilder, WindowsSequence) {
  const std::string seq = windows_collation_sequence();
  ASSERT_EQ(seq.size(), 254u);
  EXPECT_EQ(std::set<char>(seq.begin(), seq.end()).size(), 254u);
  EXPECT_EQ(seq.find('\0'), std::string::npos);
  EXPECT_EQ(seq.find('\xFF'), std::string::npos);
  for (size_t i = 1; i < seq.size(); ++i) {
    const auto a = static_cast<uint8_t>(seq[i - 1]);
    const auto b = static_cast<uint8_t>(seq[i]);
    const int order = platform::compare_one_character_texts(a, b);
    EXPECT_LE(order, 0) << i;
    if (order == 0) {
      EXPECT_LT(a, b) << "equal characters keep code order";
    }
  }
  EXPECT_LT(seq.find('a'), seq.find('A'));
  EXPECT_LT(seq.find('A'), seq.find('b'));
  EXPECT_LT(seq.find('z'), seq.find('\xE0'));     // Latin, then Cyrillic
  EXPECT_LT(seq.find('\xC5'), seq.find('\xB8'));  // Е before ё
}

TEST(CollationBuilder, ApplyBuildsBothTables) {
  CharTables t;
  reset_collation(t);

  apply_collation_sequence(t, "ba");
  EXPECT_EQ(t.collation_ansi['a'], 'b');
  EXPECT_EQ(t.collation_oem['a'], 'b');

  // In OEM mode the sequence is OEM text: A1h A0h is "ба" in 866, E1h E0h in 1251.
  t.oem_flag = true;
  apply_collation_sequence(t, "\xA1\xA0");
  EXPECT_EQ(t.collation_oem[0xA1], 0xA0);
  EXPECT_EQ(t.collation_oem[0xA0], 0xA1);
  EXPECT_EQ(t.collation_ansi[0xE1], 0xE0);
  EXPECT_EQ(t.collation_ansi[0xE0], 0xE1);

  apply_collation_sequence(t, "Windows");
  EXPECT_FALSE(t.oem_flag);
  EXPECT_LT(t.collation_ansi['a'], t.collation_ansi['A']);
  EXPECT_LT(t.collation_ansi['Z'], t.collation_ansi[0xE0]);
  EXPECT_EQ(t.collation_ansi[0xFF], 0xFF);  // я is outside the sequence and stays last
  // The OEM table orders the same letters the same way.
  const uint8_t oem_a = platform::ansi_to_oem_char(0xE0);
  const uint8_t oem_ya = platform::ansi_to_oem_char(0xDF);
  EXPECT_LT(t.collation_oem[oem_a], t.collation_oem[oem_ya]);

  apply_collation_sequence(t, "");
  EXPECT_EQ(t.collation_ansi, identity());
  EXPECT_EQ(t.collation_oem, identity());
}

}  // namespace
}  // namespace vtn
