// Expressions and their values as EVALUATE gives them, worked out by hand from the language's
// rules, grouped by theme.
#include <gtest/gtest.h>

#include <string>

#include "runtime/core/random.hpp"
#include "runtime/eval/evaluate.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

struct Case {
  const char* text;
  const char* value;
};

class EvaluateTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    eval::reset_scopes();
    set_century_window_year(2026);
  }
  void TearDown() override { set_century_window_year(0); }

  void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      const std::optional<std::string> value = evaluate(c.text);
      ASSERT_TRUE(value.has_value()) << c.text << " error " << ERRORNUMBER() << " " << ERRORTEXT();
      EXPECT_EQ(*value, c.value) << c.text;
      EXPECT_EQ(ERRORNUMBER(), 0) << c.text;
    }
  }
};

TEST_F(EvaluateTableTest, PrecedenceAndArithmetic) {
  check({
      {"1 + 2 * 3 ^ 2", "19"},
      {"(1 + 2) * 3", "9"},
      {"10 - 2 - 3", "5"},
      {"100 / 10 / 5", "2"},
      {"2 ^ 3 ^ 2", "64"},  // left to right
      {"-2 ^ 2", "4"},      // the sign belongs to the primary
      {"2 ^ -1", "0.5"},
      {"2 ^ 0.5 ^ 2", "2"},
      {"- - 3", "3"},
      {"+-+5", "-5"},
      {"---5", "-5"},
      {"7 / 2", "3.5"},
      {"1 / 3", "0.33333333333333"},
      {"2 * 3 % 4", "2"},
      {"10 % 3", "1"},
      {"-7 % 3", "-1"},
      {"7.5 % 2", "1.5"},
      {"2 + 3 * 4 - 6 / 2", "11"},
      {"2147483647 + 1", "2147483648"},
      {"0.1 + 0.2 = 0.3", "0"},  // REAL arithmetic, as the machine does it
      {"3 * (2 + (1 - (4 / 2)))", "3"},
  });
}

TEST_F(EvaluateTableTest, NumberLiterals) {
  check({
      {"0FFH", "255"},
      {"0ffh", "255"},
      {"17O", "15"},
      {"101B", "5"},
      {"0FFFFFFFFH", "-1"},
      {"7FFFFFFFH", "2147483647"},
      {"80000000H", "-2147483648"},
      {"1.5E2", "150"},
      {"1.5e-1", "0.15"},
      {"2.5E+1", "25"},
      {"1.E3", "1000"},
      {".5 + .25", "0.75"},
      {"007", "7"},
      {"3000000000", "3000000000"},  // beyond LONG: a REAL, not wrapped
      {"12.50", "12.5"},
      {"100.0", "100"},
  });
}

TEST_F(EvaluateTableTest, TextsAndConcatenation) {
  check({
      {"'ab' & 'cd'", "abcd"},
      {"'it''s'", "it's"},
      {"LEN('it''s')", "4"},
      {"''''", "'"},
      {"'a' & 1 + 2", "a3"},  // & binds looser than +
      {"1 & 2", "12"},
      {"('1' & '2') + 1", "13"},
      {"'x' & 1.5", "x1.5"},
      {"'x' & 7 / 2", "x3.5"},
      {"'n=' & (1 < 2)", "n=1"},
      {"'' & ''", ""},
      {"'a' & 'b' & 'c' & 'd'", "abcd"},
      {"@N10.2", "@N10.2"},
  });
}

TEST_F(EvaluateTableTest, ComparisonsOfEveryKind) {
  check({
      {"1 < 2", "1"},
      {"2 < 1", "0"},
      {"2 ~= 3", "1"},
      {"2 <> 2", "0"},
      {"3 =< 3", "1"},
      {"3 => 4", "0"},
      {"3 ~< 2", "1"},  // not less: >=
      {"3 ~> 2", "0"},  // not greater: <=
      {"2 >= 2", "1"},
      {"2 <= 1", "0"},
      {"1 < 2 < 3", "1"},         // (1 < 2) < 3
      {"3 > 2 > 1", "0"},         // (3 > 2) > 1
      {"'abc' = 'abc   '", "1"},  // trailing blanks never matter
      {"'' = '   '", "1"},
      {"'ab' < 'abc'", "1"},
      {"'b' > 'abc'", "1"},
      {"'10' < '9'", "1"},  // two texts: as texts
      {"'10' < 9", "0"},    // mixed: as REAL
      {"'1.0' = 1", "1"},
      {"1 = 1.0", "1"},
      {"7 / 2 = 3.5", "1"},
      {"'abc' = 0", "1"},  // a text that is no number reads as 0
      {"1 + 1 = 2", "1"},
      {"'a' & 'b' = 'ab'", "1"},
  });
}

TEST_F(EvaluateTableTest, TruthValuesAndLogic) {
  check({
      {"1 < 2 AND 2 < 1", "0"},
      {"NOT NOT 1", "1"},
      {"NOT NOT 5", "5"},  // repeated prefixes cancel in pairs
      {"NOT 5", "0"},
      {"NOT 0", "1"},
      {"~0", "1"},
      {"~ ~ 7", "7"},
      {"1 OR 0 AND 0", "1"},  // AND binds tighter
      {"(1 OR 0) AND 0", "0"},
      {"1 XOR 1", "0"},
      {"1 XOR 0", "1"},
      {"0 XOR 0 OR 1", "1"},
      {"NOT 1 = 2", "1"},  // NOT applies to the comparison
      {"not 1 and 0", "0"},
      {"'a' AND 1", "1"},
      {"'  ' OR 0", "0"},
      {"0.5 AND 1", "1"},  // a REAL is true when not 0
      {"5 AND 7", "1"},
      {"'0' AND 1", "1"},  // a text is true when not blank
      {"NOT ''", "1"},
  });
}

TEST_F(EvaluateTableTest, BitsAndIntegers) {
  check({
      {"BAND(12, 10)", "8"},
      {"BOR(12, 10)", "14"},
      {"BXOR(12, 10)", "6"},
      {"BAND(-1, 0FFH)", "255"},
      {"BSHIFT(1, 4)", "16"},
      {"BSHIFT(1, 31)", "-2147483648"},
      {"BSHIFT(1, 32)", "0"},
      {"BSHIFT(-1, -28)", "15"},  // right shifts bring in zeros
      {"BSHIFT(-16, -31)", "1"},
      {"BSHIFT(256, -32)", "0"},
      {"BSHIFT(3, 0)", "3"},
      {"INT(3.99)", "3"},
      {"INT(-3.99)", "-3"},
      {"INT('12.7')", "12"},
      {"INT(7 / 2)", "3"},
      {"NULL(0)", "1"},
      {"NULL(5)", "0"},
      {"NULL('')", "1"},
      {"NULL(0.5)", "1"},  // read as a LONG first
      {"INRANGE(5, 1, 10)", "1"},
      {"INRANGE(10, 1, 10)", "1"},
      {"INRANGE(0.5, 1, 10)", "0"},
      {"INRANGE(10.5, 1, 10)", "0"},
      {"INRANGE('7', 1, 10)", "1"},
  });
}

TEST_F(EvaluateTableTest, RealFunctions) {
  check({
      {"ABS(-2.5)", "2.5"},
      {"ABS(3)", "3"},
      {"SQRT(16)", "4"},
      {"LOG10(1000)", "3"},
      {"LOGE(1)", "0"},
      {"SIN(0)", "0"},
      {"COS(0)", "1"},
      {"TAN(0)", "0"},
      {"ASIN(1) * 2", "3.1415926535898"},
      {"ACOS(1)", "0"},
      {"ATAN(1) * 4", "3.1415926535898"},
      {"SIN(1) ^ 2 + COS(1) ^ 2", "1"},
      {"ROUND(1.235, 0.01)", "1.24"},
      {"ROUND(2.567, 0.05)", "2.57"},  // only the magnitude of the order counts
      {"ROUND(1234.5, 100)", "1200"},
      {"ROUND(1250, 100)", "1300"},  // halves away from zero
      {"ROUND(-1250, 100)", "-1300"},
      {"ROUND(-2.5, 1)", "-3"},
      {"ROUND(1234, 500)", "1200"},
      {"ROUND(5, 0)", "0"},
      {"ROUND(0, 1)", "0"},
      {"ROUND(5.5, -1)", "5.5"},  // a negative order leaves x alone
      {"ROUND(0.125, 0.01)", "0.13"},
  });
}

TEST_F(EvaluateTableTest, StringFunctions) {
  check({
      {"CHR(65)", "A"},
      {"CHR(321)", "A"},  // the low 8 bits
      {"VAL('A')", "65"},
      {"VAL('')", "0"},
      {"LEN('abc  ')", "5"},
      {"LEN('')", "0"},
      {"SUB('abcdef', -2, 5)", "ef"},
      {"SUB('abcdef', 0, 2)", "ab"},
      {"SUB('abcdef', 10, 2)", ""},
      {"SUB('abcdef', 2, 3)", "bcd"},
      {"INSTRING('cd', 'abcdef')", "3"},
      {"INSTRING('cd', 'abcdef', 2)", "2"},
      {"INSTRING('bc', 'abcdef', 2)", "0"},
      {"INSTRING('ab', 'ccab', 0)", "2"},
      {"INSTRING('a', 'banana', 1, 3)", "4"},
      {"INSTRING('a', 'banana', , 3)", "4"},  // an empty argument takes its default
      {"INSTRING('', 'abc')", "0"},
      {"CLIP('ab  ') & '|'", "ab|"},
      {"ALL('ab', 5)", "ababa"},
      {"ALL('-', 3)", "---"},
      {"LEN(ALL('x'))", "255"},
      {"ALL('ab', 0)", ""},
      {"CENTER('abc', 6) & '|'", "  abc |"},
      {"CENTER('abc', 2)", "bc"},
      {"CENTER(' ab ') & '|'", " ab |"},
      {"LEFT('  ab', 4) & '|'", "ab  |"},
      {"LEFT('  ab') & '|'", "ab  |"},
      {"LEFT('abcdef', 3)", "abc"},
      {"RIGHT('ab  ', 4)", "  ab"},
      {"RIGHT('ab  ')", "  ab"},
      {"UPPER('abc') & LOWER('DEF')", "ABCdef"},
      {"NUMERIC('12.5  ')", "1"},
      {"NUMERIC('12a')", "0"},
      {"NUMERIC('')", "0"},
      {"INLIST('b', 'a', 'b', 'c')", "2"},
      {"INLIST('d', 'a', 'b')", "0"},
      {"INLIST('b  ', 'a', 'b')", "2"},
      {"MATCH('Hello', 'h*o')", "0"},  // mode 1 by default
      {"MATCH('Hello', 'H*o')", "1"},
      {"MATCH('Hello', 'h*o', 17)", "1"},
      {"MATCH('abc123', '[0-9]+$', 2)", "1"},
      {"MATCH('abc123', '{ab}+c', 2)", "1"},
      {"MATCH('abc', 'a**', 2)", "0"},
      {"MATCH('Smith', 'Smyth', 3)", "1"},
  });
}

TEST_F(EvaluateTableTest, ChooseTakesTheLastValueOutOfRange) {
  check({
      {"CHOOSE(2, 'a', 'b', 'c')", "b"},
      {"CHOOSE(1, 'a', 'b', 'c')", "a"},
      {"CHOOSE(3, 'a', 'b', 'c')", "c"},
      {"CHOOSE(5, 'a', 'b', 'c')", "c"},
      {"CHOOSE(0, 'a', 'b')", "b"},
      {"CHOOSE(-1, 'a', 'b')", "b"},
      {"CHOOSE(1, 'x')", "x"},
      {"CHOOSE(2, 1 + 1, 2 + 2) + 1", "5"},
      {"CHOOSE(2, UPPER('a'), UPPER('b')) & CHOOSE(1, LOWER('C'), 'd')", "Bc"},
  });
}

TEST_F(EvaluateTableTest, DatesAndPictures) {
  check({
      {"DATE(1, 1, 1801)", "4"},
      {"DATE(12, 31, 9999)", "2994626"},
      {"DATE(12, 31, 1800)", "-1"},
      {"DATE(13, 1, 2023) = DATE(1, 1, 2024)", "1"},
      {"DATE(1, 32, 2023) = DATE(2, 1, 2023)", "1"},
      {"DATE(2, 29, 1900) = DATE(3, 1, 1900)", "1"},
      {"DAY(DATE(10, 31, 1959))", "31"},
      {"MONTH(DATE(10, 31, 1959))", "10"},
      {"YEAR(DATE(10, 31, 1959))", "1959"},
      {"YEAR(3)", "0"},
      {"YEAR(DATE(1, 1, 45))", "2045"},
      {"AGE(DATE(1, 1, 2000), DATE(3, 1, 2000))", "60 DAYS"},
      {"AGE(DATE(1, 1, 2000), DATE(3, 2, 2000))", "2 MOS"},
      {"AGE(DATE(1, 1, 2000), DATE(1, 1, 2002))", "24 MOS"},
      {"AGE(DATE(1, 1, 2000), DATE(2, 1, 2002))", "2 YRS"},
      {"AGE(DATE(5, 10, 1990), DATE(5, 9, 2020))", "29 YRS"},
      {"AGE(TODAY() - 5)", "5 DAYS"},  // the base defaults to today
      {"FORMAT(1234.5, @N12.2)", "    1,234.50"},
      {"FORMAT(-1234.5, @N-12.2)", "   -1,234.50"},
      {"FORMAT(42, @N010)", "0000000042"},
      {"FORMAT(DATE(10, 31, 1959), @D3)", "OCT 31,1959"},
      {"FORMAT(DATE(1, 5, 2024), @D1)", " 1/05/24"},
      {"FORMAT('abcdef', @S3)", "abc"},
      {"FORMAT(1234.5, '@N12.2')", "    1,234.50"},  // a picture given as text
      {"LEN(FORMAT(0, @N12.2B))", "12"},
      {"CLIP(FORMAT(0, @N12.2B)) = ''", "1"},
      {"DEFORMAT('1/05/30', @D1) = DATE(1, 5, 2030)", "1"},
      {"DEFORMAT(FORMAT(1234.5, @N12.2), @N12.2) = 1234.5", "1"},
      {"FORMAT(123, @P(###)P)", "(123)"},
  });
}

TEST_F(EvaluateTableTest, ClockAndSettings) {
  check({
      {"TODAY() = TODAY", "1"},  // a function without arguments may leave out ()
      {"TODAY() > DATE(1, 1, 2020)", "1"},
      {"INRANGE(CLOCK(), 0, 8640000)", "1"},
      {"GETINI('none', 'key', 'dflt', '/nonexistent/settings.ini')", "dflt"},
      {"GETINI('none', 'key')", ""},
      {"MEMORY(0) >= 0", "1"},
      {"RANDOM(5, 5)", "5"},
  });
}

TEST_F(EvaluateTableTest, RandomCombinesThreeDraws) {
  for (const auto& [low, high] :
       {std::pair{1, 6}, {-10, 10}, {0, 2147483647}, {-2147483647 - 1, 2147483647}}) {
    seed_random(12345);
    RandomState copy = random_state();
    const uint32_t r1 = draw_random(copy), r2 = draw_random(copy), r3 = draw_random(copy);
    uint32_t v = r1 * (1u << 30) + r2 * (1u << 15) + r3;
    const uint32_t n = static_cast<uint32_t>(high) - static_cast<uint32_t>(low) + 1;
    if (n != 0) v %= n;
    const std::string text = "RANDOM(" + std::to_string(low) + ", " + std::to_string(high) + ")";
    EXPECT_EQ(EVALUATE(text), std::to_string(static_cast<int32_t>(static_cast<uint32_t>(low) + v)))
        << text;
  }
}

}  // namespace
}  // namespace vtn
