#include <gtest/gtest.h>

#include <string>

#include "runtime/format/intl_settings.hpp"
#include "runtime/format/picture.hpp"

namespace vtn {
namespace {

// One character per cell code, so that a whole layout reads as a short string.
char code_char(CellCode code) {
  switch (code) {
    case CellCode::kLiteral:
      return 'L';
    case CellCode::kGrouping:
      return ',';
    case CellCode::kDecimalPoint:
      return '.';
    case CellCode::kDigitZero:
      return '#';
    case CellCode::kDigitBlank:
      return '<';
    case CellCode::kSign:
      return 's';
    case CellCode::kCurrency:
      return '$';
    case CellCode::kMonth:
      return 'M';
    case CellCode::kDay:
      return 'D';
    case CellCode::kYear:
      return 'Y';
    case CellCode::kMonthName:
      return 'N';
    case CellCode::kHour:
      return 'H';
    case CellCode::kMinute:
      return 'm';
    case CellCode::kSecond:
      return 'S';
    case CellCode::kAnyLetter:
      return '@';
    case CellCode::kUpperLetter:
      return '^';
    case CellCode::kLowerLetter:
      return '_';
    case CellCode::kAnyChar:
      return '?';
    case CellCode::kSeparator:
      return '/';
    case CellCode::kDayPart:
      return 'X';
    case CellCode::kExponentSign:
      return 'e';
    case CellCode::kImpliedPoint:
      return 'v';
    case CellCode::kStopMark:
      return '|';
  }
  return '!';
}

std::string codes(const CompiledPicture& p) {
  std::string s;
  for (int i = 0; i < p.cell_count; ++i) s += code_char(p.cells[i].code);
  return s;
}

std::string fills(const CompiledPicture& p) {
  std::string s;
  for (int i = 0; i < p.cell_count; ++i) s += static_cast<char>(p.cells[i].fill);
  return s;
}

bool all_zero(const CompiledPicture& p) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(p.cells);
  for (size_t i = 0; i < sizeof p.cells; ++i) {
    if (bytes[i] != 0) return false;
  }
  return p.kind == PictureKind::kNumeric && p.family == 0 && !p.blank && p.cell_count == 0 &&
         p.pivot == 0 && p.number == 0 && p.source.data() == nullptr;
}

struct LayoutCase {
  const char* picture;
  PictureKind kind;
  int family;
  const char* codes;
  const char* fills;
};

TEST(PictureCompile, Layouts) {
  const LayoutCase cases[] = {
      // Numbers: cells right to left, a separator every fourth position from the units digit.
      {"@N-12.2", PictureKind::kNumeric, 3, "s,<<<,<<#.##", "-,   ,  0.00"},
      {"@N(12.2)", PictureKind::kNumeric, 3, "s<<<,<<#.##s", "(   ,  0.00)"},
      {"@N12.2-", PictureKind::kNumeric, 3, ",<<<,<<#.##s", ",   ,  0.00-"},
      {"@N010", PictureKind::kNumeric, 3, "##########", "0000000000"},
      {"@N_8", PictureKind::kNumeric, 3, "<<<<<<<#", "       0"},
      {"@N08_", PictureKind::kNumeric, 3, ",###,###", " 000 000"},
      {"@N*8.2", PictureKind::kNumeric, 3, "#,###.##", "****0.00"},
      {"@N12`2", PictureKind::kNumeric, 3, "<,<<<,<<#.##", " .   .  0,00"},
      {"@N$9.2", PictureKind::kNumeric, 3, "$<,<<#.##", "$ ,  0.00"},
      {"@N~EUR~8", PictureKind::kNumeric, 3, "$$$<,<<#", "EUR ,  0"},
      {"@N8~ kr~", PictureKind::kNumeric, 3, "<,<<#$$$", " ,  0 kr"},
      {"@N6v2", PictureKind::kNumeric, 3, ",<<<v##", ",   .00"},
      {"@N6V2", PictureKind::kNumeric, 3, ",<<<v##", ",   .00"},
      {"@E12.1", PictureKind::kScientific, 2, "s#.####Le###", "-0.0000E+000"},
      {"@E12_.4", PictureKind::kScientific, 2, "s<,<<#.Le###", "-    0.E+000"},
      // No integer digits: a fraction before the exponent; seven cells are the narrowest.
      {"@E10.0", PictureKind::kScientific, 2, "s.###Le###", "-.000E+000"},
      {"@E7`0", PictureKind::kScientific, 2, "s.Le###", "-,E+000"},
      {"@P(###)<#P", PictureKind::kPattern, 3, "L###L<#", "(000) 0"},
      {"@K\\@@^_?|#<K", PictureKind::kKeyIn, 0, "L@^_?|#<", "@     0 "},
      // Dates and times from the tables, with fill and separator characters.
      {"@D1", PictureKind::kDate, 1, "MM/DD/YY", " 0/00/00"},
      {"@D1.", PictureKind::kDate, 1, "MM/DD/YY", " 0.00.00"},
      {"@D*1", PictureKind::kDate, 1, "MM/DD/YY", "**/**/**"},
      {"@D*3", PictureKind::kDate, 1, "NNNLDD/YYYY", "*** **,****"},  // name cells take it too
      {"@D13", PictureKind::kDate, 1, "MM/YY", "00/00"},
      {"@D3", PictureKind::kDate, 1, "NNNLDD/YYYY", "     0,0000"},
      {"@D7-", PictureKind::kDate, 1, "DD/NNN/YY", " 0-   -00"},
      {"@D12", PictureKind::kDate, 1, "YYYYMMDD", "00000000"},
      {"@T1", PictureKind::kTime, 1, "HH/mm", " 0:00"},
      {"@T3", PictureKind::kTime, 1, "HH/mmXL", " 0:00 M"},
      {"@T04_", PictureKind::kTime, 1, "HH/mm/SS", "00 00 00"},
      {"@T_1", PictureKind::kTime, 1, "HH/mm", "__:__"},
      {"@T*6`", PictureKind::kTime, 1, "HH/mm/SSXL", "**,**,** M"},  // not the day-part cell
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.picture);
    CompiledPicture p;
    ASSERT_TRUE(compile_picture(c.picture, p));
    EXPECT_EQ(p.kind, c.kind);
    EXPECT_EQ(p.family, c.family);
    EXPECT_EQ(codes(p), c.codes);
    EXPECT_EQ(fills(p), c.fills);
    EXPECT_EQ(p.source.data(), c.picture);
  }
}

TEST(PictureCompile, HeaderFields) {
  struct Case {
    const char* picture;
    bool blank;
    int cell_count;
    int pivot;
    int number;
  } const cases[] = {
      {"@S3", false, 3, 0, 0},     {"@s255b", true, 255, 0, 0}, {"@S10   ", false, 10, 0, 0},
      {"", false, 255, 0, 0},      {"   ", false, 255, 0, 0},   {"@N12.2B", true, 12, 0, 0},
      {"N12.2", false, 12, 0, 0},  {"@D1", false, 8, 80, 1},    {"@D1<", false, 8, 80, 1},
      {"@D1<50", false, 8, 50, 1}, {"@D1<0", false, 8, 80, 1},  {"@D1>", false, 8, 19, 1},
      {"@D1>2", false, 8, 97, 1},  {"@D1>2.B", true, 8, 97, 1}, {"@d6b", true, 10, 80, 6},
      {"@D4", false, 21, 80, 4},   {"@T6", false, 10, 0, 6},    {"@E12.1", false, 12, 0, 0},
      {"@PPB", true, 0, 0, 0},     {"@N6v2", false, 7, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    CompiledPicture p;
    ASSERT_TRUE(compile_picture(c.picture, p));
    EXPECT_EQ(p.blank, c.blank);
    EXPECT_EQ(p.cell_count, c.cell_count);
    EXPECT_EQ(p.pivot, c.pivot);
    EXPECT_EQ(p.number, c.number);
  }
}

TEST(PictureCompile, RejectsWhatIsNotAPicture) {
  const std::string long_body(253, '#');
  const std::string cases[] = {
      "@D0",
      "@D21",
      "@D19",
      "@T9",
      "@T0",
      "@T",
      "@S",
      "@S0",
      "@S256",
      "@S3x",
      "@",
      "@B",
      "@SB",
      "@X12",
      "@N",
      "@N0",
      "@N255",
      "@N12.2--",
      "@N-12.2-",
      "@N(12.2",
      "@N12.2)",
      "@N2.2",
      "@N-(12)",
      "@N$12$",
      "@N~EUR12",
      "@N12.2x",
      "@E6.1",
      "@E7.1",
      "@E12",
      "@E6.0",
      "@E12.",
      "@E9_.4",
      "@P##",
      "@P##K",
      "@K##P",
      "@D1x",
      "@D1<100",
      "@D1..",
      "@T1x",
      "@T1..",
      "@T11",
      // 255 characters after the (optional) "@" is one too many.
      "P" + long_body + "P",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    CompiledPicture p;
    p.cell_count = 7;  // whatever was there before is cleared
    EXPECT_FALSE(compile_picture(text, p));
    EXPECT_TRUE(all_zero(p));
    EXPECT_TRUE(p.empty());
  }
  // The same 254 characters after "@" compile.
  CompiledPicture p;
  EXPECT_TRUE(compile_picture("@P" + std::string(252, '#') + "P", p));
  EXPECT_EQ(p.cell_count, 252);
}

class LocalePictureTest : public ::testing::Test {
 protected:
  void TearDown() override {
    intl_settings() = IntlSettings{};
    build_locale_pictures();
  }
};

TEST_F(LocalePictureTest, ShortAndLongDates) {
  struct Case {
    const char* text;
    bool long_date;
    const char* codes;
    const char* fills;
  } const cases[] = {
      {"MM/dd/yy", false, "MM/DD/YY", "00/00/00"},
      {"M/d/yy", false, "MM/DD/YY", " 0/ 0/00"},
      {"dd.MM.yyyy", false, "DD/MM/YYYY", "00.00.0000"},
      {"yyyy-MM-dd", false, "YYYY/MM/DD", "0000-00-00"},
      {"yy", false, "YY/MM/DD", "00/ 0/ 0"},  // no "M": the separator is "/"
      {"ddd', 'MMMM' 'dd', 'yyyy", true, "NNNNNNNNN/DD//YYYY", "          00, 0000"},
      {"d MMM yy", true, "DD/NNN/YY", " 0     00"},
      {"d/M/y", true, "DD/MM/Y", " 0/ 0/0"},
      {"dd MMMM yyyy 'r.'", true, "DD/NNNNNNNNN/YYYY///", "00           0000 r."},
      {"'Le 'dddd d MMMM yyyy", true, "DD/NNNNNNNNN/YYYY", " 0           0000"},
      {"MMMM d, yyyy, dddd", true, "NNNNNNNNN/DD//YYYY", "           0, 0000"},
      {"dddd, MMMM dd, yyyy", true, "NNNNNNNNN/DD//YYYY", "          00, 0000"},
      {"yyyy' 'MM", true, "YYYY/MM", "0000 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const CompiledPicture p =
        c.long_date ? build_long_date_picture(c.text) : build_short_date_picture(c.text);
    EXPECT_EQ(p.kind, PictureKind::kDate);
    EXPECT_EQ(p.number, c.long_date ? 18 : 17);
    EXPECT_EQ(codes(p), c.codes);
    EXPECT_EQ(fills(p), c.fills);
  }
}

TEST_F(LocalePictureTest, TimesFollowTheSettings) {
  struct Case {
    int i_time;
    int i_tlzero;
    const char* s_time;
    const char* short_codes;
    const char* short_fills;
    const char* long_codes;
  } const cases[] = {
      {0, 1, ":", "HH/mmLXL", "00:00  M", "HH/mm/SSLXL"},
      {1, 1, ":", "HH/mm", "00:00", "HH/mm/SS"},
      {1, 0, ".", "HH/mm", " 0.00", "HH/mm/SS"},
      {1, 1, "", "HH/mm", "00:00", "HH/mm/SS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.i_time << c.i_tlzero << c.s_time);
    intl_settings().i_time = c.i_time;
    intl_settings().i_tlzero = c.i_tlzero;
    intl_settings().s_time = c.s_time;
    build_locale_pictures();
    CompiledPicture t7;
    CompiledPicture t8;
    ASSERT_TRUE(compile_picture("@T7", t7));
    ASSERT_TRUE(compile_picture("@T8", t8));
    EXPECT_EQ(codes(t7), c.short_codes);
    EXPECT_EQ(fills(t7), c.short_fills);
    EXPECT_EQ(codes(t8), c.long_codes);
    EXPECT_EQ(t7.number, 7);
    EXPECT_EQ(t8.number, 8);
  }
}

TEST_F(LocalePictureTest, CompiledCopiesTakeModifiers) {
  intl_settings().s_short_date = "dd.MM.yyyy";
  build_locale_pictures();
  CompiledPicture p;
  ASSERT_TRUE(compile_picture("@D_17-B", p));
  EXPECT_EQ(codes(p), "DD/MM/YYYY");
  EXPECT_EQ(fills(p), "__-__-____");
  EXPECT_TRUE(p.blank);
  EXPECT_EQ(p.number, 17);
}

TEST(PictureEntryText, Table) {
  struct Case {
    char kind;
    int number;
    const char* text;
  } const cases[] = {
      {'T', 1, "hh:mm"},
      {'T', 3, "Hh:mmPP"},
      {'T', 6, "Hh:mm:ssPP"},
      {'T', 0, ""},
      {'T', 7, ""},
      {'D', 1, "Mm/dd/yy"},
      {'D', 4, "NNNNNNNNN Dd, yyyy"},
      {'D', 16, "yyyy/mm"},
      {'D', 17, ""},
      {'D', 18, ""},
      {'D', 19, "Dd NNNNNNNNN yyyy"},
      {'D', 20, "NNNNNNNNN Dd yyyy"},
      {'D', 21, ""},
      {'D', -1, ""},
      {'N', 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.kind << c.number);
    EXPECT_EQ(picture_entry_text(c.kind, c.number), c.text);
  }
}

}  // namespace
}  // namespace vtn
