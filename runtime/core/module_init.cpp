#include "runtime/core/module_init.hpp"

#include <limits>

namespace vtn {
namespace {

ModuleChainNode* chain_head = nullptr;
InstanceHandle first_instance = nullptr;

// The highest priority in the table strictly below `below`; INT32_MIN when none.
int32_t next_level_down(std::span<const ModuleInitEntry> table, int32_t below) {
  int32_t best = std::numeric_limits<int32_t>::min();
  for (const ModuleInitEntry& e : table) {
    if (e.priority < below && e.priority > best) best = e.priority;
  }
  return best;
}

// The lowest priority in the table strictly above `above`; INT32_MAX when none.
int32_t next_level_up(std::span<const ModuleInitEntry> table, int32_t above) {
  int32_t best = std::numeric_limits<int32_t>::max();
  for (const ModuleInitEntry& e : table) {
    if (e.priority > above && e.priority < best) best = e.priority;
  }
  return best;
}

}  // namespace

ModuleChainNode* register_module(const ModuleDescriptor& module) {
  auto* node = new ModuleChainNode{chain_head, module.instance, &module};
  chain_head = node;
  if (first_instance == nullptr) first_instance = module.instance;
  return node;
}

void unregister_module(const ModuleDescriptor& module) {
  for (ModuleChainNode** link = &chain_head; *link != nullptr; link = &(*link)->previous) {
    if ((*link)->module == &module) {
      ModuleChainNode* node = *link;
      *link = node->previous;
      delete node;
      return;
    }
  }
}

const ModuleChainNode* module_chain() {
  return chain_head;
}

InstanceHandle process_instance() {
  return first_instance;
}

void run_module_startup(std::span<const ModuleInitEntry> table) {
  // The walk begins at 255 whether or not that level is present, and stops at the first level of
  // 0 or less: entries above 255 or at 0 and below are never started.
  for (int32_t level = kHighestModulePriority; level > 0; level = next_level_down(table, level)) {
    for (const ModuleInitEntry& e : table) {
      if (e.priority == level && e.init != nullptr) e.init(kModuleStarting);
    }
  }
}

void run_module_termination(std::span<const ModuleInitEntry> table) {
  // Starts at level 0 (whether present or not) and climbs while a level below 256 remains, so
  // negative priorities are never ended and neither is anything above 255.
  for (int32_t level = 0; level <= kHighestModulePriority; level = next_level_up(table, level)) {
    for (size_t i = table.size(); i-- > 0;) {
      const ModuleInitEntry& e = table[i];
      if (e.priority == level && e.term != nullptr) e.term(kModuleEnding);
    }
  }
}

}  // namespace vtn
