// ferrule: registers packs. Everything runs inside the run-time's process frame.
#include "app/program_module.hpp"
#include "app/program_procedure.hpp"
#include "app/usage.hpp"
#include "runtime/core/process_entry.hpp"

int main(int argc, char** argv) {
  if (std::optional<int> code = ferrule::handle_command_line(argc, argv)) return *code;
  vtn::run_process({&ferrule::program_module(), {0x105, 2, 0}, ferrule::ProgramProcedure});
}
