// Compiled expressions over bound variables and procedures: the kind each result is asked in,
// the truth rules, compile failures with their errors, and the bounds that keep typed input from
// exhausting memory or the stack.
#include "runtime/eval/expression.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "runtime/eval/evaluate.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

class ExpressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    eval::reset_scopes();
    clear_error();
  }

  std::unique_ptr<Expression> compile(std::string_view text) {
    auto e = Expression::compile(text);
    EXPECT_NE(e, nullptr) << text;
    return e;
  }
};

TEST_F(ExpressionTest, EachKindAskedForConvertsByTheRuntimeRules) {
  struct Case {
    const char* text;
    int32_t as_long;
    double as_real;
    const char* as_text;
    bool truth;
  };
  const Case cases[] = {
      {"7 / 2", 3, 3.5, "3.5", true},
      {"-7 / 2", -3, -3.5, "-3.5", true},
      {"0.25", 0, 0.25, "0.25", true},  // a REAL is true when not 0, even below 1
      {"'1E3'", 1, 1000, "1E3", true},  // text to LONG by the decimal reader, to REAL in full
      {"'  -12.50'", -12, -12.5, "  -12.50", true},
      {"'+5'", 0, 5, "+5", true},
      {"'   '", 0, 0, "   ", false},
      {"'x' & 12", 0, 0, "x12", true},
      {"'1' & '2'", 12, 12, "12", true},
      {"1 < 2", 1, 1, "1", true},
      {"0FFH", 255, 255, "255", true},
      {"4000000000 * 2", -589934592, 8e9, "8000000000", true},    // the low 32 bits
      {"1.0E300 * 1.0E300", INT32_MIN, HUGE_VAL, nullptr, true},  // no integer part at all
  };
  for (const Case& c : cases) {
    auto e = compile(c.text);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->evaluate_long(), c.as_long) << c.text;
    EXPECT_DOUBLE_EQ(e->evaluate_real(), c.as_real) << c.text;
    if (c.as_text != nullptr) {
      EXPECT_EQ(e->evaluate_text(), c.as_text) << c.text;
    }
    EXPECT_EQ(e->evaluate_truth(), c.truth) << c.text;
  }
}

TEST_F(ExpressionTest, BoundVariablesAreReadOnEveryEvaluation) {
  int32_t number = 150;
  double rate = 0.5;
  String<10> name = "smith";
  char code[6] = "ab";
  bind("number", number);
  bind("rate", rate);
  bind("Name", name);
  bind_variable("code", make_typed_reference(ValueType::CSTRING, code, sizeof code));

  auto filter = compile("UPPER(name) = 'SMITH' AND number > 100");
  EXPECT_TRUE(filter->evaluate_truth());
  number = 100;
  EXPECT_FALSE(filter->evaluate_truth());
  number = 101;
  name = "jones";
  EXPECT_FALSE(filter->evaluate_truth());

  struct Case {
    const char* text;
    const char* value;
  };
  number = 7;
  name = "smith";
  const Case cases[] = {
      {"number * rate", "3.5"},
      {"rate * number + number / rate", "17.5"},
      {"LEN(name)", "10"},  // the whole STRING
      {"name = 'smith'", "1"},
      {"name & '|'", "smith     |"},
      {"CLIP(NAME) & code", "smithab"},  // names are found in any letter case
      {"LEN(code)", "2"},
      {"number = 7", "1"},
      {"number & ''", "7"},
      {"number > '10'", "0"},  // mixed kinds compare as REAL
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EVALUATE(c.text), c.value) << c.text;
    EXPECT_EQ(ERRORNUMBER(), 0) << c.text;
  }
}

TEST_F(ExpressionTest, VariablesOfOtherTypesGoThroughTheirTypedReference) {
  uint8_t packed[4] = {0x00, 0x12, 0x34, 0x50};  // DECIMAL(7,2): sign 0, digits 0123450
  int16_t small = -5;
  int32_t date_storage = 0;
  float single = 2.5f;
  bind_variable("amount", make_typed_reference(ValueType::DECIMAL, packed, 4, 2));
  bind_variable("small", make_typed_reference(ValueType::SHORT, &small));
  bind_variable("day", make_typed_reference(ValueType::DATE, &date_storage));
  bind_variable("single", make_typed_reference(ValueType::SREAL, &single));
  make_typed_reference(ValueType::DATE, &date_storage)->assign_long(DATE(10, 31, 1959));

  EXPECT_EQ(EVALUATE("amount"), "1234.5");
  EXPECT_EQ(EVALUATE("amount * 2"), "2469");
  EXPECT_EQ(EVALUATE("small - 1"), "-6");
  EXPECT_EQ(EVALUATE("small < -4"), "1");
  EXPECT_EQ(EVALUATE("YEAR(day)"), "1959");
  EXPECT_EQ(EVALUATE("day = DATE(10, 31, 1959)"), "1");
  EXPECT_EQ(EVALUATE("single * 2"), "5");
}

TEST_F(ExpressionTest, NumbersOnlyProgramsTakeTheShortPathWithTheSameAnswers) {
  double a = 1.5, b = 2, c = -3;
  int32_t n = 4;
  int16_t s = -5;
  bind("a", a);
  bind("b", b);
  bind("c", c);
  bind("n", n);
  bind_variable("s", make_typed_reference(ValueType::SHORT, &s));
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"a*b+c/(b-1.5)", -3},     {"a^2 - b^3", -5.75},       {"-a + b % 1.5 - c", 2},
      {"SQRT(b*8) + ABS(c)", 7}, {"a / 3 * 2", 1},           {"(a - b) * (a + b)", -1.75},
      {"c * c * c", -27},        {"1 - a - b", -2.5},        {"2 ^ b ^ 0.5", 2},
      {"n / 8 + a", 2},          {"s * 2 - n", -14},         {"--a", 1.5},
      {"b - a + c * 2", -5.5},   {"COS(0) + SIN(0) * a", 1}, {"7 % (b + 1) / b", 0.5},
  };
  for (const Case& k : cases) {
    auto e = compile(k.text);
    EXPECT_DOUBLE_EQ(e->evaluate_real(), k.value) << k.text;  // makes the program
    EXPECT_DOUBLE_EQ(e->evaluate_real(), k.value) << k.text;  // runs it without the machine
  }
  auto e = compile("a * b");
  e->evaluate_real();
  a = 10;
  EXPECT_DOUBLE_EQ(e->evaluate_real(), 20);  // reads the variable anew
}

TEST_F(ExpressionTest, AProcedureMayEvaluateTheExpressionThatCallsIt) {
  Expression* self = nullptr;
  int32_t depth = 0;
  bind("depth", depth);
  bind_procedure("inner", {}, eval::ParamKind::kText, [&](auto) {
    if (depth >= 2) return eval::ProcedureValue::of_text("end");
    ++depth;
    std::string nested(self->evaluate_text());  // its own stacks, the outer ones untouched
    --depth;
    return eval::ProcedureValue::of_text("<" + nested + ">");
  });
  auto e = compile("UPPER('a') & inner() & depth");
  self = e.get();
  EXPECT_EQ(e->evaluate_text(), "A<A<Aend2>1>0");
  EXPECT_EQ(e->evaluate_text(), "A<A<Aend2>1>0");
}

TEST_F(ExpressionTest, GetIniReadsTheNamedSettingsFile) {
  char path[] = "/tmp/eval_getini_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "[Paths]\nData = /srv/data\n[Empty]\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  const std::string file = std::string("'") + path + "'";
  EXPECT_EQ(EVALUATE("GETINI('paths', 'DATA', 'none', " + file + ")"), "/srv/data");
  EXPECT_EQ(EVALUATE("GETINI('paths', 'other', 'none', " + file + ")"), "none");
  EXPECT_EQ(EVALUATE("GETINI('empty', 'data', , " + file + ")"), "");
  unlink(path);
}

TEST_F(ExpressionTest, EvaluateOverTheStringStack) {
  string_stack().push_copy("UPPER('ab') & 1 + 2");
  EVALUATE();
  EXPECT_EQ(string_stack().pop_string(), "AB3");
  string_stack().push_copy("1 +");
  EVALUATE();
  EXPECT_EQ(string_stack().pop_string(), "");
  EXPECT_EQ(ERRORNUMBER(), 800);
  EXPECT_EQ(string_stack().depth(), 0);
}

TEST_F(ExpressionTest, ABoundVariableIsTrueUnlessItHoldsAnEmptyValue) {
  int32_t zero = 0, one = 1;
  double nothing = 0;
  String<4> blank;
  String<4> word = "x";
  bind("zero", zero);
  bind("one", one);
  bind("nothing", nothing);
  bind("blank", blank);
  bind("word", word);
  struct Case {
    const char* text;
    bool truth;
  };
  for (const Case& c : {Case{"zero", false},
                        {"one", true},
                        {"nothing", false},
                        {"blank", false},
                        {"word", true},
                        {"NOT blank", true},
                        {"word AND one", true},
                        {"blank OR zero", false}}) {
    EXPECT_EQ(compile(c.text)->evaluate_truth(), c.truth) << c.text;
  }
}

TEST_F(ExpressionTest, BoundProceduresTakeTheirParametersInTheirKinds) {
  bind_procedure("twice", {eval::ParamKind::kReal}, eval::ParamKind::kReal,
                 [](auto args) { return eval::ProcedureValue::of_real(2 * args[0].real_value); });
  bind_procedure("greet", {eval::ParamKind::kText, eval::ParamKind::kLong}, eval::ParamKind::kText,
                 [](auto args) {
                   return eval::ProcedureValue::of_text(args[0].text + "#" +
                                                        std::to_string(args[1].long_value));
                 });
  bind_procedure("answer", {}, eval::ParamKind::kLong,
                 [](auto) { return eval::ProcedureValue::of_text("42"); });  // converted
  EXPECT_EQ(EVALUATE("twice(2.5)"), "5");
  EXPECT_EQ(EVALUATE("twice(twice('1.5'))"), "6");
  EXPECT_EQ(EVALUATE("greet('ab' & 'c', 7.9)"), "abc#7");
  EXPECT_EQ(EVALUATE("answer() + answer"), "84");
  EXPECT_EQ(EVALUATE("twice(1, 2)"), "");
  EXPECT_EQ(ERRORNUMBER(), 800);
}

TEST_F(ExpressionTest, TextsThatDoNotCompile) {
  const char* texts[] = {
      "",          "1 +",           "(1",          "1 2",
      "'abc",      "LEFT()",        "SUB('a', 1)", "CHOOSE(1)",
      "ABS(1, 2)", "1 $ 2",         "12AB",        "[1]",
      "1 = NOT 2", "SUB('a', , 2)", "@",           "@P123",
      "1.5E",      "0FFH.5",        ")",           "1 +* 2",
      "ABS 1",     "INLIST('a')",   "DATE(1, 2)",  "1 : 2",
  };
  for (const char* text : texts) {
    eval::CompileError error;
    EXPECT_EQ(Expression::compile(text, &error), nullptr) << text;
    EXPECT_EQ(error.code, 800) << text;
    EXPECT_EQ(evaluate(text), std::nullopt) << text;
    EXPECT_EQ(ERRORNUMBER(), 800) << text;
    EXPECT_EQ(ERRORTEXT(), "Invalid expression for EVALUATE") << text;
  }
}

TEST_F(ExpressionTest, AnUnboundNamePosts801WithTheName) {
  eval::CompileError error;
  EXPECT_EQ(Expression::compile("1 + nosuch * 2", &error), nullptr);
  EXPECT_EQ(error.code, 801);
  EXPECT_EQ(error.name, "nosuch");
  EXPECT_EQ(error.offset, 4u);
  EXPECT_EQ(ERRORNUMBER(), 801);
  EXPECT_EQ(ERRORTEXT(), "No BIND on variable (nosuch)");

  EXPECT_EQ(EVALUATE("UPPER(PNM:NAME)"), "");
  EXPECT_EQ(ERRORNUMBER(), 801);
  EXPECT_EQ(ERRORTEXT(), "No BIND on variable (PNM:NAME)");

  // A long name is cut with the rest of the text at 79 characters.
  EXPECT_EQ(EVALUATE(std::string(100, 'x')), "");
  EXPECT_EQ(ERRORTEXT().size(), 79u);

  EXPECT_EQ(EVALUATE("1 + 1"), "2");  // success clears the error
  EXPECT_EQ(ERRORNUMBER(), 0);
}

TEST_F(ExpressionTest, AbsurdSizesGiveTheMemoryErrorNotAnAbort) {
  for (const char* text :
       {"ALL('x', 2000000000)", "LEFT('a', 2147483647)", "RIGHT('a', 2147483647)",
        "CENTER('a', 2147483647)", "LEN(ALL('ab', 10000000) & ALL('ab', 10000000))"}) {
    EXPECT_EQ(evaluate(text), std::nullopt) << text;
    EXPECT_EQ(ERRORNUMBER(), 8) << text;
  }
  clear_error();
  auto e = compile("LEN(ALL('x', 70000000)) + 1");
  EXPECT_EQ(e->evaluate_long(), 1);  // went on with an empty text
  EXPECT_EQ(e->failure(), 8);
  EXPECT_EQ(ERRORNUMBER(), 0);  // a compiled expression reports, EVALUATE posts
  EXPECT_EQ(EVALUATE("LEN(ALL('x', 1000000))"), "1000000");
}

TEST_F(ExpressionTest, DeepNestingAndLongTextsFailCleanly) {
  EXPECT_EQ(evaluate(std::string(100000, '(') + "1" + std::string(100000, ')')), std::nullopt);
  EXPECT_EQ(ERRORNUMBER(), 800);
  std::string chain = "1";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_EQ(evaluate(chain), std::nullopt);
  EXPECT_EQ(ERRORNUMBER(), 800);
  std::string calls;
  for (int i = 0; i < 1000; ++i) calls += "ABS(";
  EXPECT_EQ(evaluate(calls + "1" + std::string(1000, ')')), std::nullopt);
  std::string unary(100000, '-');
  EXPECT_EQ(EVALUATE(unary + "1"), "1");  // an even count of signs, no nesting
  std::string nots;
  for (int i = 0; i < 10001; ++i) nots += "NOT ";
  EXPECT_EQ(EVALUATE(nots + "0"), "1");
  // Within the bounds, nesting works.
  EXPECT_EQ(EVALUATE(std::string(150, '(') + "2" + std::string(150, ')') + " * 3"), "6");
  std::string sum = "1";
  for (int i = 0; i < 1500; ++i) sum += "+1";
  EXPECT_EQ(EVALUATE(sum), "1501");
  const std::string big(1000000, 'q');
  EXPECT_EQ(EVALUATE("LEN('" + big + "' & 'r')"), "1000001");
}

TEST_F(ExpressionTest, TextResultsStayValidAcrossArgumentSlots) {
  // Results built in one argument's slot must not be overwritten by the next argument.
  String<8> a = "aaaa";
  bind("a", a);
  EXPECT_EQ(EVALUATE("CHOOSE(2, UPPER(a), LOWER('BB'), 'c') & UPPER('dd')"), "bbDD");
  EXPECT_EQ(EVALUATE("SUB(CLIP(UPPER(a)) & 'xyz', 4, 3) & CLIP(a)"), "Axyaaaa");
  EXPECT_EQ(EVALUATE("INLIST(UPPER('b'), LOWER('A'), UPPER('b'))"), "2");
  auto e = compile("UPPER(a) & LEFT(a, 2) & 12");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(e->evaluate_text(), "AAAA    aa12");
}

}  // namespace
}  // namespace vtn
