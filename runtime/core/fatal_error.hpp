// The fatal run-time error: the one way the run-time ends the program on a condition that the
// program cannot survive (an unsupported typed operation, a corrupt string stack, damage found
// outside a file operation, ...).
#pragma once

#include <cstdint>

namespace vtn {

// Raises the fatal run-time error `code` (0: no code, the extra text is the whole message) with an
// optional extra text. Returns to the caller only when the program procedure has already
// returned; otherwise the process ends with exit code 2.
void fatal_runtime_error(int32_t code, const char* extra_text = nullptr);

}  // namespace vtn
