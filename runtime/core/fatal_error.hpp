// The fatal run-time error: the one way the run-time ends the program on a condition that the
// program cannot survive (an unsupported typed operation, a corrupt string stack, damage found
// outside a file operation, ...).
//
// It shows one box captioned "Runtime error" (the message, the question "Do you want to GPF?",
// Yes and No with No the default), runs the final hook and ends the process with exit code 2.
// Yes aborts the process instead, so that a debugger or a core dump takes over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vtn {

// Raises the fatal run-time error `code` (0: no code, the extra text is the whole message) with an
// optional extra text. Returns to the caller only when the program procedure has already
// returned; otherwise the process ends with exit code 2.
void fatal_runtime_error(int32_t code, const char* extra_text = nullptr);

// The text of the box before its question: the message of `code` without trailing blanks, then
// " : " and the extra text when one is given; for code 0 the extra text alone. At most 255
// characters. Posts `code` as the current error when it is not 0.
inline constexpr size_t kFatalTextLimit = 255;
std::string fatal_error_text(int32_t code, const char* extra_text);

}  // namespace vtn
