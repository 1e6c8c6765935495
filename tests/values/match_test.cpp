#include "runtime/values/match.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

class MatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    string_stack().clear();
    reset_char_tables();
    clear_regex_cache();
  }
  void TearDown() override {
    string_stack().clear();
    reset_char_tables();
    clear_regex_cache();
  }
};

struct Case {
  std::string text;
  std::string pattern;
  int32_t mode;
  bool expected;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "'" << c.text << "' ~ '" << c.pattern << "' mode " << c.mode);
    EXPECT_EQ(match(c.text, c.pattern, c.mode), c.expected);
    string_stack().push_copy(c.pattern);
    string_stack().push_copy(c.text);
    EXPECT_EQ(MATCH(c.mode), c.expected ? 1 : 0);
    EXPECT_EQ(string_stack().depth(), 0);
  }
}

TEST_F(MatchTest, Exact) {
  check({
      {"Hello", "Hello", 0, true},
      {"Hello", "hello", 0, false},
      {"Hello", "hello", 16, true},
      {"Hello   ", "Hello", 0, true},  // trailing spaces never matter
      {"Hello", "Hello  ", 0, true},
      {" Hello", "Hello", 0, false},
      {"Hell", "Hello", 0, false},
      {"", "", 0, true},
      {"", "   ", 0, true},
      {"a*", "a*", 0, true},  // no wildcards in this mode
      {"ab", "a*", 0, false},
  });
}

TEST_F(MatchTest, Wildcard) {
  check({
      {"Hello", "h*o", 1, false},
      {"Hello", "h*o", 17, true},
      {"Hello", "H*o", 1, true},
      {"Hello", "H?llo", 1, true},
      {"Hello", "H?lo", 1, false},
      {"Hello", "*", 1, true},
      {"", "*", 1, true},
      {"", "?", 1, false},
      {"", "", 1, true},
      {"a", "", 1, false},
      {"abc", "*c", 1, true},
      {"abc", "*b", 1, false},  // the part after the last "*" must end the text
      {"abcbc", "*b*c", 1, true},
      {"abcbd", "*b*c", 1, false},
      {"abc", "a*b*c", 1, true},
      {"ac", "a*b*c", 1, false},
      {"mississippi", "m*iss*ppi", 1, true},
      {"mississippi", "m*is?is*", 1, true},
      {"mississippi", "m*iss*pi?", 1, false},
      {"ab", "**ab**", 1, true},
      {"ABC.TXT", "*.txt", 17, true},
      {"ABC.TXT", "*.txt", 1, false},
      {"abc   ", "a?c", 1, true},
      {"x", "*???", 1, false},  // backward check: a tail longer than the text
  });
}

// A plain reference matcher: every length for every "*", shortest first.
bool reference_wildcard(std::string_view t, std::string_view p) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') {
    for (size_t n = 0; n <= t.size(); ++n) {
      if (reference_wildcard(t.substr(n), p.substr(1))) return true;
    }
    return false;
  }
  if (t.empty()) return false;
  return (p[0] == '?' || p[0] == t[0]) && reference_wildcard(t.substr(1), p.substr(1));
}

TEST_F(MatchTest, WildcardAgreesWithExhaustiveSearch) {
  std::mt19937 random(11);
  const char pattern_chars[] = "ab*?";
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 9, 'a');
    for (char& ch : text) ch = "ab"[random() % 2];
    std::string pattern(random() % 7, 'a');
    for (char& ch : pattern) ch = pattern_chars[random() % 4];
    ASSERT_EQ(match_wildcard(text, pattern, false), reference_wildcard(text, pattern))
        << "'" << text << "' ~ '" << pattern << "'";
  }
}

TEST_F(MatchTest, WildcardDoesNotBacktrackExponentially) {
  const std::string text(20000, 'a');
  EXPECT_FALSE(match(text, "*a*a*a*a*a*a*a*a*a*a*b*", 1));
  EXPECT_TRUE(match(text + "b", "*a*a*a*a*a*a*a*a*a*a*b*", 1));
}

TEST_F(MatchTest, Regular) {
  check({
      {"abc123", "[0-9]+$", 2, true},
      {"abc123", "{ab}+c", 2, true},
      {"abc123", "a**", 2, false},  // does not compile
      {"abc123", "^[0-9]", 2, false},
      {"ABC123", "abc", 2, false},
      {"ABC123", "abc", 18, true},
      {"ABC123", "[a-c]+1", 18, true},
      {"abc", "[^A-Z]", 18, false},
      {"abc   ", "c$", 2, true},  // the text loses its trailing spaces
      {"abc", "abc ", 2, true},   // and so does the pattern
      {"", "", 2, true},
      {"", "^$", 2, true},
      {"x", "{", 2, false},
  });
}

TEST_F(MatchTest, SoundAlike) {
  check({
      {"Smith", "Smyth", 3, true},
      {"Robert", "Rupert", 3, true},
      {"Robert", "Rubin", 3, false},
      {"123", "--", 3, true},  // both !000
      {"Smith", "smith", 3, true},
  });
  const std::pair<std::string, std::string> codes[] = {
      {"Smith", "S530"},      {"Smyth", "S530"},  {"Jackson", "J500"},  // codes like the first go
      {"Robert", "R130"},     {"Rupert", "R130"}, {"Tymczak", "T522"},  // R, then 1 and 3
      {"Pfister", "P236"},    {"Lee", "L000"},    {"", "!000"},         {"1234", "!000"},
      {"  --o'Hara", "O600"}, {"a-b c", "A120"},  {"Bbbbbbbb", "B000"}, {"Mammal", "M400"},
  };
  for (const auto& [text, code] : codes) EXPECT_EQ(sound_alike_code(text), code) << text;
}

TEST_F(MatchTest, SoundAlikeStartsWithTheLocalesFirstLetter) {
  CharTables& t = char_tables();
  t.case_partner[0xC0] = 0xE0;
  t.case_partner[0xE0] = 0xC0;
  t.case_class[0xC0] = kClassUpper;
  t.case_class[0xE0] = kClassLower;
  // A letter of the locale starts the code; letters outside A-Z add nothing after it.
  EXPECT_EQ(sound_alike_code("1\xE0\xE0mt"),
            "\xC0"
            "530");
}

TEST_F(MatchTest, UnknownModesNeverMatch) {
  for (int32_t mode : {4, 5, 15, 20, 31}) EXPECT_FALSE(match("a", "a", mode)) << mode;
  EXPECT_TRUE(match("a", "A", 32 + 16)) << "only the low four bits choose the mode";
}

TEST_F(MatchTest, RegularExpressionCacheKeysOnPatternAndCase) {
  const uint64_t start = regex_cache_compiles();
  EXPECT_TRUE(match("abc", "b+", 2));
  EXPECT_TRUE(match("xbx", "b+", 2));
  EXPECT_EQ(regex_cache_compiles() - start, 1u);
  EXPECT_TRUE(match("xBx", "b+", 18));
  EXPECT_EQ(regex_cache_compiles() - start, 2u);
  EXPECT_FALSE(match("xyz", "b+", 18));
  EXPECT_EQ(regex_cache_compiles() - start, 2u);
  EXPECT_FALSE(match("xyz", "a**", 2));
  EXPECT_FALSE(match("aaa", "a**", 2));
  EXPECT_EQ(regex_cache_compiles() - start, 3u) << "a failed compile is kept too";
}

TEST_F(MatchTest, FoldingExpressionFollowsChangedCaseTables) {
  EXPECT_FALSE(match("\xE0", "\xC0", 18));
  CharTables& t = char_tables();
  t.case_partner[0xC0] = 0xE0;
  t.case_partner[0xE0] = 0xC0;
  t.case_class[0xC0] = kClassUpper;
  t.case_class[0xE0] = kClassLower;
  EXPECT_TRUE(match("\xE0", "\xC0", 18));
}

}  // namespace
}  // namespace vtn
