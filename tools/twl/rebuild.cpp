// twl rebuild: builds the keys of a table (or one key) through the record-file driver, showing
// the build's progress events as a bar on a terminal and as plain lines elsewhere. Ctrl-C makes
// the next progress event cancel the build: the driver ends it with 93 ("BUILD Cancelled") and
// the file stays valid (the keys stay stale and can be built again).
#include <csignal>
#include <cstdio>
#include <memory>

#include "runtime/files/file_statements.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"
#include "tools/twl/catalog.hpp"
#include "tools/twl/commands.hpp"
#include "tools/twl/declaration.hpp"
#include "tools/twl/progress.hpp"
#include "tools/twl/session.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

volatile std::sig_atomic_t interrupted = 0;
Progress* build_progress = nullptr;

extern "C" void on_interrupt(int) {
  interrupted = 1;
}

int32_t on_build_event(vtn::FileBlock&, uint32_t done, uint32_t) {
  if (build_progress != nullptr) build_progress->update(done);
  return interrupted ? 1 : 0;
}

// How often the driver reports: about every percent, at least every 1,000 records.
uint32_t event_step(uint32_t records) {
  return std::max<uint32_t>(1, std::min<uint32_t>(1000, records / 100));
}

}  // namespace

int run_rebuild(const RebuildOptions& options) {
  const FileAndTable target = split_file_name(options.name);
  TableInfo table;
  if (int code = read_chosen_table(target, options.password, table)) return code;
  const uint32_t records = table.records ? table.records->count : 0;
  std::unique_ptr<vtn::File> file;
  try {
    file = declare_table(target.file + "\\!" + table.name, table.definition->definition,
                         options.password, on_build_event, event_step(records));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "twl: %s: the stored definition cannot be declared: %s\n",
                 target.file.c_str(), e.what());
    return kExitRefused;
  }
  vtn::KeyBlock* key = nullptr;
  if (!options.key.empty()) {
    for (const tw::KeyDefinition& k : table.definition->definition.keys) {
      const std::string label = k.label.value_or("");
      const size_t colon = label.find(':');
      if (label == options.key ||
          (colon != std::string::npos && label.substr(colon + 1) == options.key) ||
          k.name.value_or("") == options.key) {
        key = &file->key(label);
      }
    }
    if (key == nullptr) {
      std::fprintf(stderr, "twl: %s: table %s has no key %s\n", target.file.c_str(),
                   table.name.c_str(), options.key.c_str());
      return kExitUsage;
    }
  }

  Progress progress("rebuild " + vtn::platform::ansi_to_utf8(table.name), records,
                    Progress::Plain::lines);
  build_progress = &progress;
  struct sigaction action {
  }, previous{};
  action.sa_handler = on_interrupt;
  sigaction(SIGINT, &action, &previous);
  // Ctrl-C must reach the build even when the caller blocked it (a signal that arrived while it
  // was blocked is delivered now and cancels at the first progress event).
  sigset_t interrupt_only, previous_mask;
  sigemptyset(&interrupt_only);
  sigaddset(&interrupt_only, SIGINT);
  sigprocmask(SIG_UNBLOCK, &interrupt_only, &previous_mask);
  if (key != nullptr) {
    vtn::BUILD(*key);
  } else {
    vtn::BUILD(*file);
  }
  const int32_t result = vtn::ERRORNUMBER();
  const std::string text = vtn::platform::ansi_to_utf8(vtn::ERRORTEXT());
  sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
  sigaction(SIGINT, &previous, nullptr);
  build_progress = nullptr;
  if (result == 0) progress.update(records);
  progress.finish();
  if (result == 93) {
    std::fprintf(stderr, "twl: %s: error 93: %s; the file is valid, the keys stay to be built\n",
                 target.file.c_str(), text.c_str());
    return kExitRefused;
  }
  if (result != 0) {
    std::fprintf(stderr, "twl: %s: error %d: %s\n", target.file.c_str(), result, text.c_str());
    return kExitRefused;
  }
  std::printf("%s: %s of %s built over %u records\n", target.file.c_str(),
              key != nullptr ? ("key " + options.key).c_str() : "every key",
              vtn::platform::ansi_to_utf8(table.name).c_str(), records);
  return kExitOk;
}

}  // namespace twl
