#include "runtime/eval/evaluate.hpp"

#include "runtime/eval/expression.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {
constexpr int32_t kInvalidExpression = 800;
}

std::optional<std::string> evaluate(std::string_view text, eval::CompileError* error) {
  clear_error();
  eval::CompileError local;
  eval::CompileError& e = error != nullptr ? *error : local;
  std::unique_ptr<Expression> expression = Expression::compile(text, &e);
  if (!expression) {
    if (e.code != 801) post_error(kInvalidExpression);
    return std::nullopt;
  }
  std::string value(expression->evaluate_text());
  if (expression->failure() != 0) {
    post_error(expression->failure());
    return std::nullopt;
  }
  return value;
}

std::string EVALUATE(std::string_view text) {
  return evaluate(text).value_or(std::string());
}

void EVALUATE() {
  const std::string text = string_stack().pop_string();
  string_stack().push_copy(EVALUATE(text));
}

}  // namespace vtn
