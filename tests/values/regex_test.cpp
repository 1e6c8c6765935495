#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/regex_compile.hpp"

namespace vtn {
namespace {

constexpr size_t npos = RegexMatch::npos;

class RegexTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_char_tables(); }
  void TearDown() override { reset_char_tables(); }
};

TEST_F(RegexTest, CompileFailures) {
  const std::pair<std::string, RegexError> cases[] = {
      {"a**", RegexError::kNestedRepeat},
      {"a*+", RegexError::kNestedRepeat},
      {"a??", RegexError::kNestedRepeat},
      {"{ab}+*", RegexError::kNestedRepeat},
      {"*a", RegexError::kRepeatFollowsNothing},
      {"a|+b", RegexError::kRepeatFollowsNothing},
      {"{?}", RegexError::kRepeatFollowsNothing},
      {"{a", RegexError::kUnmatchedOpenBrace},
      {"{{a}", RegexError::kUnmatchedOpenBrace},
      {"a}", RegexError::kUnmatchedCloseBrace},
      {"{a}}", RegexError::kUnmatchedCloseBrace},
      {"[abc", RegexError::kUnclosedClass},
      {"[", RegexError::kUnclosedClass},
      {"[^", RegexError::kUnclosedClass},
      {"[]", RegexError::kUnclosedClass},  // "]" first is a member
      {"[z-a]", RegexError::kBackwardRange},
      {"a\\", RegexError::kTrailingBackslash},
      {"{a?}*", RegexError::kEmptyOperand},
      {"{a|}+", RegexError::kEmptyOperand},
      {"^*", RegexError::kEmptyOperand},
      {"$+", RegexError::kEmptyOperand},
      {"{}*", RegexError::kEmptyOperand},
      {"{a*}+", RegexError::kEmptyOperand},
      {std::string(CompiledRegex::kMaxNesting + 1, '{') + "a" +
           std::string(CompiledRegex::kMaxNesting + 1, '}'),
       RegexError::kTooDeep},
  };
  for (const auto& [pattern, expected] : cases) {
    RegexError error = RegexError::kNone;
    EXPECT_FALSE(compile_regex(pattern, false, &error).has_value()) << pattern;
    EXPECT_EQ(error, expected) << pattern << ": " << regex_error_text(error);
  }
}

TEST_F(RegexTest, ValidPatternsThatLookOdd) {
  const std::string deepest = std::string(CompiledRegex::kMaxNesting, '{') + "a" +
                              std::string(CompiledRegex::kMaxNesting, '}');
  const std::string patterns[] = {"{a}*",  "{a?}?",  "^?",       "[a-a]", "[]-]",
                                  "[--/]", "{}",     "a|",       "|",     "[~]]",
                                  "\\*",   "{ab}+c", "x{a|b}?y", "a^b",   deepest};
  for (const std::string& p : patterns) {
    RegexError error = RegexError::kNone;
    EXPECT_TRUE(compile_regex(p, false, &error).has_value())
        << p << ": " << regex_error_text(error);
  }
}

struct SearchCase {
  std::string pattern;
  std::string text;
  bool fold;
  size_t begin;  // npos: no match
  size_t end;
  int group = -1;  // a group to check, with its span
  size_t group_begin = npos;
  size_t group_end = npos;
};

TEST_F(RegexTest, SearchFindsTheFirstMatchAndItsGroups) {
  const SearchCase cases[] = {
      {"[0-9]+$", "abc123", false, 3, 6},
      {"{ab}+c", "abc123", false, 0, 3, 0, 0, 2},
      {"{ab}+c", "xababc", false, 1, 6, 0, 3, 5},  // a repeated group keeps its last round
      {"a|b", "xb", false, 1, 2},
      {"b|ab", "xab", false, 1, 3},              // the first position wins over the alternative
      {"{a|ab}c", "abc", false, 0, 3, 0, 0, 2},  // the first alternative fails, the second fits
      {"x*y", "xxxy", false, 0, 4},
      {"a*", "bbb", false, 0, 0},
      {"a*", "", false, 0, 0},
      {"$", "abc", false, 3, 3},
      {"^abc", "xabc", false, npos, npos},
      {"c$", "abc", false, 2, 3},
      {"a^b", "ab", false, npos, npos},
      {"a.c", "xabcx", false, 1, 4},
      {"a.c", "ac", false, npos, npos},
      {"\\.", "ab.c", false, 2, 3},
      {"\\{a\\}", "x{a}", false, 1, 4},
      {"[]a]+", "x]a]", false, 1, 4},
      {"[^]a]", "]ab", false, 2, 3},
      {"[~a-c]+", "abcdeab", false, 3, 5},
      {"[a-]", "x-", false, 1, 2},
      {"[-a]+", "x-a", false, 1, 3},
      {"[a\\]+", "x\\a", false, 1, 3},  // no escapes inside a class
      {"[a-c-e]+", "xcdeb", false, 1, 5},
      {"ab*", "a", false, 0, 1},  // the run gives its last character to "*"
      {"ab+", "a", false, npos, npos},
      {"abc?", "ab", false, 0, 2},
      {"x{a|b}?y", "xy", false, 0, 2, 0, npos, npos},
      {"x{a|b}?y", "xby", false, 0, 3, 0, 1, 2},
      {"{a}{b}", "ab", false, 0, 2, 1, 1, 2},
      {"{{a}b}*c", "ababc", false, 0, 5, 1, 2, 3},
      {"a|", "x", false, 0, 0},
      {"{}", "x", false, 0, 0},
      {"a*ab", "aaab", false, 0, 4},  // "*" gives characters back one by one
      {"[a-z]*[0-9]", "abc", false, npos, npos},
      {"[a-c]+", "xABC", true, 1, 4},
      {"ABC", "xabc", true, 1, 4},
      {"[^a]", "A", true, npos, npos},
      {"abc", "ABC", false, npos, npos},
      {std::string("a\0b", 3), std::string("xa\0b", 4), false, 1, 4},
      {"{a}{b}{c}{d}{e}{f}{g}{h}{i}{j}{k}", "abcdefghijk", false, 0, 11, 9, 9, 10},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE("'" + c.pattern + "' in '" + c.text + "'");
    RegexError error = RegexError::kNone;
    const auto re = compile_regex(c.pattern, c.fold, &error);
    ASSERT_TRUE(re.has_value()) << regex_error_text(error);
    RegexMatch m;
    const RegexSearchResult r = regex_search(*re, c.text, &m);
    EXPECT_FALSE(r.exhausted);
    EXPECT_EQ(r.matched, c.begin != npos);
    if (!r.matched) continue;
    EXPECT_EQ(m.whole.begin, c.begin);
    EXPECT_EQ(m.whole.end, c.end);
    if (c.group >= 0) {
      EXPECT_EQ(m.groups[c.group].begin, c.group_begin);
      EXPECT_EQ(m.groups[c.group].end, c.group_end);
    }
  }
}

TEST_F(RegexTest, ProgramShapeAndShortcuts) {
  struct Case {
    std::string pattern;
    std::vector<RegexOp> ops;  // the nodes in program order
    int first_char;
    bool anchored;
    std::string required;
  };
  using O = RegexOp;
  const Case cases[] = {
      {"ab*", {O::kBranch, O::kExactly, O::kStar, O::kExactly, O::kEnd}, 'a', false, "a"},
      {"^abc", {O::kBranch, O::kBol, O::kExactly, O::kEnd}, -1, true, "abc"},
      {"a|b", {O::kBranch, O::kExactly, O::kBranch, O::kExactly, O::kEnd}, -1, false, ""},
      {"x+abcd", {O::kBranch, O::kPlus, O::kExactly, O::kExactly, O::kEnd}, -1, false, "abcd"},
      {"[0-9]+$", {O::kBranch, O::kPlus, O::kAnyOf, O::kEol, O::kEnd}, -1, false, ""},
      {"[^a].", {O::kBranch, O::kAnyBut, O::kAny, O::kEnd}, -1, false, ""},
      {"{ab}*",
       {O::kBranch, O::kBranch, O::kOpen, O::kBranch, O::kExactly, O::kClose, O::kBack, O::kBranch,
        O::kNothing, O::kEnd},
       -1,
       false,
       ""},
      {"{ab}+",
       {O::kBranch, O::kOpen, O::kBranch, O::kExactly, O::kClose, O::kBranch, O::kBack, O::kBranch,
        O::kNothing, O::kEnd},
       -1,
       false,
       ""},
      {"b?",
       {O::kBranch, O::kBranch, O::kExactly, O::kBranch, O::kNothing, O::kEnd},
       -1,
       false,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const auto re = compile_regex(c.pattern, false);
    ASSERT_TRUE(re.has_value());
    std::vector<RegexOp> ops;
    for (const RegexNode& n : re->program) ops.push_back(n.op);
    EXPECT_EQ(ops, c.ops);
    EXPECT_EQ(re->first_char, c.first_char);
    EXPECT_EQ(re->anchored, c.anchored);
    EXPECT_EQ(re->required, c.required);
  }
  // Loops link backwards.
  const auto loop = compile_regex("{ab}*", false);
  EXPECT_LT(loop->program[6].next, 0);
}

TEST_F(RegexTest, AtMostTenGroupsAreRecorded) {
  std::string pattern;
  for (char c = 'a'; c <= 'l'; ++c) pattern += std::string("{") + c + "}";
  const auto re = compile_regex(pattern, false);
  ASSERT_TRUE(re.has_value());
  EXPECT_EQ(re->group_count, CompiledRegex::kMaxGroups);
  RegexMatch m;
  ASSERT_TRUE(regex_search(*re, "abcdefghijkl", &m).matched);
  EXPECT_EQ(m.whole.end, 12u);
  for (int g = 0; g < CompiledRegex::kMaxGroups; ++g) EXPECT_EQ(m.groups[g].begin, size_t(g));
}

TEST_F(RegexTest, FoldingUsesTheLocaleCaseTables) {
  CharTables& t = char_tables();
  t.case_partner[0xC0] = 0xE0;
  t.case_partner[0xE0] = 0xC0;
  t.case_class[0xC0] = kClassUpper;
  t.case_class[0xE0] = kClassLower;
  const auto literal = compile_regex("x\xE0", true);
  EXPECT_TRUE(regex_search(*literal, "X\xC0").matched);
  const auto range = compile_regex("[\xE0-\xE1]", true);
  EXPECT_TRUE(regex_search(*range, "\xC0").matched);
  const auto plain = compile_regex("x\xE0", false);
  EXPECT_FALSE(regex_search(*plain, "X\xC0").matched);
}

TEST_F(RegexTest, PathologicalBacktrackingStopsAtTheWorkLimit) {
  const auto re = compile_regex("{{a+}+}+$", false);
  ASSERT_TRUE(re.has_value());
  const std::string text = std::string(40, 'a') + "X";
  const RegexSearchResult r = regex_search(*re, text);
  EXPECT_FALSE(r.matched);
  EXPECT_TRUE(r.exhausted);
  // The same pattern with a text it matches is found before the limit.
  EXPECT_TRUE(regex_search(*re, std::string(40, 'a')).matched);
}

TEST_F(RegexTest, LongTextsNeedNoDeepRecursion) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "ab";
  const auto re = compile_regex("^{ab}*c", false);
  RegexSearchResult r = regex_search(*re, text + "c");
  EXPECT_TRUE(r.matched);
  EXPECT_FALSE(r.exhausted);
  r = regex_search(*re, text + "d");
  EXPECT_FALSE(r.matched);
  EXPECT_FALSE(r.exhausted);
}

TEST_F(RegexTest, LargePatterns) {
  // Many alternatives: the last one is the one that fits.
  std::string alternatives;
  for (int i = 0; i < 20000; ++i) alternatives += "a" + std::to_string(i) + "b|";
  alternatives += "zz";
  const auto many = compile_regex(alternatives, false);
  ASSERT_TRUE(many.has_value());
  EXPECT_TRUE(regex_search(*many, "xxa19999b").matched);
  EXPECT_TRUE(regex_search(*many, "xzz").matched);
  EXPECT_FALSE(regex_search(*many, "a20000b").matched);
  // A long literal run and many repeated pieces.
  const std::string run(100000, 'q');
  EXPECT_TRUE(regex_search(*compile_regex(run, false), "x" + run).matched);
  std::string pieces = "^";  // one start position: unanchored, a failing search is quadratic
  for (int i = 0; i < 5000; ++i) pieces += "[a-c]?{d|e}+";
  const auto repeated = compile_regex(pieces, false);
  ASSERT_TRUE(repeated.has_value());
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "ad";  // one piece for each "ad"
  RegexSearchResult r = regex_search(*repeated, text);
  EXPECT_TRUE(r.matched);
  EXPECT_FALSE(r.exhausted);
  r = regex_search(*repeated, text.substr(0, text.size() - 2));  // one piece short
  EXPECT_FALSE(r.matched);
  EXPECT_FALSE(r.exhausted);
}

// Whether a match exists does not depend on the order in which a backtracking matcher tries its
// choices, so on the common part of the two grammars the answer must be that of std::regex.
std::string random_pattern(std::mt19937& random, int depth) {
  std::string p;
  const int pieces = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < pieces; ++i) {
    std::string atom;
    switch (random() % 8) {
      case 0:
        atom = ".";
        break;
      case 1:
        atom = random() % 2 ? "[a-b]" : "[^a]";
        break;
      case 2:
        if (depth < 3) {
          atom = "{" + random_pattern(random, depth + 1);
          if (random() % 3 == 0) atom += "|" + random_pattern(random, depth + 1);
          atom += "}";
          break;
        }
        [[fallthrough]];
      default:
        atom = std::string(1, "abc"[random() % 3]);
    }
    p += atom;
    switch (random() % 5) {
      case 0:
        p += "*";
        break;
      case 1:
        p += "+";
        break;
      case 2:
        p += "?";
        break;
      default:
        break;
    }
  }
  if (random() % 6 == 0) p = "^" + p;
  if (random() % 6 == 0) p += "$";
  return p;
}

std::string to_ecmascript(const std::string& p) {
  std::string out;
  for (char c : p) out += c == '{' ? '(' : c == '}' ? ')' : c;
  return out;
}

TEST_F(RegexTest, AgreesWithStdRegexOnTheCommonGrammar) {
  std::mt19937 random(5);
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = random_pattern(random, 0);
    const auto re = compile_regex(pattern, false);
    if (!re) continue;  // e.g. "*" on an item that can be empty, which std::regex allows
    const std::regex reference(to_ecmascript(pattern), std::regex::ECMAScript);
    for (int t = 0; t < 5; ++t) {
      std::string text(random() % 8, 'a');
      for (char& ch : text) ch = "abcd"[random() % 4];
      const RegexSearchResult r = regex_search(*re, text);
      ASSERT_FALSE(r.exhausted);
      ASSERT_EQ(r.matched, std::regex_search(text, reference))
          << "'" << pattern << "' in '" << text << "'";
      ++compared;
    }
  }
  EXPECT_GT(compared, 5000);
}

}  // namespace
}  // namespace vtn
