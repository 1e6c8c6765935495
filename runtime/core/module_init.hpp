// Modules and their initialisation tables.
//
// Every module of the process (the run-time's libraries and the program itself) describes its
// start-up and termination work in a ModuleInitTable: entries of (priority, init routine, term
// routine). Registering a module links it into the process-wide module chain. Start-up walks the
// table from the highest priority down; termination walks it from the lowest priority up, and
// within a level from the last entry to the first, so that what started last ends first.
#pragma once

#include <cstdint>
#include <span>

namespace vtn {

// A start-up / termination routine: called with 0 when the process starts, 1 when it ends.
using ModuleRoutine = void (*)(int32_t phase);

inline constexpr int32_t kModuleStarting = 0;
inline constexpr int32_t kModuleEnding = 1;

struct ModuleInitEntry {
  int32_t priority = 0;
  ModuleRoutine init = nullptr;
  ModuleRoutine term = nullptr;
};

// Priorities outside 1..255 are never called at start-up; termination calls 0..255.
inline constexpr int32_t kHighestModulePriority = 255;

using InstanceHandle = const void*;

struct ModuleDescriptor {
  InstanceHandle instance = nullptr;
  std::span<const ModuleInitEntry> init_table;
};

// One link of the process-wide module chain.
struct ModuleChainNode {
  ModuleChainNode* previous = nullptr;
  InstanceHandle instance = nullptr;
  const ModuleDescriptor* module = nullptr;
};

// Puts the module at the head of the chain; the first module registered also becomes the
// process instance. Returns the node (owned by the chain until unregistered).
ModuleChainNode* register_module(const ModuleDescriptor& module);
// Unlinks the module's node and releases it. Unknown modules are ignored.
void unregister_module(const ModuleDescriptor& module);
// The head of the chain (null when no module is registered).
const ModuleChainNode* module_chain();
// The instance handle of the first module registered (null before).
InstanceHandle process_instance();

// Calls the init routines with 0: each level from 255 down to 1 in table order.
void run_module_startup(std::span<const ModuleInitEntry> table);
// Calls the term routines with 1: each level from 0 up to 255, last entry first.
void run_module_termination(std::span<const ModuleInitEntry> table);

}  // namespace vtn
