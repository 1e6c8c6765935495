// EVALUATE: compiles a text over the current scopes, evaluates it once and gives its value as
// text ("3" for 1 + 2, "abcd" for 'ab' & 'cd').
//
// A successful evaluation clears the error. A text that does not compile gives an empty result
// and posts 800 ("Invalid expression for EVALUATE"), or 801 ("No BIND on variable (name)") for a
// name bound nowhere. A function that would make a text too long for memory posts 8
// ("Insufficient Memory") and the result is what could be computed without it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/eval/syntax_tree.hpp"

namespace vtn {

// The value, or nothing when the text did not compile or the evaluation failed (the error is
// posted). `error`, when given, tells why a text did not compile.
std::optional<std::string> evaluate(std::string_view text, eval::CompileError* error = nullptr);

// The language's EVALUATE: the text (empty on failure).
std::string EVALUATE(std::string_view text);
// The same over the StringStack: pops the text, pushes the result.
void EVALUATE();

}  // namespace vtn
