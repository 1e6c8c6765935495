#include "runtime/eval/scopes.hpp"

#include <gtest/gtest.h>

#include "runtime/eval/evaluate.hpp"
#include "runtime/eval/expression.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

class ScopesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VTN_MSGBOX", "stderr", 1);
    eval::reset_scopes();
  }
  void TearDown() override { eval::reset_scopes(); }
};

TEST_F(ScopesTest, PushScopeHidesOrKeepsTheBindingsBefore) {
  int32_t outer = 1;
  bind("x", outer);
  EXPECT_EQ(EVALUATE("x"), "1");

  PUSHSCOPE(0);
  EXPECT_EQ(EVALUATE("x"), "");
  EXPECT_EQ(ERRORNUMBER(), 801);
  EXPECT_EQ(EVALUATE("LEN('ab')"), "2");  // built-ins are in every table
  POPSCOPE();
  EXPECT_EQ(EVALUATE("x"), "1");

  PUSHSCOPE(1);
  EXPECT_EQ(EVALUATE("x"), "1");
  int32_t inner = 2;
  bind("X", inner);  // shadows, in any letter case
  EXPECT_EQ(EVALUATE("x"), "2");
  POPSCOPE();
  EXPECT_EQ(EVALUATE("x"), "1");
  EXPECT_EQ(eval::scope_depth(), 0);
}

TEST_F(ScopesTest, TheSearchStopsAtTheFirstHidingScope) {
  int32_t a = 1, b = 2, c = 3;
  bind("a", a);
  PUSHSCOPE(0);
  bind("b", b);
  PUSHSCOPE(1);
  bind("c", c);
  PUSHSCOPE(1);
  EXPECT_EQ(EVALUATE("c + b"), "5");  // through two keeping scopes
  EXPECT_EQ(EVALUATE("a"), "");       // not past the hiding one
  POPSCOPE();
  POPSCOPE();
  POPSCOPE();
  EXPECT_EQ(EVALUATE("a"), "1");
  EXPECT_EQ(EVALUATE("b"), "");  // its table went with its scope
}

TEST_F(ScopesTest, BindingReplacesAndCutsTheName) {
  int32_t first = 1, second = 2;
  bind("value", first);
  bind("VALUE", second);
  EXPECT_EQ(EVALUATE("value"), "2");

  int32_t padded = 7;
  string_stack().push_copy("PNM:NUMBER   ");
  BIND(make_typed_reference(ValueType::LONG, &padded));
  EXPECT_EQ(EVALUATE("pnm:number * 2"), "14");

  string_stack().push_copy(std::string(120, 'n'));
  BIND(make_typed_reference(ValueType::LONG, &padded));
  EXPECT_EQ(EVALUATE(std::string(99, 'N')), "7");  // at most 99 characters
  EXPECT_EQ(eval::bind_name("a b  "), "a b");
  EXPECT_EQ(eval::bind_name("  "), "");
}

TEST_F(ScopesTest, ABindingHidesTheBuiltInOrOperatorWordOfItsName) {
  int32_t len = 40;
  bind("len", len);
  EXPECT_EQ(EVALUATE("len + 2"), "42");
  PUSHSCOPE(1);
  EXPECT_EQ(EVALUATE("LEN('abc')"), "3");  // a new table has its own built-ins
  POPSCOPE();
  int32_t word = 5;
  bind("and", word);
  EXPECT_EQ(EVALUATE("and * 2"), "10");
}

TEST_F(ScopesTest, CompiledExpressionsOutliveRebindingAndTheirScope) {
  int32_t a = 3, b = 4;
  PUSHSCOPE(1);
  bind("n", a);
  auto e = Expression::compile("n * 10");
  ASSERT_NE(e, nullptr);
  bind("n", b);
  EXPECT_EQ(e->evaluate_long(), 30);  // keeps the binding it was compiled with
  POPSCOPE();
  a = 5;
  EXPECT_EQ(e->evaluate_long(), 50);
}

TEST_F(ScopesTest, PopScopeWithoutPushScopeIsFatal) {
  EXPECT_EXIT(POPSCOPE(), ::testing::ExitedWithCode(2),
              "Mismatched PUSHSCOPE/POPSCOPE : Mismatched POPSCOPE");
}

}  // namespace
}  // namespace vtn
