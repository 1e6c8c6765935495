// The end of the process: the exit handlers, the program module's termination entries, the final
// hook, and the flags that say how far the program has come.
//
// The exit runs once. A second request (HALT from inside an exit handler, a fatal error during
// termination) only ends the process with its code, so no handler ever runs twice.
#pragma once

#include <cstdint>

#include "runtime/core/module_init.hpp"

namespace vtn {

using ExitHandler = void (*)();
using FinalHook = void (*)();

// Pushes a routine onto the ExitHandlerStack; the stack runs last-registered first.
void register_exit_handler(ExitHandler handler);

// The module whose termination entries the process exit runs (the program's own module).
void set_program_module(const ModuleDescriptor* module);

// The run-time's final hook: run at most once per process, by the end-of-program clean-up, HALT
// and the fatal error, whichever comes first.
void set_final_hook(FinalHook hook);
void run_final_hook();

// ProgramRunning: on from the start of the process until the end-of-program clean-up.
bool program_running();
void set_program_running(bool running);
// Set by ProgramProcedure when it begins.
bool program_started();
void set_program_started();
// Set by HALT and the fatal error just before they exit.
bool halting();
void set_halting();
// True once the process exit has begun.
bool process_exit_begun();

// Runs the exit handlers (last first), unregisters the program module and runs its termination
// entries, then ends the process with `code`. Standard output and error are flushed; the C++
// static destructors are not run. A second call only ends the process.
[[noreturn]] void process_exit(int32_t code);

}  // namespace vtn
