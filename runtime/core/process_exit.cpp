#include "runtime/core/process_exit.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vtn {
namespace {

struct ProcessState {
  std::vector<ExitHandler> exit_handlers;
  const ModuleDescriptor* program_module = nullptr;
  FinalHook final_hook = nullptr;
  bool final_hook_done = false;
  bool running = true;
  bool started = false;
  bool halting = false;
  bool exit_begun = false;
};

ProcessState& state() {
  static ProcessState s;
  return s;
}

[[noreturn]] void end_process(int32_t code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

}  // namespace

void register_exit_handler(ExitHandler handler) {
  if (handler != nullptr) state().exit_handlers.push_back(handler);
}

void set_program_module(const ModuleDescriptor* module) {
  state().program_module = module;
}

void set_final_hook(FinalHook hook) {
  state().final_hook = hook;
}

void run_final_hook() {
  ProcessState& s = state();
  if (s.final_hook_done) return;
  s.final_hook_done = true;
  if (s.final_hook != nullptr) s.final_hook();
}

bool program_running() {
  return state().running;
}
void set_program_running(bool running) {
  state().running = running;
}
bool program_started() {
  return state().started;
}
void set_program_started() {
  state().started = true;
}
bool halting() {
  return state().halting;
}
void set_halting() {
  state().halting = true;
}
bool process_exit_begun() {
  return state().exit_begun;
}

void process_exit(int32_t code) {
  ProcessState& s = state();
  if (s.exit_begun) end_process(code);
  s.exit_begun = true;

  // Each handler is taken off the stack before it runs, so one that registers another or fails
  // part-way never runs again.
  while (!s.exit_handlers.empty()) {
    ExitHandler handler = s.exit_handlers.back();
    s.exit_handlers.pop_back();
    handler();
  }

  if (const ModuleDescriptor* module = s.program_module) {
    unregister_module(*module);
    run_module_termination(module->init_table);
  }
  end_process(code);
}

}  // namespace vtn
