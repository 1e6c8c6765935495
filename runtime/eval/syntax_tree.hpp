// The node tree of a compiled expression and the parser that builds it.
//
// Grammar, lowest precedence first; every binary operator associates to the left:
//
//   or       := and { (OR | XOR) and }
//   and      := not { AND not }
//   not      := { NOT | ~ } compare          repeated prefixes cancel in pairs
//   compare  := concat { (= <> < > <= >=) concat }
//   concat   := sum { & sum }
//   sum      := product { (+ | -) product }
//   product  := power { (* | / | %) power }
//   power    := unary { ^ unary }            so -2^2 is (-2)^2
//   unary    := { + | - } primary             an odd number of "-" negates
//   primary  := number | text | picture | variable | call | ( or )
//   call     := function [ ( [argument] { , [argument] } ) ]
//
// A text compiles only when the whole of it is one expression. A name must be bound or built
// in; an argument may be left empty (or out at the end) only where the function has a default.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/eval/name_table.hpp"
#include "runtime/eval/scanner.hpp"
#include "runtime/eval/value_kind.hpp"

namespace vtn::eval {

// Nesting of parentheses and calls, and the depth of the tree, are bounded so that neither the
// compiler nor evaluation can run out of stack on what a user types.
inline constexpr int kMaxNesting = 200;
inline constexpr int kMaxTreeDepth = 2000;

struct Node {
  enum class Type : uint8_t { kConstant, kVariable, kNegate, kBinary, kNot, kCall, kProcedure };

  Type type = Type::kConstant;
  NodeKind kind = NodeKind::kInteger;
  OpCode op = OpCode::kNone;  // kBinary
  int32_t left = -1;          // kNegate, kNot: the operand; kBinary: the left operand
  int32_t right = -1;
  int32_t first_argument = 0;  // kCall, kProcedure: into SyntaxTree::arguments
  int32_t argument_count = 0;
  int32_t integer = 0;   // kConstant of kind kInteger
  double real = 0;       // kConstant of kind kReal
  int32_t text = -1;     // kConstant of kind kText or kPicture: into SyntaxTree::texts
  int32_t binding = -1;  // kVariable, kProcedure: into SyntaxTree::bindings; kCall: builtin number
  int32_t depth = 1;
};

struct SyntaxTree {
  std::vector<Node> nodes;
  std::vector<int32_t> arguments;  // node indices, -1 for an argument left out
  std::vector<std::string> texts;
  std::vector<std::shared_ptr<const NameRecord>> bindings;
  int32_t root = -1;
};

// Why a text did not compile.
struct CompileError {
  int32_t code = 0;    // 800: not an expression; 801: a name bound nowhere
  size_t offset = 0;   // where in the text
  std::string reason;  // what was wrong, for people
  std::string name;    // 801: the name
};

// Parses `text` over the current scopes. False, with `error` filled in, when it is not one
// complete expression.
bool parse_expression(std::string_view text, SyntaxTree& tree, CompileError& error);

}  // namespace vtn::eval
