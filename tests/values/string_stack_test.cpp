#include "runtime/values/string_stack.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "values/scratch_directory.hpp"

namespace vtn {
namespace {

class StringStackTest : public ::testing::Test {
 protected:
  void TearDown() override { stack.clear(); }
  StringStack stack;
};

// Numbers pushed as text are written into the entry itself; the longest texts must fit whole.
TEST_F(StringStackTest, NumbersPushAsTheirText) {
  const struct {
    double real;
    const char* text;
  } kReals[] = {
      {100.0, "100"},
      {-0.0, "0"},
      {-1234.5, "-1234.5"},
      {-1.2345678901234e-100, "-1.234567890123E-100"},  // the longest: 20 characters
      {1e32, "1E+32"},
      {-HUGE_VAL, "-INF"},
  };
  for (const auto& c : kReals) {
    stack.push_real(c.real);
    EXPECT_EQ(stack.entry().kind, StackEntryKind::kInline);
    EXPECT_EQ(stack.pop_string(), c.text) << c.real;
  }
  const struct {
    int32_t value;
    const char* text;
  } kLongs[] = {{0, "0"}, {-7, "-7"}, {2147483647, "2147483647"}, {INT32_MIN, "-2147483648"}};
  for (const auto& c : kLongs) {
    stack.push_long(c.value);
    EXPECT_EQ(stack.entry().kind, StackEntryKind::kInline);
    EXPECT_EQ(stack.pop_string(), c.text);
  }
  EXPECT_EQ(stack.depth(), 0);
}

TEST_F(StringStackTest, EntriesOfEveryKindReadAsText) {
  const char storage[] = "borrowed text";
  stack.push_borrowed(storage, 8);
  stack.push_copy("owned");
  stack.push_long(-7);
  stack.push_real(100.0);
  stack.push_wide(u"\u0401\u043b\u043a\u0430", true);  // Ёлка
  stack.push_variant(int32_t{42}, false);
  stack.push_variant(std::u16string(u"w"), true);
  stack.push_variant(std::monostate{}, true);
  stack.push_object();
  ASSERT_EQ(stack.depth(), 9);

  struct Expected {
    std::string text;
    StackEntryKind kind;
  };
  const Expected expected[] = {
      {"", StackEntryKind::kBorrowed},  // object: no text
      {"", StackEntryKind::kBorrowed},  // empty VARIANT
      {"w", StackEntryKind::kOwned},
      {"42", StackEntryKind::kOwned},
      {"\xA8\xEB\xEA\xE0", StackEntryKind::kOwned},
      {"100", StackEntryKind::kInline},
      {"-7", StackEntryKind::kInline},
      {"owned", StackEntryKind::kOwned},
      {"borrowed", StackEntryKind::kBorrowed},
  };
  for (const Expected& e : expected) {
    EXPECT_EQ(stack.entry(1).kind, e.kind) << e.text;
    EXPECT_EQ(stack.pop_string(), e.text);
  }
  EXPECT_EQ(stack.depth(), 0);
}

TEST_F(StringStackTest, BorrowedEntryPointsIntoTheCallersStorage) {
  const char storage[] = "abc";
  stack.push_borrowed(storage, 3);
  EXPECT_EQ(stack.entry(1).text, storage);
}

TEST_F(StringStackTest, PushOntoAFullStackIsIgnored) {
  for (int i = 0; i < StringStack::kCapacity; ++i) stack.push_long(i);
  stack.push_copy("one too many");
  stack.push_borrowed("x");
  EXPECT_EQ(stack.depth(), StringStack::kCapacity);
  EXPECT_EQ(stack.pop_string(), "31");
}

TEST_F(StringStackTest, NullBorrowedTextIsEmpty) {
  stack.push_borrowed(nullptr, 12);
  stack.push_borrowed(std::string_view{});
  EXPECT_EQ(stack.depth(), 2);
  EXPECT_EQ(stack.pop_string(), "");
  EXPECT_EQ(stack.pop_string(), "");
}

// The two-entry fast paths of the functions of two texts: only borrowed and inline entries are
// read in place and dropped without freeing; any other kind below or on top leaves the stack as
// it was, for the general path that converts and frees.
TEST_F(StringStackTest, TwoPlainEntriesAreReadAndDroppedInPlace) {
  enum class Push { kBorrowed, kInline, kOwned, kWide };
  const auto push = [&](Push kind, const char* text) {
    switch (kind) {
      case Push::kBorrowed:
        stack.push_borrowed(text);
        break;
      case Push::kInline:
        stack.push_long(static_cast<int32_t>(std::strtol(text, nullptr, 10)));
        break;
      case Push::kOwned:
        stack.push_copy(text);
        break;
      case Push::kWide:
        stack.push_wide(std::u16string(text, text + std::strlen(text)), true);
        break;
    }
  };
  const Push kKinds[] = {Push::kBorrowed, Push::kInline, Push::kOwned, Push::kWide};
  for (const Push below : kKinds) {
    for (const Push top : kKinds) {
      SCOPED_TRACE(testing::Message()
                   << "below " << static_cast<int>(below) << " top " << static_cast<int>(top));
      const bool plain = (below == Push::kBorrowed || below == Push::kInline) &&
                         (top == Push::kBorrowed || top == Push::kInline);
      stack.push_borrowed("underneath");
      push(below, "123");
      push(top, "45");
      std::string_view first;
      std::string_view second;
      ASSERT_EQ(stack.peek_two_plain(first, second), plain);
      EXPECT_EQ(stack.depth(), 3);
      if (plain) {
        EXPECT_EQ(first, "45");
        EXPECT_EQ(second, "123");
        stack.drop_two();
      } else {
        EXPECT_EQ(stack.peek(1), "45");
        EXPECT_EQ(stack.peek(2), "123");
        stack.release_two();
      }
      ASSERT_EQ(stack.depth(), 1);
      EXPECT_EQ(stack.pop_string(), "underneath");
    }
  }
  std::string_view first;
  std::string_view second;
  stack.push_borrowed("alone");
  EXPECT_FALSE(stack.peek_two_plain(first, second));  // too shallow
  EXPECT_EQ(stack.pop_string(), "alone");
}

TEST_F(StringStackTest, EmptyCopyPushesAnEmptyText) {
  stack.push_copy(std::string_view{});
  EXPECT_EQ(stack.pop_string(), "");
}

TEST_F(StringStackTest, NullOwnedBufferPushesAnEmptyText) {
  stack.push_owned(nullptr, 12);
  EXPECT_EQ(stack.entry(1).length, 0u);
  EXPECT_EQ(stack.pop_string(), "");
}

TEST_F(StringStackTest, PopsIntoFixedTextStorage) {
  struct Case {
    const char* text;
    uint32_t size;
    const char* as_string;
    const char* as_cstring;
    const char* as_pstring;  // length byte as a digit, then text
  };
  const Case cases[] = {
      {"hello", 8, "hello   ", "hello", "5hello"},
      {"hello", 4, "hell", "hel", "3hel"},
      {"", 3, "   ", "", "0"},
      {"ab", 1, "a", "", "0"},
  };
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    stack.push_borrowed(c.text);
    stack.pop_to_string(buffer, c.size);
    EXPECT_EQ(std::string(buffer, c.size), c.as_string);
    EXPECT_EQ(buffer[c.size], '#') << "wrote past the field";

    std::memset(buffer, '#', sizeof buffer);
    stack.push_borrowed(c.text);
    stack.pop_to_cstring(buffer, c.size);
    EXPECT_STREQ(buffer, c.as_cstring);

    uint8_t pbuffer[16];
    stack.push_borrowed(c.text);
    stack.pop_to_pstring(pbuffer, c.size);
    EXPECT_EQ(
        std::to_string(pbuffer[0]) + std::string(reinterpret_cast<char*>(pbuffer) + 1, pbuffer[0]),
        c.as_pstring);
  }
  EXPECT_EQ(stack.depth(), 0);
}

TEST_F(StringStackTest, PstringLengthNeverWraps) {
  const std::string long_text(300, 'p');
  uint8_t buffer[400];
  stack.push_borrowed(long_text);
  stack.pop_to_pstring(buffer, sizeof buffer);
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ(buffer[255], 'p');
}

TEST_F(StringStackTest, PopsNumbers) {
  stack.push_borrowed("  -12.50");
  EXPECT_EQ(stack.pop_long(), -12);
  stack.push_borrowed("1E3");
  EXPECT_DOUBLE_EQ(stack.pop_real(), 1000.0);
}

TEST_F(StringStackTest, CompareTopTwoIsBlankPaddedAndPopsBoth) {
  struct Case {
    const char* first;
    const char* second;
    int sign;
  };
  const Case cases[] = {{"ab", "ab   ", 0}, {"ab", "abc", -1}, {"b", "a", 1}, {"", "  ", 0}};
  for (const Case& c : cases) {
    stack.push_borrowed(c.second);
    stack.push_borrowed(c.first);  // first argument on top
    const int result = stack.compare_top_two();
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.first << " vs " << c.second;
    EXPECT_EQ(stack.depth(), 0);
  }
}

TEST_F(StringStackTest, MakeWritableGivesAPrivateCopy) {
  const char storage[] = "abc";
  stack.push_borrowed(storage, 3);
  char* text = stack.make_writable(6);
  text[0] = 'X';
  EXPECT_STREQ(storage, "abc");
  EXPECT_EQ(stack.entry(1).kind, StackEntryKind::kOwned);
  EXPECT_EQ(stack.pop_string(), "Xbc");
}

TEST_F(StringStackTest, SaveAndRestoreKeepEveryEntry) {
  EXPECT_EQ(stack.save(), nullptr);
  stack.push_borrowed("one");
  stack.push_copy("two");
  stack.push_long(3);
  auto saved = stack.save();
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(stack.depth(), 0);
  stack.push_copy("other thread");
  stack.restore(std::move(saved));
  ASSERT_EQ(stack.depth(), 3);
  EXPECT_EQ(stack.pop_string(), "3");
  EXPECT_EQ(stack.pop_string(), "two");
  EXPECT_EQ(stack.pop_string(), "one");

  stack.push_copy("dropped");
  stack.restore(nullptr);
  EXPECT_EQ(stack.depth(), 0);
}

TEST(StringStackDeathTest, PopOfAnEmptyStackIsAFatalStackError) {
  EXPECT_EXIT(
      {
        StringStack stack;
        stack.release();
      },
      ::testing::ExitedWithCode(2), "String Stack Error");
}

}  // namespace
}  // namespace vtn
