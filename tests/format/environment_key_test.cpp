#include "runtime/format/environment_key.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/format/date_names.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/format/intl_settings.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_messages.hpp"

namespace vtn {
namespace {

using namespace vtn::literals;

class EnvironmentKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_environment(); }
  void TearDown() override { reset_environment(); }
};

TEST(EnvironmentKeyParsing, Keys) {
  struct Case {
    const char* key;
    EnvironmentKey expected;
    int32_t number;
  };
  const Case cases[] = {
      {"VTNCHARSET", EnvironmentKey::kCharset, 0},
      {"vtncolseq", EnvironmentKey::kCollation, 0},
      {"VtnCase", EnvironmentKey::kCase, 0},
      {"VTNMONTH", EnvironmentKey::kMonth, 0},
      {"VTNMON", EnvironmentKey::kMon, 0},
      {"VTNAMPM", EnvironmentKey::kAmPm, 0},
      {"VTNDIGRAPH", EnvironmentKey::kDigraph, 0},
      {"VTNBUTTON", EnvironmentKey::kButton, 0},
      {"VTNLFN", EnvironmentKey::kLfn, 0},
      {"VTNMSG2", EnvironmentKey::kMessage, 2},
      {"VTNMSG801", EnvironmentKey::kMessage, 801},
      {"vtnmsg2", EnvironmentKey::kUnknown, 0},  // the message prefix has exact case
      {"VTNMSG", EnvironmentKey::kUnknown, 0},
      {"VTNMSG2x", EnvironmentKey::kUnknown, 0},
      {"VTNMSG1234567890", EnvironmentKey::kUnknown, 0},
      {"VTNMONTHS", EnvironmentKey::kUnknown, 0},
      {"", EnvironmentKey::kUnknown, 0},
  };
  for (const Case& c : cases) {
    const ParsedEnvironmentKey parsed = parse_environment_key(c.key);
    EXPECT_EQ(parsed.key, c.expected) << c.key;
    if (c.expected == EnvironmentKey::kMessage) {
      EXPECT_EQ(parsed.message_number, c.number) << c.key;
    }
  }
}

TEST(EnvironmentKeyParsing, Normalisation) {
  struct Case {
    std::string value;
    bool split;
    std::string expected;
  };
  const Case cases[] = {
      {"a,b", true, R"("a","b")"},
      {"a,b", false, R"("a,b")"},
      {" \t x y", true, R"("x y")"},
      {R"(say "hi")", true, R"("say ""hi""")"},
      {R"( "as, it" stands)", true, R"("as, it" stands)"},
      {"", true, R"("")"},
      {std::string(500, 'x'), true, '"' + std::string(399, 'x')},  // cut at 400
      {'"' + std::string(500, 'x'), true, '"' + std::string(399, 'x')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normalize_environment_value(c.value, c.split), c.expected) << c.value;
  }
}

TEST(EnvironmentKeyParsing, Items) {
  struct Case {
    std::string normalized;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {R"("a","","b")", {"a", "", "b"}},
      {R"("x""y")", {"x\"y"}},
      {R"(a b,c)", {"a", "b", "c"}},
      {R"(,, "ab"cd)", {"ab", "cd"}},
      {R"("unterminated)", {"unterminated"}},
      {R"("")", {""}},
      {"", {}},
      {"  , ", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(environment_items(c.normalized), c.items) << c.normalized;
  }
}

TEST(EnvironmentKeyParsing, CollationSequenceUnquoting) {
  EXPECT_EQ(unquote_collation_sequence(R"("ba")"), "ba");
  EXPECT_EQ(unquote_collation_sequence(R"("a""b")"), "a\"b");
  EXPECT_EQ(unquote_collation_sequence(R"(  "ab" )"), "ab");
  EXPECT_EQ(unquote_collation_sequence(R"(" ab")"), " ab");  // a quoted leading blank stays
  EXPECT_EQ(unquote_collation_sequence('"' + std::string(300, 'q') + '"').size(), 256u);
}

TEST_F(EnvironmentKeyTest, MonthNames) {
  SetEnvironmentKey("VTNMON", "Jn,Fb,Mr,Ap,My");
  const DateNames& names = date_names();
  EXPECT_STREQ(names.month_short[0], "Jn");
  EXPECT_STREQ(names.month_short[4], "My");
  EXPECT_STREQ(names.month_short[5], "Jun");  // June to December keep their names
  EXPECT_STREQ(names.month_short[11], "Dec");

  SetEnvironmentKey("VTNMON", "Janvier,,Mars");  // cut at 3; an empty item stops the list
  EXPECT_STREQ(names.month_short[0], "Jan");
  EXPECT_STREQ(names.month_short[1], "Fb");
  EXPECT_STREQ(names.month_short[2], "Mr");  // not reached

  SetEnvironmentKey("VTNMONTH", "Septembrissimo,Two");  // cut at 12
  EXPECT_STREQ(names.month[0], "Septembrissi");
  EXPECT_STREQ(names.month[1], "Two");
  EXPECT_STREQ(names.month[2], "March");
}

TEST_F(EnvironmentKeyTest, AmPm) {
  DateNames& names = date_names();
  SetEnvironmentKey("VTNAMPM", u8"ут,вч"_ansi);
  EXPECT_EQ(std::string(names.day_part[0]), u8"ут"_ansi);
  EXPECT_EQ(std::string(names.day_part[1]), u8"вч"_ansi);
  SetEnvironmentKey("VTNAMPM", u8"утро,вечер"_ansi);  // cut to two letters
  EXPECT_EQ(std::string(names.day_part[0]), u8"ут"_ansi);
  EXPECT_EQ(std::string(names.day_part[1]), u8"ве"_ansi);
  SetEnvironmentKey("VTNAMPM", "am");  // PM keeps its text
  EXPECT_STREQ(names.day_part[0], "am");
  EXPECT_EQ(std::string(names.day_part[1]), u8"ве"_ansi);
  SetEnvironmentKey("VTNAMPM", "");  // nothing
  EXPECT_STREQ(names.day_part[0], "am");
  intl_settings().s1159 = "vm";
  intl_settings().s2359 = "nm";
  SetEnvironmentKey("VTNAMPM", "windows");
  EXPECT_STREQ(names.day_part[0], "vm");
  EXPECT_STREQ(names.day_part[1], "nm");
}

TEST_F(EnvironmentKeyTest, CaseTablesFromThePlatform) {
  SetEnvironmentKey("VTNCASE", "WINDOWS");
  const std::string upper(u8"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЁ"_ansi);
  const std::string lower(u8"абвгдежзийклмнопрстуфхцчшщъыьэюяё"_ansi);
  for (size_t i = 0; i < upper.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(to_lower_char(upper[i]), static_cast<uint8_t>(lower[i]));
    EXPECT_EQ(to_upper_char(lower[i]), static_cast<uint8_t>(upper[i]));
    EXPECT_TRUE(is_upper_char(upper[i]));
    EXPECT_TRUE(is_alpha_char(lower[i]));
  }
  // Latin letters, digits and the rest keep their state.
  EXPECT_EQ(to_upper_char('q'), 'Q');
  EXPECT_TRUE(is_alphanumeric_char('5'));
  EXPECT_FALSE(is_alpha_char('5'));
  EXPECT_FALSE(is_alpha_char(0xB9));  // №
  EXPECT_FALSE(is_alpha_char(0xB5));  // µ has no partner

  SetEnvironmentKey("VTNCASE", "");  // back to A-Z / a-z / 0-9
  EXPECT_FALSE(is_alpha_char(upper[0]));
  EXPECT_EQ(to_upper_char('q'), 'Q');
}

TEST_F(EnvironmentKeyTest, CaseTablesFromLists) {
  // Pairs below 80h are ignored: "A"/"a" stays as it was, and "B"/"x" does not pair.
  SetEnvironmentKey("VTNCASE", u8"AБB,aбx"_ansi);
  EXPECT_EQ(to_lower_char(0xC1), 0xE1);
  EXPECT_EQ(to_upper_char(0xE1), 0xC1);
  EXPECT_EQ(to_lower_char('B'), 'b');
  EXPECT_FALSE(is_alpha_char(0xC0));  // А was not listed
  // Lists of different length take the platform's lists instead.
  SetEnvironmentKey("VTNCASE", u8"АБ,а"_ansi);
  EXPECT_EQ(to_lower_char(0xC0), 0xE0);
  EXPECT_EQ(to_lower_char(0xA8), 0xB8);
}

TEST_F(EnvironmentKeyTest, CaseListsFallBackToThePlatformOrAreCut) {
  struct Case {
    std::string value;
    bool platform_lists;  // А/а (C0h/E0h) paired although the value does not name them
  };
  const Case cases[] = {
      {"WINDOWS", true},
      {"windows", true},
      {",", true},  // an empty first item, although both items have the same length
      {std::string(u8",аб"_ansi), true},
      {std::string(u8"ЖЗ,жз"_ansi), false},  // lists of their own
      {std::string(u8"ЖЗ,жзи"_ansi), true},  // of different length
  };
  for (const Case& c : cases) {
    reset_environment();
    SetEnvironmentKey("VTNCASE", c.value);
    EXPECT_EQ(to_lower_char(0xC0) == 0xE0, c.platform_lists) << c.value;
    EXPECT_EQ(to_upper_char(0xE6), 0xC6) << c.value;  // Ж/ж in every case
  }

  // Each list is cut at 128 characters: the 129th pair is not made.
  reset_environment();
  const std::string upper = std::string(128, '\xC0') + "\xC1";
  const std::string lower = std::string(128, '\xE0') + "\xE1";
  SetEnvironmentKey("VTNCASE", upper + "," + lower);
  EXPECT_EQ(to_lower_char(0xC0), 0xE0);
  EXPECT_FALSE(is_alpha_char(0xC1));
  EXPECT_FALSE(is_alpha_char(0xE1));
}

TEST_F(EnvironmentKeyTest, CollationSequenceIsTheWholeUnconvertedValue) {
  const CharTables& t = char_tables();
  // Commas belong to the sequence: b, "," and a exchange their ranks.
  SetEnvironmentKey("VTNCOLSEQ", "b,a");
  EXPECT_EQ(t.collation_ansi['b'], ',');
  EXPECT_EQ(t.collation_ansi[','], 'a');
  EXPECT_EQ(t.collation_ansi['a'], 'b');
  EXPECT_EQ(t.collation_ansi['"'], '"');

  // With the OEM flag on the sequence stays OEM text (A1h A0h is "ба" in 866): the OEM table is
  // built from it as it stands and the ANSI table from its 1251 form (E1h E0h).
  SetEnvironmentKey("VTNCHARSET", "OEM");
  SetEnvironmentKey("VTNCOLSEQ", "\xA1\xA0");
  EXPECT_EQ(t.collation_oem[0xA1], 0xA0);
  EXPECT_EQ(t.collation_oem[0xE1], 0xE1);
  EXPECT_EQ(t.collation_ansi[0xE1], 0xE0);
  EXPECT_EQ(t.collation_ansi[0xA1], 0xA1);
  EXPECT_TRUE(t.oem_flag);
  // The platform's order is ANSI: it turns the OEM flag off.
  SetEnvironmentKey("VTNCOLSEQ", "Windows");
  EXPECT_FALSE(t.oem_flag);
  EXPECT_LT(collated_compare("a", "A"), 0);
}

TEST_F(EnvironmentKeyTest, CollationSequences) {
  const CharTables& t = char_tables();
  SetEnvironmentKey("VTNCOLSEQ", "ba");
  EXPECT_GT(collated_compare("a", "b"), 0);
  EXPECT_LT(collated_compare("b", "c"), 0);
  EXPECT_EQ(t.collation_ansi['c'], 'c');
  SetEnvironmentKey("VTNCOLSEQ", "");
  EXPECT_LT(collated_compare("a", "b"), 0);

  // 222 distinct characters reorder all printable characters; a leading blank must be quoted.
  std::string order;
  for (int c = 0x7E; c >= 0x20; --c) order += static_cast<char>(c);
  for (int c = 0xFE; c >= 0x80; --c) order += static_cast<char>(c);
  std::string quoted = "\"";
  for (char c : order) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  quoted += '"';
  SetEnvironmentKey("VTNCOLSEQ", quoted);
  EXPECT_EQ(t.collation_ansi['~'], 0x20);
  EXPECT_EQ(t.collation_ansi[' '], 0x7E);
  EXPECT_EQ(t.collation_ansi['"'], 0x20 + ('~' - '"'));
  EXPECT_GT(collated_compare("a", "b"), 0);
  EXPECT_LT(collated_compare("\xFE", "\x80"), 0);

  SetEnvironmentKey("VTNCOLSEQ", "WINDOWS");
  EXPECT_LT(collated_compare("a", "A"), 0);
  EXPECT_LT(collated_compare("A", "b"), 0);
  EXPECT_LT(collated_compare(u8"ель"_ansi, u8"ёж"_ansi), 0);
  EXPECT_LT(collated_compare(u8"ёж"_ansi, u8"жук"_ansi), 0);
}

TEST_F(EnvironmentKeyTest, Digraphs) {
  const CharTables& t = char_tables();
  SetEnvironmentKey("VTNDIGRAPH", "&ae,$ss");
  EXPECT_EQ(t.digraphs_ansi[0].character, '&');
  EXPECT_EQ(t.digraphs_ansi[1].second, 's');
  EXPECT_EQ(t.digraphs_ansi[2].character, 0);
  EXPECT_EQ(collated_compare("&", "ae"), 0);

  SetEnvironmentKey("VTNDIGRAPH", "\"#xy,%zw\" @ab");  // one item with a comma after a triple
  EXPECT_EQ(t.digraphs_ansi[0].character, '#');
  EXPECT_EQ(t.digraphs_ansi[1].character, '%');
  EXPECT_EQ(t.digraphs_ansi[2].character, '@');
  EXPECT_EQ(t.digraphs_ansi[3].character, 0);

  SetEnvironmentKey("VTNDIGRAPH", "&aeX,$ss");  // an incomplete triple ends its item only
  EXPECT_EQ(t.digraphs_ansi[1].character, '$');

  std::string many;
  for (int i = 0; i < 20; ++i) many += std::string(1, static_cast<char>('A' + i)) + "xy";
  SetEnvironmentKey("VTNDIGRAPH", many);
  EXPECT_EQ(t.digraphs_ansi[15].character, 'P');  // 16 slots, no end mark needed

  SetEnvironmentKey("VTNDIGRAPH", std::string(u8"Ёе,"_ansi) + "x");
  EXPECT_EQ(t.digraphs_ansi[0].character, 0);  // "Ёе" is not a triple
  SetEnvironmentKey("VTNDIGRAPH", u8"Ёее"_ansi);
  EXPECT_EQ(t.digraphs_oem[0].character, 0xF0);  // Ё in 866
  EXPECT_EQ(t.digraphs_oem[0].first, 0xA5);      // е in 866

  SetEnvironmentKey("VTNDIGRAPH", "");
  EXPECT_EQ(t.digraphs_ansi[0].character, 0);
  EXPECT_LT(collated_compare("&", "ae"), 0);
}

TEST_F(EnvironmentKeyTest, ButtonsMessagesAndSwitches) {
  SetEnvironmentKey("VTNBUTTON", u8"&OK,,&Нет"_ansi);
  EXPECT_EQ(find_message_override(0x7F00), std::optional<std::string_view>("&OK"));
  EXPECT_FALSE(find_message_override(0x7F01).has_value());  // an empty item sets nothing
  EXPECT_EQ(find_message_override(0x7F02), std::optional<std::string_view>(u8"&Нет"_ansi));

  SetEnvironmentKey("VTNMSG90", u8"Ошибка, драйвера"_ansi);  // commas belong to the text
  EXPECT_STREQ(error_message(90), std::string(u8"Ошибка, драйвера"_ansi).c_str());
  SetEnvironmentKey("vtnmsg35", "ignored");
  EXPECT_STREQ(error_message(35), "Record Not Found");
  SetEnvironmentKey("VTNMSG36", "");
  EXPECT_STREQ(error_message(36), "Invalid Data File");

  EXPECT_TRUE(long_file_names());
  SetEnvironmentKey("VTNLFN", "off");
  EXPECT_FALSE(long_file_names());
  SetEnvironmentKey("vtnlfn", "On,whatever");
  EXPECT_TRUE(long_file_names());

  SetEnvironmentKey("VTNNOSUCH", "x");  // ignored
  SetEnvironmentKey("VTNCHARSET", "oem");
  EXPECT_TRUE(char_tables().oem_flag);
  SetEnvironmentKey("VTNCHARSET", "WINDOWS");
  EXPECT_FALSE(char_tables().oem_flag);
}

TEST_F(EnvironmentKeyTest, OemValuesAreConverted) {
  SetEnvironmentKey("VTNCHARSET", "OEM");
  SetEnvironmentKey("VTNMON", platform::ansi_to_oem(u8"Янв,Фев"_ansi));
  EXPECT_EQ(std::string(date_names().month_short[0]), u8"Янв"_ansi);
  EXPECT_EQ(std::string(date_names().month_short[1]), u8"Фев"_ansi);
}

}  // namespace
}  // namespace vtn
