// The built-in functions of expressions: one small function each, and one table that names them
// with their number, argument counts, argument kinds and result kind.
//
// The evaluator pushes the arguments that were written, each in the kind the function wants
// (L a LONG, R a REAL, T a text); a function fills in the defaults of those left out itself. The
// last kind of a variadic function (CHOOSE, INLIST) repeats.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/eval/program.hpp"

namespace vtn::eval {

class CallFrame;

struct BuiltinFunction {
  const char* name;  // null for the internal variants that no name reaches
  int32_t number;
  uint8_t min_args;
  uint8_t max_args;
  const char* arg_kinds;  // one of L, R, T per argument
  char result;            // L, R or T
  bool variadic;          // the last argument kind repeats up to max_args
  void (*call)(CallFrame& frame);
  // A function of one REAL to a REAL (SQRT, SIN, ...), which the machine applies in place.
  double (*real_function)(double) = nullptr;

  char arg_kind(int i) const;
};

// FORMAT with a text value (the same function, reached when the value's node is a text).
inline constexpr int32_t kFormatTextNumber = 47;
inline constexpr int32_t kFormatNumber = 9;

// Every built-in function, internal variants included.
std::span<const BuiltinFunction> builtin_functions();
// The function of a number; REQUIRES: a number of the table.
const BuiltinFunction& builtin_function(int32_t number);

// The arguments of one call on the machine's stacks, and where its result goes.
class CallFrame {
 public:
  CallFrame(Machine& machine, const BuiltinFunction& function, int count);

  int count() const { return count_; }
  int32_t long_arg(int i) const;
  double real_arg(int i) const;
  std::string_view text_arg(int i) const;

  // Each pops the arguments and pushes the result; call exactly one of them, once.
  void result_long(int32_t value);
  void result_real(double value);
  // A text that points into an argument, a constant, a variable or static storage.
  void result_text(std::string_view text);
  // The buffer to build a text result in (empty), and the result taken from it.
  std::string& out();
  void result_out();
  // The run-time error that a text too long for memory gives; the result is an empty text.
  void result_too_long();

 private:
  int index_of(int i) const;  // the argument's entry on its stack

  Machine& m_;
  const BuiltinFunction& f_;
  int count_;
  int long_base_;
  int real_base_;
  int text_base_;
};

}  // namespace vtn::eval
