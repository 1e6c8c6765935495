#include "runtime/values/string_functions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

class StringFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    string_stack().clear();
    reset_char_tables();
  }
  void TearDown() override {
    string_stack().clear();
    reset_char_tables();
  }
};

// One text-to-text function, run both through the C++ face and on the stack, the stack once with a
// borrowed and once with an owned entry.
struct ShapeCase {
  const char* name;
  std::string text;
  int32_t length;  // -1: the function's default length
  std::string expected;
};

enum class Shape { kLeft, kRight, kCenter };

std::string by_value(Shape shape, const ShapeCase& c) {
  switch (shape) {
    case Shape::kLeft:
      return c.length < 0 ? left(c.text) : left(c.text, c.length);
    case Shape::kRight:
      return c.length < 0 ? right(c.text) : right(c.text, c.length);
    case Shape::kCenter:
      return c.length < 0 ? center(c.text) : center(c.text, c.length);
  }
  return {};
}

void on_stack(Shape shape, int32_t length) {
  switch (shape) {
    case Shape::kLeft:
      length < 0 ? LEFT() : LEFT(length);
      break;
    case Shape::kRight:
      length < 0 ? RIGHT() : RIGHT(length);
      break;
    case Shape::kCenter:
      length < 0 ? CENTER() : CENTER(length);
      break;
  }
}

void check_shape(Shape shape, const std::vector<ShapeCase>& cases) {
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(by_value(shape, c), c.expected);

    const std::string storage = c.text;
    string_stack().push_borrowed(storage);
    on_stack(shape, c.length);
    EXPECT_EQ(string_stack().pop_string(), c.expected) << "borrowed";
    EXPECT_EQ(storage, c.text) << "borrowed storage must not change";

    string_stack().push_copy(c.text);
    on_stack(shape, c.length);
    EXPECT_EQ(string_stack().pop_string(), c.expected) << "owned";
    EXPECT_EQ(string_stack().depth(), 0);
  }
}

TEST_F(StringFunctionsTest, Left) {
  check_shape(Shape::kLeft, {
                                {"default keeps length", "  ab  ", -1, "ab    "},
                                {"pads", "  ab", 5, "ab   "},
                                {"cuts", "   abcdef", 3, "abc"},
                                {"all spaces", "    ", 2, "  "},
                                {"zero", "abc", 0, ""},
                                {"empty text padded", "", 3, "   "},
                            });
}

TEST_F(StringFunctionsTest, Right) {
  check_shape(Shape::kRight, {
                                 {"default keeps length", "ab   ", -1, "   ab"},
                                 {"wider than text", "ab", 5, "   ab"},
                                 {"trailing spaces then pad", "ab  ", 6, "    ab"},
                                 {"too long drops the front", "abcdef  ", 3, "def"},
                                 {"leading spaces kept", " ab ", 4, "  ab"},
                                 {"all spaces", "   ", 2, "  "},
                                 {"zero", "abc", 0, ""},
                             });
}

TEST_F(StringFunctionsTest, Center) {
  check_shape(Shape::kCenter, {
                                  {"odd space goes left", "abc", 6, "  abc "},
                                  {"cut drops one left", "abc", 2, "bc"},
                                  {"cut of four to one", "abcd", 1, "c"},
                                  {"cut of five to two", "abcde", 2, "cd"},
                                  {"cut of five to three", "abcde", 3, "bcd"},
                                  {"default length", "ab    ", -1, "  ab  "},
                                  {"surrounding spaces", "  x ", 5, "  x  "},
                                  {"exact fit", " abc ", 3, "abc"},
                                  {"all spaces", "    ", 3, "   "},
                                  {"zero", "abc", 0, ""},
                              });
}

TEST_F(StringFunctionsTest, NegativeLengthsCountAsZero) {
  EXPECT_EQ(left("abc", -4), "");
  EXPECT_EQ(right("abc", -4), "");
  EXPECT_EQ(center("abc", -4), "");
  EXPECT_EQ(sub("abc", 1, -4), "");
}

TEST_F(StringFunctionsTest, Sub) {
  struct Case {
    int32_t start;
    int32_t length;
    std::string expected;
  };
  const Case cases[] = {
      {-2, 5, "ef"},   {0, 2, "ab"}, {10, 3, ""},        {1, 6, "abcdef"},
      {3, 2, "cd"},    {6, 9, "f"},  {7, 1, ""},         {-6, 2, "ab"},
      {-20, 3, "abc"}, {2, 0, ""},   {1, 100, "abcdef"},
  };
  const std::string text = "abcdef";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start << " length " << c.length);
    EXPECT_EQ(sub(text, c.start, c.length), c.expected);
    string_stack().push_copy(text);
    SUB(c.start, c.length);
    EXPECT_EQ(string_stack().pop_string(), c.expected);
  }
}

TEST_F(StringFunctionsTest, BorrowedEntriesOnlyMovePointerAndLength) {
  const std::string storage = "   abcdef   ";
  struct Case {
    const char* name;
    void (*apply)();
    size_t offset;
    uint32_t length;
  };
  const Case cases[] = {
      {"CLIP", [] { CLIP(); }, 0, 9},          {"LEFT cut", [] { LEFT(4); }, 3, 4},
      {"SUB", [] { SUB(5, 3); }, 4, 3},        {"RIGHT cut", [] { RIGHT(2); }, 7, 2},
      {"CENTER cut", [] { CENTER(4); }, 4, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    string_stack().push_borrowed(storage);
    c.apply();
    const StackEntry& e = string_stack().entry(1);
    EXPECT_EQ(e.kind, StackEntryKind::kBorrowed);
    EXPECT_EQ(e.text, storage.data() + c.offset);
    EXPECT_EQ(e.length, c.length);
    string_stack().release();
  }
}

TEST_F(StringFunctionsTest, InlineEntriesCutInPlace) {
  string_stack().push_long(-12345);
  SUB(2, 3);
  EXPECT_EQ(string_stack().entry(1).kind, StackEntryKind::kInline);
  EXPECT_EQ(string_stack().pop_string(), "123");
  string_stack().push_real(2.5);
  RIGHT(5);
  EXPECT_EQ(string_stack().pop_string(), "  2.5");
}

// The shaping functions written out step by step, as the run-time defines them, to check the
// in-place arithmetic against: extend first, then strip, then move or cut.
namespace reference {
std::string strip_trailing(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
std::string strip_leading(std::string s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}
std::string left(const std::string& text, int64_t n) {
  std::string s = strip_leading(text);
  s.resize(static_cast<size_t>(std::max<int64_t>(n, 0)), ' ');
  return s;
}
std::string right(std::string text, int64_t n) {
  n = std::max<int64_t>(n, 0);
  if (n > static_cast<int64_t>(text.size())) text.resize(static_cast<size_t>(n), ' ');
  const std::string s = strip_trailing(text);
  const int64_t d = n - static_cast<int64_t>(s.size());
  if (d > 0) return std::string(static_cast<size_t>(d), ' ') + s;
  return s.substr(static_cast<size_t>(-d));
}
std::string center(std::string text, int64_t n) {
  n = std::max<int64_t>(n, 0);
  if (n > static_cast<int64_t>(text.size())) text.resize(static_cast<size_t>(n), ' ');
  const std::string s = strip_leading(strip_trailing(text));
  const int64_t p = n - static_cast<int64_t>(s.size());
  if (p > 0) {
    const int64_t before = (p + 1) / 2;
    return std::string(static_cast<size_t>(before), ' ') + s +
           std::string(static_cast<size_t>(p - before), ' ');
  }
  return s.substr(static_cast<size_t>((1 - p) / 2), static_cast<size_t>(n));
}
std::string sub(const std::string& text, int64_t start, int64_t length) {
  const auto size = static_cast<int64_t>(text.size());
  int64_t position = 0;
  if (start < 0) position = std::max<int64_t>(start + size, 0);
  if (start > 0) position = std::min<int64_t>(start - 1, size);
  const int64_t count = std::min(std::max<int64_t>(length, 0), size - position);
  return text.substr(static_cast<size_t>(position), static_cast<size_t>(count));
}
}  // namespace reference

// Chains of shaping functions applied to one stack entry: later steps work on what earlier
// steps left (an advanced pointer, an owned buffer longer than its text, padding written in
// place), so a slip in the in-place arithmetic shows up as a difference from the definitions.
TEST_F(StringFunctionsTest, ChainsOnOneEntryFollowTheDefinitions) {
  std::mt19937 random(7);
  auto pick = [&](int low, int high) {
    return low + static_cast<int>(random() % (high - low + 1));
  };
  for (int round = 0; round < 4000; ++round) {
    std::string text(static_cast<size_t>(pick(0, 12)), ' ');
    for (char& ch : text) ch = " ab"[random() % 3];
    const std::string storage = text;
    const bool borrowed = random() % 2 == 0;
    if (borrowed)
      string_stack().push_borrowed(storage);
    else
      string_stack().push_copy(storage);
    std::string expected = text;
    std::string steps;
    for (int step = 0; step < 3; ++step) {
      const int32_t n = pick(-2, 16);
      const int32_t start = pick(-16, 16);
      switch (random() % 6) {
        case 0:
          LEFT(n), expected = reference::left(expected, n), steps += " LEFT";
          break;
        case 1:
          RIGHT(n), expected = reference::right(expected, n), steps += " RIGHT";
          break;
        case 2:
          CENTER(n), expected = reference::center(expected, n), steps += " CENTER";
          break;
        case 3:
          SUB(start, n), expected = reference::sub(expected, start, n), steps += " SUB";
          break;
        case 4: {
          const auto length = static_cast<int64_t>(expected.size());
          CENTER(), expected = reference::center(expected, length), steps += " CENTER()";
          break;
        }
        default:
          CLIP(), expected = reference::strip_trailing(expected), steps += " CLIP";
          break;
      }
      steps += "(" + std::to_string(n) + "," + std::to_string(start) + ")";
    }
    ASSERT_EQ(string_stack().pop_string(), expected)
        << "'" << text << "'" << steps << (borrowed ? " borrowed" : " owned");
    ASSERT_EQ(storage, text) << "borrowed storage must not change";
  }
  EXPECT_EQ(string_stack().depth(), 0);
}

// The same definitions through the C++ face, over every length that matters for short texts.
TEST_F(StringFunctionsTest, ValueFaceFollowsTheDefinitions) {
  const std::string texts[] = {"", " ", "a", " a ", "ab  ", "  ab", " a b ", "abcde", "    "};
  for (const std::string& text : texts) {
    for (int32_t n = -1; n <= 8; ++n) {
      SCOPED_TRACE("'" + text + "' in " + std::to_string(n));
      EXPECT_EQ(left(text, n), reference::left(text, n));
      EXPECT_EQ(right(text, n), reference::right(text, n));
      EXPECT_EQ(center(text, n), reference::center(text, n));
      for (int32_t start = -8; start <= 8; ++start)
        EXPECT_EQ(sub(text, start, n), reference::sub(text, start, n)) << "start " << start;
    }
  }
}

TEST_F(StringFunctionsTest, Clip) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc   ", "abc"}, {"  abc", "  abc"}, {"    ", ""}, {"", ""}, {"a b ", "a b"}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(clip(text), expected);
    string_stack().push_copy(text);
    CLIP();
    EXPECT_EQ(string_stack().pop_string(), expected);
  }
}

TEST_F(StringFunctionsTest, Instring) {
  struct Case {
    std::string needle;
    std::string text;
    int32_t step;
    int32_t start;
    int32_t expected;
  };
  const Case cases[] = {
      {"cd", "abcdef", 1, 1, 3},
      {"cd", "abcdef", 2, 1, 2},  // offset 2, counted in steps of 2
      {"bc", "abcdef", 2, 1, 0},  // bc starts at an odd offset
      {"ab", "ccab", 0, 1, 2},    // step 0 is the needle's length
      {"ab", "cabab", 0, 1, 0},   // tries offsets 0, 2 and 4 (only 1 would do)
      {"c", "abcabc", 1, 1, 3},
      {"c", "abcabc", 1, 4, 6},
      {"c", "abcabc", 1, 7, 0},
      {"abc", "abcabc", 1, 2, 4},
      {"abc", "abcabc", 3, 2, 0},  // offsets 1 and 4
      {"b", "abcabc", 3, 2, 1},    // offset 1: 1 / 3 + 1
      {"b", "abcabc", 3, 5, 2},    // offset 4: 4 / 3 + 1
      {"", "abc", 1, 1, 0},
      {"a", "abc", 1, 0, 0},
      {"a", "abc", 1, -3, 0},
      {"abcd", "abc", 1, 1, 0},
      {"C", "abc", 1, 1, 0},  // case matters
      {"abc", "abc", 1, 1, 1},
      {"a", "", 1, 1, 0},
      {"bc", "abcbc", -1, 5, 4},  // backwards from offset 4
      {"bc", "abcbc", -1, 3, 2},
      {"bc", "abcbc", -1, 1, 0},
      {"bc", "abcbc", -2, 4, 2},  // offset 3: 3 / 2 + 1
      {"bc", "abcbc", -2, 2, 1},  // offset 1: 1 / 2 + 1
      {"bc", "abcbc", -2, 5, 0},  // offsets 4 (no room), 2 and 0
      // From far beyond the end the same steps are taken, without trying each one.
      {"bc", "abcbc", -2, 2147483647, 0},  // offsets 2, 0
      {"bc", "abcbc", -3, 2147483647, 2},  // offset 3 (2147483646 is a multiple of 3)
      {"cb", "abcbc", -3, 2147483647, 0},  // offsets 3, 0
      {"cb", "abcbc", -1, 2147483647, 3},  // offsets 3, 2
      {"abcbcx", "abcbc", -1, 9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.needle << " in " << c.text << " step " << c.step << " start " << c.start);
    EXPECT_EQ(instring(c.needle, c.text, c.step, c.start), c.expected);
    // Through the stack: borrowed texts take the fast path, owned and wide ones the general one.
    for (int pushed = 0; pushed < 3; ++pushed) {
      if (pushed == 0) {
        string_stack().push_borrowed(c.text);
        string_stack().push_borrowed(c.needle);
      } else if (pushed == 1) {
        string_stack().push_copy(c.text);
        string_stack().push_copy(c.needle);
      } else {
        string_stack().push_borrowed(c.text);
        string_stack().push_wide(std::u16string(c.needle.begin(), c.needle.end()), true);
      }
      EXPECT_EQ(INSTRING(c.step, c.start), c.expected) << "pushed " << pushed;
      EXPECT_EQ(string_stack().depth(), 0);
    }
  }
}

// Numbers pushed as text live inside their entries; INSTRING reads them there after dropping the
// entries, so their bytes must stay put until the result is known.
TEST_F(StringFunctionsTest, InstringOverNumberEntries) {
  struct Case {
    int32_t text;
    int32_t needle;
    int32_t expected;
  };
  const Case cases[] = {
      {1234512345, 345, 3}, {-2147483647, 7, 5}, {120, 0, 3}, {5, 55, 0}, {987654321, 1, 9},
  };
  for (const Case& c : cases) {
    string_stack().push_long(c.text);
    string_stack().push_long(c.needle);
    EXPECT_EQ(INSTRING(), c.expected) << c.needle << " in " << c.text;
    const std::string needle = std::to_string(c.needle);
    string_stack().push_long(c.text);
    string_stack().push_borrowed(needle);
    EXPECT_EQ(INSTRING(), c.expected) << c.needle << " in " << c.text << ", needle borrowed";
    EXPECT_EQ(string_stack().depth(), 0);
  }
}

// The byte-search and skip-table paths must agree with a plain search everywhere, including
// needles longer than the largest skip and bytes above 7Fh.
TEST_F(StringFunctionsTest, InstringFastPathsAgreeWithPlainSearch) {
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    const int alphabet = 2 + round % 5;
    const size_t size = 200 + random() % 900;
    std::string text(size, 'a');
    for (char& ch : text) ch = static_cast<char>(0xE0 + random() % alphabet);
    size_t needle_size = 1 + random() % 8;
    if (round % 7 == 0) needle_size = 256 + random() % 200;
    std::string needle;
    if (round % 2 == 0 && needle_size < size) {
      needle = text.substr(random() % (size - needle_size), needle_size);
    } else {
      for (size_t i = 0; i < needle_size; ++i) {
        needle.push_back(static_cast<char>(0xE0 + random() % alphabet));
      }
    }
    const int32_t start = 1 + static_cast<int32_t>(random() % 50);
    const size_t expected = std::string_view(text).find(needle, start - 1);
    ASSERT_EQ(instring(needle, text, 1, start),
              expected == std::string_view::npos ? 0 : static_cast<int32_t>(expected + 1))
        << "round " << round;
  }
}

TEST_F(StringFunctionsTest, UpperAndLowerUseTheLocaleCaseTables) {
  // A Cyrillic pair as the locale sets it: 0xC0 upper, 0xE0 lower.
  CharTables& t = char_tables();
  t.case_partner[0xC0] = 0xE0;
  t.case_partner[0xE0] = 0xC0;
  t.case_class[0xC0] = kClassUpper;
  t.case_class[0xE0] = kClassLower;

  const std::string mixed = "aB1\xE0\xC0z-";
  EXPECT_EQ(upper(mixed), "AB1\xC0\xC0Z-");
  EXPECT_EQ(lower(mixed), "ab1\xE0\xE0z-");

  const std::string storage = mixed;
  string_stack().push_borrowed(storage);
  UPPER();
  EXPECT_EQ(string_stack().entry(1).kind, StackEntryKind::kOwned);
  EXPECT_EQ(string_stack().pop_string(), "AB1\xC0\xC0Z-");
  EXPECT_EQ(storage, mixed) << "UPPER works on a private copy";

  string_stack().push_copy(mixed);
  LOWER();
  EXPECT_EQ(string_stack().pop_string(), "ab1\xE0\xE0z-");
}

TEST_F(StringFunctionsTest, Numeric) {
  const std::pair<std::string, int32_t> cases[] = {
      {"12.5   ", 1},
      {"12a", 0},
      {"", 0},
      {"    ", 0},
      {"-3", 1},
      {"+3", 1},
      {"  7", 1},
      {"1e5", 1},
      {"1E+05", 1},
      {"1e", 0},
      {".5", 1},
      {"5.", 1},
      {".", 0},
      {"-", 0},
      {"1 2", 0},
      {"0x10", 0},
      {"1,5", 0},
      {"inf", 0},
      {std::string(39, '9'), 1},
      {std::string(40, '9'), 0},  // longer than the 39 characters a number is read from
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(numeric(text), expected == 1);
    string_stack().push_copy(text);
    EXPECT_EQ(NUMERIC(), expected);
  }
  EXPECT_EQ(string_stack().depth(), 0);
}

TEST_F(StringFunctionsTest, Inlist) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
    int32_t expected;
  };
  const Case cases[] = {
      {"b", {"a", "b", "c"}, 2},
      {"b  ", {"a", "b", "b"}, 2},  // trailing spaces do not matter; the
                                    // first one counts
      {"b", {"a", "b   "}, 2},
      {"B", {"a", "b"}, 0},  // case matters
      {"", {"x", "   "}, 2},
      {"z", {"a", "b"}, 0},
      {"z", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string_view> views(c.items.begin(), c.items.end());
    EXPECT_EQ(inlist(c.text, views), c.expected);
    for (auto it = c.items.rbegin(); it != c.items.rend(); ++it) string_stack().push_copy(*it);
    string_stack().push_copy(c.text);
    EXPECT_EQ(INLIST(static_cast<int>(c.items.size())), c.expected);
    EXPECT_EQ(string_stack().depth(), 0);
  }
}

TEST_F(StringFunctionsTest, InlistFollowsTheCollation) {
  // Digraph: 0xDF compares as "ss".
  char_tables().digraphs_ansi[0] = {0xDF, 's', 's'};
  EXPECT_EQ(inlist("ss", {"x", "\xDF"}), 2);
}

TEST_F(StringFunctionsTest, CaseInsensitiveComparison) {
  struct Case {
    std::string a;
    std::string b;
    int sign;
  };
  const Case cases[] = {
      {"abc", "ABC", 0}, {"abc", "ABC   ", 0}, {"abc ", "ABC", 0}, {"abc", "ABD", -1},
      {"ABD", "abc", 1}, {"ab", "ABC", -1},    {"abc", "AB", 1},   {"", "  ", 0},
      {"a!", "A ", 1},   {"", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + "|" + c.b);
    const int result = compare_nocase(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
    string_stack().push_copy(c.b);
    string_stack().push_copy(c.a);
    const int on_stack = compare_top_two_nocase();
    EXPECT_EQ((on_stack > 0) - (on_stack < 0), c.sign);
  }
  // Ranks come from the collation: with "ba" b sorts before a.
  char_tables().collation_ansi['a'] = 'b';
  char_tables().collation_ansi['b'] = 'a';
  char_tables().collation_ansi['A'] = 'B';
  char_tables().collation_ansi['B'] = 'A';
  EXPECT_GT(compare_nocase("a", "B"), 0);
}

TEST_F(StringFunctionsTest, TruthValueOfAText) {
  const std::pair<std::string, bool> cases[] = {
      {"", false}, {"   ", false}, {"0", true}, {" x", true}, {std::string(1, '\0'), true}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(text_is_true(text), expected);
    string_stack().push_copy(text);
    EXPECT_EQ(pop_condition(), expected);
  }
}

}  // namespace
}  // namespace vtn
