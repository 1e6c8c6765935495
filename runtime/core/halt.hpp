// HALT: ends the program from anywhere, after showing an optional message in a box captioned
// "Halt" (stop icon, OK). The process exit runs with the given code.
#pragma once

#include <cstdint>
#include <string_view>

namespace vtn {

// Pops the message from the string stack (an empty text shows no box) and ends the process.
[[noreturn]] void HALT(int32_t code);
// Pushes `message` and calls the above.
[[noreturn]] void HALT(int32_t code, std::string_view message);

}  // namespace vtn
