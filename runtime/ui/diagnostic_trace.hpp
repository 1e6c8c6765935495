// The diagnostic trace: the run-time's channel for faults that cannot be reported through
// ErrorState (internal consistency failures of the string stack, the decimal stack, the array
// memory, the window library's entry control).
//
// Each line goes to the output hook. The hook installed at start writes it to "V5LOG.TXT" in the
// current directory: the first line of a process creates the file afresh (replacing a log of an
// earlier run) and opens it without sharing; every line is written as it comes, with its own
// line ends and no prefix. A log that cannot be created swallows its lines.
//
// While the log is not yet opened, each line reads the setting "auxtrace" of the profile section
// "Vortane 5 Tracing": any non-empty value sends a copy of every line to the auxiliary device,
// which is standard error on this platform. Once the log is opened the choice is fixed for the
// run.
//
// Lines are serialised by one process-wide lock, and a line started while another is being
// written (a hook that traces, a message box that traces, another thread inside the hook) is
// dropped rather than nested.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vtn {

// Formats one line printf-style and hands it on.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Hands on a finished line.
void trace_text(std::string_view line);

// Receives each finished line. Returns the hook it replaces.
using TraceOutputHook = void (*)(std::string_view line);
TraceOutputHook set_trace_output_hook(TraceOutputHook hook);
// The hook installed at start: appends to V5LOG.TXT, creating it with the first line.
void write_to_trace_log(std::string_view line);

// Closes the log at the end of the run. A line traced later opens the log again and appends
// to it, so nothing written before is lost.
void close_trace_log();

// Return addresses of the calling chain, from the caller of the function that calls this one
// upward; unused entries are 0. The walk goes through the platform's unwinder, which reads only
// memory that belongs to the stack and stops at its end.
inline constexpr size_t kCallingChainDepth = 10;
using CallingChain = std::array<uintptr_t, kCallingChainDepth>;
CallingChain calling_chain();

// "Error: <text>", one line per non-zero return address of `chain` ("   " and the address in at
// least 8 hex digits), and a dashed line, all through trace.
void trace_error_with_chain(std::string_view text, const CallingChain& chain);

// Forgets the log, the auxiliary-copy choice and the hook, as at the start of a process
// (tests).
void reset_trace_for_tests();

}  // namespace vtn
