// Turns the node tree into the instructions that evaluate it for one wanted kind.
//
// Each node is asked for the kind its consumer wants, and converts its own value when that differs:
// arithmetic works on REALs, "&" on texts, a comparison on LONGs when both sides are integers, on
// texts when both are texts and on REALs otherwise; AND, OR, XOR and NOT on truth values.
// Constants are converted here, once, and an operand that is a constant or a REAL variable is
// folded into the arithmetic instruction that uses it.
#pragma once

#include "runtime/eval/program.hpp"
#include "runtime/eval/syntax_tree.hpp"

namespace vtn::eval {

Program generate_program(const SyntaxTree& tree, Want want);

}  // namespace vtn::eval
