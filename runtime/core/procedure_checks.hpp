// The checks that the program's procedures make on themselves. Each entry point raises its fatal
// run-time error, with no extra text, and (while the program runs) does not return.
#pragma once

namespace vtn {

void raise_stack_overflow();         // 401 "Stack overflow"
void raise_null_pointer();           // 402 "Null pointer de-reference"
void raise_arithmetic_overflow();    // 404 "Arithmetic Overflow"
void raise_variable_out_of_range();  // 405 "Variable out of range"
void raise_no_return_value();        // 406 "No return value from function"
void raise_no_matching_case();       // 407 "No matching Case Label"
void raise_index_out_of_range();     // 409 "Index out of range"

}  // namespace vtn
