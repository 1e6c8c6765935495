#include "runtime/eval/expression.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/eval/code_generator.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_functions.hpp"

namespace vtn {

std::unique_ptr<Expression> Expression::compile(std::string_view text, eval::CompileError* error) {
  std::unique_ptr<Expression> expression(new Expression);
  eval::CompileError local;
  eval::CompileError& e = error != nullptr ? *error : local;
  if (!eval::parse_expression(text, expression->tree_, e)) {
    if (e.code == 801) post_unbound_name(e.name);
    return nullptr;
  }
  return expression;
}

eval::Machine& Expression::run(eval::Want want) {
  std::optional<eval::Program>& program = programs_[static_cast<size_t>(want)];
  if (!program) {
    program = eval::generate_program(tree_, want);
    machine_.reserve(*program);
  }
  // A bound procedure may evaluate this same expression again, at any depth: each level gets
  // stacks of its own.
  eval::Machine* machine = &machine_;
  if (depth_ > 0) [[unlikely]] {
    if (nested_.size() < depth_) nested_.push_back(std::make_unique<eval::Machine>());
    machine = nested_[depth_ - 1].get();
    machine->reserve(*program);
  }
  machine->failure = 0;
  ++depth_;
  eval::run(*program, *machine);
  --depth_;
  failure_ = machine->failure;
  return *machine;
}

int32_t Expression::evaluate_long() {
  return run(eval::Want::kLong).longs[0];
}

double Expression::evaluate_real() {
  const std::optional<eval::Program>& program = programs_[static_cast<size_t>(eval::Want::kReal)];
  if (program && program->real_only) {
    failure_ = 0;
    return eval::run_real(*program);
  }
  return run(eval::Want::kReal).reals[0];
}

std::string_view Expression::evaluate_text() {
  return run(eval::Want::kText).texts[0].view;
}

bool Expression::evaluate_truth() {
  return run(eval::Want::kTruth).longs[0] != 0;
}

void post_unbound_name(std::string_view name) {
  post_error(801);
  ErrorState& state = current_error_state();
  constexpr size_t kSignificant = sizeof state.error_text - 1;
  std::string text(clip(std::string_view(state.error_text, sizeof state.error_text)));
  text.append(" (").append(name).append(")");
  std::memset(state.error_text, ' ', sizeof state.error_text);
  std::memcpy(state.error_text, text.data(), std::min(text.size(), kSignificant));
}

}  // namespace vtn
