#include "runtime/core/process_entry.hpp"

#include <cfenv>

#include "runtime/core/process_exit.hpp"
#include "runtime/ui/window_library.hpp"

namespace vtn {

void end_of_program_cleanup() {
  set_program_running(false);
  window_library_cleanup();
  run_final_hook();
}

void run_process(const ProgramDescription& program) {
  std::fesetenv(FE_DFL_ENV);

  if (program.module != nullptr) {
    register_module(*program.module);
    set_program_module(program.module);
    run_module_startup(program.module->init_table);
  }

  check_runtime_version(program.version);

  if (program.procedure != nullptr) program.procedure();

  end_of_program_cleanup();
  process_exit(0);
}

}  // namespace vtn
