// Binding scopes: the current name table and the stack of tables that PUSHSCOPE put aside.
//
// A name is looked up in the current table first (where the built-in functions and operator
// words are always found, unless a binding hides them), then in the tables of the scope records
// from the top down. A record pushed with keep = 0 hides everything below it: its own table is
// not searched, and the search stops there.
//
// Binding from C++:
//
//   int32_t number = 0;  vtn::String<40> name;  double rate = 0;
//   vtn::bind("number", number);                  // LONG
//   vtn::bind("name", name);                      // STRING(40)
//   vtn::bind("rate", rate);                      // REAL
//   vtn::bind_variable("total", vtn::make_typed_reference(ValueType::DECIMAL, &total, 7, 2));
//   vtn::bind_procedure("twice", {ParamKind::kReal}, ParamKind::kReal,
//                       [](auto args) { return ProcedureValue::of_real(2 * args[0].real_value); });
//
// The variables must outlive every expression compiled over them, and the scope they are bound
// in; compiled expressions keep the bindings themselves alive.
//
// The tables are process-wide and unlocked: bind, compile and evaluate on one thread at a time.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "runtime/eval/name_table.hpp"
#include "runtime/values/fixed_string.hpp"

namespace vtn {

namespace eval {

// The binding of `name` as the scopes see it: the current table (built-ins included), then the
// scope records down to the first that hides. Null when the name is found nowhere.
std::shared_ptr<const NameRecord> lookup_name(std::string_view name);

// The name as BIND enters it: at most 99 characters, cut after its last name character
// (letters, digits, "_", ":", "?", "#", "$" and the double quote). Empty when none is left.
std::string_view bind_name(std::string_view text);

// How many scope records are open.
int scope_depth();

// Drops every binding and scope record (the state before the first BIND; for tests and tools).
void reset_scopes();

}  // namespace eval

// BIND(name, variable) from C++: enters `variable` under `name` into the current table.
void bind_variable(std::string_view name, std::unique_ptr<TypedReference> variable);
void bind(std::string_view name, int32_t& variable);
void bind(std::string_view name, double& variable);
template <size_t N>
void bind(std::string_view name, String<N>& variable) {
  bind_variable(name, make_typed_reference(ValueType::STRING, variable.data(), N));
}
// BIND(name, procedure).
void bind_procedure(std::string_view name, std::initializer_list<eval::ParamKind> parameters,
                    eval::ParamKind result, eval::BoundProcedure::Body body);

// The language's statements. BIND takes the name from the StringStack.
void BIND(std::unique_ptr<TypedReference> variable);
void PUSHSCOPE(int32_t keep);
// Ends the program with the fatal run-time error 802 ("Mismatched POPSCOPE") when no scope is
// open.
void POPSCOPE();

}  // namespace vtn
