// A compiled expression: compile a text once, evaluate it as often as needed, in the kind the
// caller wants. This is what filters are built on:
//
//   eval::CompileError error;
//   std::unique_ptr<vtn::Expression> filter = vtn::Expression::compile(text, &error);
//   if (!filter) ...               // error.code 800 (not an expression) or 801 (unbound name)
//   while (next record)
//     if (filter->evaluate_truth()) ...
//
// Names are looked up in the scopes current at compile time (scopes.hpp); the expression keeps
// the bindings it uses, and reads the variables' storage anew on every evaluation. Evaluating a
// number allocates nothing; a text result reuses the memory of the one before.
//
// Compile posts error 801, with the name, for a name bound nowhere; other compile failures post
// nothing (EVALUATE posts 800 for them). Evaluation posts nothing either: when it meets a text
// too long to make (ALL('x', 2000000000)) it goes on with an empty text and failure() tells 8.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/eval/program.hpp"
#include "runtime/eval/syntax_tree.hpp"

namespace vtn {

class Expression {
 public:
  static std::unique_ptr<Expression> compile(std::string_view text,
                                             eval::CompileError* error = nullptr);

  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  int32_t evaluate_long();
  double evaluate_real();
  // Valid until the next evaluation of this expression.
  std::string_view evaluate_text();
  // The truth value: a variable holding no empty value, a number not 0, a text not blank.
  bool evaluate_truth();

  // The kind of the whole expression (integer, REAL, text or picture).
  eval::NodeKind kind() const { return tree_.nodes[tree_.root].kind; }
  // The run-time error met by the last evaluation (8), or 0.
  int32_t failure() const { return failure_; }

 private:
  Expression() = default;
  // Runs the program for `want`, leaving the result on the machine it used.
  eval::Machine& run(eval::Want want);

  eval::SyntaxTree tree_;
  std::array<std::optional<eval::Program>, 4> programs_;
  eval::Machine machine_;
  std::vector<std::unique_ptr<eval::Machine>> nested_;  // for evaluations inside its own
  size_t depth_ = 0;                                    // evaluations under way
  int32_t failure_ = 0;
};

// Posts error 801 with " (", the name and ")" after its message.
void post_unbound_name(std::string_view name);

}  // namespace vtn
