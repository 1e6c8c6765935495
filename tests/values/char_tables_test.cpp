#include "runtime/values/char_tables.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vtn {
namespace {

int sign(int v) {
  return (v > 0) - (v < 0);
}

class CharTablesTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_char_tables(); }
  void TearDown() override { reset_char_tables(); }
};

TEST_F(CharTablesTest, BlankPaddedComparison) {
  struct Case {
    std::string a, b;
    int expected;
  };
  const Case cases[] = {
      {"", "", 0},        {"abc", "abc", 0}, {"abc", "abc   ", 0},  // trailing blanks never count
      {"ab", "abc", -1},  {"abd", "abc", 1}, {"B", "a", -1},        // code order by default
      {"a\x01", "a", -1}, {"\xE0", "z", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sign(collated_compare(c.a, c.b)), c.expected) << c.a << " / " << c.b;
  }
}

TEST_F(CharTablesTest, RanksDecideAndOemTableServesOemText) {
  CharTables& t = char_tables();
  std::swap(t.collation_ansi['a'], t.collation_ansi['b']);
  EXPECT_GT(collated_compare("a", "b"), 0);
  EXPECT_EQ(collated_compare("a", "b"), compare_char_rank('a', 'b'));
  EXPECT_GT(collated_compare_cstr("xa", "xb"), 0);
  t.oem_flag = true;  // the OEM table is still in code order
  EXPECT_LT(collated_compare("a", "b"), 0);
  EXPECT_LT(compare_char_rank('a', 'b'), 0);
}

TEST_F(CharTablesTest, DigraphsExpand) {
  CharTables& t = char_tables();
  t.digraphs_ansi[0] = {'&', 'a', 'e'};
  t.digraphs_ansi[1] = {};
  struct Case {
    std::string a, b;
    int expected;
  };
  const Case cases[] = {
      {"&", "ae", 0},    {"&b", "aec", -1}, {"&", "ad", 1},
      {"&", "af", -1},   {"a&", "aae", 0},  {"&", "a", 1},  // "ae" against "a" and a blank
      {"&&", "aeae", 0}, {"x&", "xae ", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sign(collated_compare(c.a, c.b)), c.expected) << c.a << " / " << c.b;
    EXPECT_EQ(sign(collated_compare(c.b, c.a)), -c.expected) << c.b << " / " << c.a;
  }
  // Without padding an ended text is at its end: "ae" is longer than "a".
  EXPECT_EQ(collated_compare_cstr("&", "ae"), 0);
  EXPECT_GT(collated_compare_cstr("&", "a"), 0);
  EXPECT_LT(collated_compare_cstr("&", "aex"), 0);
  // OEM text uses the OEM copy, which has no digraphs here.
  t.oem_flag = true;
  EXPECT_LT(collated_compare("&", "ae"), 0);
}

TEST_F(CharTablesTest, NulTerminatedComparison) {
  EXPECT_EQ(collated_compare_cstr("abc", "abc"), 0);
  EXPECT_LT(collated_compare_cstr("ab", "abc"), 0);
  EXPECT_GT(collated_compare_cstr("abd", "abc"), 0);
  EXPECT_LT(collated_compare_cstr("ab", "ab "), 0);  // no padding
}

TEST_F(CharTablesTest, CaseMappingAndClasses) {
  char text[] = "abc\0def";
  to_upper(text, kUpToNul);
  EXPECT_EQ(std::string(text, 7), std::string("ABC\0def", 7));
  to_lower(text, 2);
  EXPECT_EQ(std::string(text, 3), "abC");

  struct Case {
    uint8_t c;
    bool upper, alnum, alpha;
    uint8_t to_upper, to_lower;
  };
  const Case cases[] = {
      {'A', true, true, true, 'A', 'a'},       {'q', false, true, true, 'Q', 'q'},
      {'7', false, true, false, '7', '7'},     {'-', false, false, false, '-', '-'},
      {0xC0, false, false, false, 0xC0, 0xC0},  // Cyrillic only once the locale says so
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.c));
    EXPECT_EQ(is_upper_char(c.c), c.upper);
    EXPECT_EQ(is_alphanumeric_char(c.c), c.alnum);
    EXPECT_EQ(is_alpha_char(c.c), c.alpha);
    EXPECT_EQ(to_upper_char(c.c), c.to_upper);
    EXPECT_EQ(to_lower_char(c.c), c.to_lower);
  }
}

}  // namespace
}  // namespace vtn
