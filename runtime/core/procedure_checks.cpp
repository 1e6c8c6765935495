#include "runtime/core/procedure_checks.hpp"

#include "runtime/core/fatal_error.hpp"

namespace vtn {

void raise_stack_overflow() {
  fatal_runtime_error(401);
}
void raise_null_pointer() {
  fatal_runtime_error(402);
}
void raise_arithmetic_overflow() {
  fatal_runtime_error(404);
}
void raise_variable_out_of_range() {
  fatal_runtime_error(405);
}
void raise_no_return_value() {
  fatal_runtime_error(406);
}
void raise_no_matching_case() {
  fatal_runtime_error(407);
}
void raise_index_out_of_range() {
  fatal_runtime_error(409);
}

}  // namespace vtn
