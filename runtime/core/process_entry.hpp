// The process entry: what runs before and after the program's own procedure.
//
//   1. reset the floating-point environment;
//   2. register the program's module and run its start-up entries by descending priority;
//   3. check the run-time version the program asks for;
//   4. call the program procedure;
//   5. end-of-program clean-up: ProgramRunning off, the window library closes what is open,
//      the final hook runs;
//   6. process exit with code 0 (exit handlers, then the module's termination entries).
#pragma once

#include "runtime/core/module_init.hpp"
#include "runtime/core/version_check.hpp"

namespace vtn {

struct ProgramDescription {
  const ModuleDescriptor* module = nullptr;  // lives for the whole process
  VersionNumbers version;                    // the run-time version the program needs
  void (*procedure)() = nullptr;
};

[[noreturn]] void run_process(const ProgramDescription& program);

// Step 5 alone.
void end_of_program_cleanup();

}  // namespace vtn
