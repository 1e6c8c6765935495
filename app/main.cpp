// ferrule: registers packs. Everything runs inside the run-time's process frame.
#include "app/program_module.hpp"
#include "app/program_procedure.hpp"
#include "runtime/core/process_entry.hpp"

int main() {
  vtn::run_process({&ferrule::program_module(), {0x105, 2, 0}, ferrule::ProgramProcedure});
}
