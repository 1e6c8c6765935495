#include "runtime/values/fixed_string.hpp"

#include <gtest/gtest.h>

#include <type_traits>

namespace vtn {
namespace {

// A record laid out as the file declares it: the fields keep their sizes.
#pragma pack(push, 1)
struct PackRecord {
  int16_t number;
  String<40> name;
  String<120> path;
};
#pragma pack(pop)
static_assert(sizeof(PackRecord) == 162);
static_assert(sizeof(String<40>) == 40);
static_assert(std::is_trivially_copyable_v<String<40>>);

class FixedStringTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(string_stack().depth(), 0);
    reset_char_tables();
  }
};

TEST_F(FixedStringTest, StoresPadWithBlanksAndCut) {
  const struct {
    std::string_view text;
    std::string_view stored;
  } cases[] = {
      {"hello", "hello   "},         {"", "        "},     {"exactly8", "exactly8"},
      {"much too long", "much too"}, {"ab  ", "ab      "},
  };
  for (const auto& c : cases) {
    String<8> s = c.text;
    EXPECT_EQ(s.view(), c.stored);
    String<8> t;
    t = c.text;
    EXPECT_EQ(t.view(), c.stored);
  }
  String<8> fresh;
  EXPECT_EQ(fresh.view(), "        ");
  EXPECT_TRUE(fresh.is_blank());
  String<4> narrow = String<8>("wide one");
  EXPECT_EQ(narrow.view(), "wide");
  String<6> wider = String<3>("abc");
  EXPECT_EQ(wider.view(), "abc   ");
  EXPECT_EQ(wider.clipped(), "abc");
}

TEST_F(FixedStringTest, ComparesAsIfPaddedWithBlanks) {
  const struct {
    std::string_view a, b;
    int order;
  } cases[] = {
      {"ab", "ab   ", 0}, {"ab", "abc", -1}, {"abc", "ab", 1},
      {"", "   ", 0},     {"a", "B", 1},  // byte values by default
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.a << "\" vs \"" << c.b << '"');
    const String<5> a = c.a;
    const String<7> b = c.b;
    EXPECT_EQ(a == b, c.order == 0);
    EXPECT_EQ(a == c.b, c.order == 0);
    EXPECT_EQ(c.b == a, c.order == 0);
    EXPECT_EQ(a < b, c.order < 0);
    EXPECT_EQ(a > c.b, c.order > 0);
  }
  // The locale's collation decides the order, not the byte values.
  char_tables().collation_ansi['a'] = 'B' - 1;
  char_tables().collation_oem['a'] = 'B' - 1;
  EXPECT_LT(String<1>("a"), String<1>("B"));
}

TEST_F(FixedStringTest, NumbersAndTheStringStack) {
  String<6> s;
  s.set_long(-7);
  EXPECT_EQ(s.view(), "-7    ");
  s.set_real(100.0);
  EXPECT_EQ(s.view(), "100   ");
  EXPECT_EQ(s.to_long(), 100);
  s = "1.E3";
  EXPECT_EQ(s.to_long(), 1000);
  s = "1E3";
  EXPECT_EQ(s.to_long(), 1);
  EXPECT_EQ(s.to_real(), 1000.0);

  string_stack().push_copy("from the stack");
  s = StackedString{};
  EXPECT_EQ(s.view(), "from t");
  s.push();
  EXPECT_EQ(StackedString{}.take(), "from t");
  s.clear(1);
  EXPECT_EQ(s.view(), std::string(6, '\xFF'));
}

TEST_F(FixedStringTest, TypedReferenceSeesTheField) {
  PackRecord record{};
  record.name = "Field";
  auto r = record.name.reference();
  EXPECT_EQ(r->type(), ValueType::STRING);
  EXPECT_EQ(r->size(), 40u);
  r->assign_long(42);
  EXPECT_EQ(record.name.clipped(), "42");
  EXPECT_EQ(record.path.view(), std::string(120, ' '));  // a new field is blank, and untouched
}

}  // namespace
}  // namespace vtn
