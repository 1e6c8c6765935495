// The fatal run-time error: the one way the run-time ends the program on a condition that the
// program cannot survive (an unsupported typed operation, a corrupt string stack, damage found
// outside a file operation, ...).
//
// It shows one box captioned "Runtime error" (the message, the question "Do you want to GPF?",
// Yes and No with No the default), runs the final hook and ends the process with exit code 2.
// Yes aborts the process instead, so that a debugger or a core dump takes over.
//
// The internal consistency failures (codes 501 to 515: the string stack, the decimal stack, the
// array memory, an unknown type code, the window library's modules) are faults of the run-time
// itself rather than of the program, and nobody will find them in ErrorState: before the box
// they leave "Error: <text>", the calling chain and a dashed line in the diagnostic trace
// (V5LOG.TXT), for whoever has to find the fault afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vtn {

// Raises the fatal run-time error `code` (0: no code, the extra text is the whole message) with an
// optional extra text. Returns to the caller only when the program procedure has already
// returned; otherwise the process ends with exit code 2.
void fatal_runtime_error(int32_t code, const char* extra_text = nullptr);

// The fatal diagnostic: writes the error line with `text`, the calling chain and the dashed line
// to the diagnostic trace whatever the code, then raises the fatal run-time error `code` with
// `text` as its extra text.
void fatal_diagnostic(int32_t code, const char* text);

// Codes of the internal consistency failures ("Internal error 01" to "Internal error 15").
inline constexpr int32_t kFirstInternalError = 501;
inline constexpr int32_t kLastInternalError = 515;

// The text of the box before its question: the message of `code` without trailing blanks, then
// " : " and the extra text when one is given; for code 0 the extra text alone. At most 255
// characters. Posts `code` as the current error when it is not 0.
inline constexpr size_t kFatalTextLimit = 255;
std::string fatal_error_text(int32_t code, const char* extra_text);

}  // namespace vtn
