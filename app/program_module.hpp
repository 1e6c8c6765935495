// ferrule's module: its initialisation table, which carries the run-time's own start-up and
// termination entries as well as the program's three at priority 5.
#pragma once

#include "runtime/core/module_init.hpp"

namespace ferrule {

const vtn::ModuleDescriptor& program_module();

}  // namespace ferrule
