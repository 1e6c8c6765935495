#include "app/program_module.hpp"

#include "app/pack_files.hpp"
#include "runtime/core/random.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/ui/diagnostic_trace.hpp"
#include "runtime/ui/window_library.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace ferrule {
namespace {

using vtn::kModuleEnding;
using vtn::kModuleStarting;

// The run-time core: a clean error state at start; at the end, the message overrides free
// their texts and the diagnostic log, if a fault opened one, is closed.
void runtime_core_entry(int32_t phase) {
  if (phase == kModuleStarting) vtn::clear_error();
  if (phase == kModuleEnding) {
    vtn::clear_message_overrides();
    vtn::close_trace_log();
  }
}

// The window library: its key aliases and global properties go at the end.
void window_library_entry(int32_t phase) {
  if (phase == kModuleEnding) vtn::clear_key_aliases();
}

// The program's own three entries.
void install_handlers_entry(int32_t phase) {
  if (phase == kModuleStarting) vtn::install_window_library_handlers();
}

void program_start_entry(int32_t phase) {
  if (phase != kModuleStarting) return;
  static bool done = false;
  if (!done) {
    done = true;
    vtn::seed_random_from_clock();
    vtn::InitializeEnvironment();
  }
  clear_pack_records();
}

// Releases the string stack's buffers.
void program_end_entry(int32_t phase) {
  if (phase == kModuleEnding) vtn::string_stack().clear();
}

// Priorities: the run-time's entries first at start-up and last at the end; the program's own at
// 5, so they run after everything else has started and end before anything else ends. Modules
// of the run-time that need no start-up or termination work have no entry here.
constexpr vtn::ModuleInitEntry kInitTable[] = {
    {255, runtime_core_entry, runtime_core_entry},
    {150, window_library_entry, window_library_entry},
    {5, install_handlers_entry, install_handlers_entry},
    {5, program_start_entry, program_start_entry},
    {5, program_end_entry, program_end_entry},
};

// Any address inside the executable identifies it as the instance.
const char kInstanceMarker = 0;

}  // namespace

const vtn::ModuleDescriptor& program_module() {
  static const vtn::ModuleDescriptor module{&kInstanceMarker, kInitTable};
  return module;
}

}  // namespace ferrule
