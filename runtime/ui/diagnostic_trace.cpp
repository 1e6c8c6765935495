#include "runtime/ui/diagnostic_trace.hpp"

#include <execinfo.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>

#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/profile.hpp"

namespace vtn {
namespace {

constexpr std::string_view kLogName = "V5LOG.TXT";
constexpr std::string_view kSettingsSection = "Vortane 5 Tracing";
constexpr std::string_view kAuxSetting = "auxtrace";
constexpr size_t kAuxSettingLimit = 19;

struct TraceState {
  std::recursive_mutex lock;  // a thread may meet its own line again: that one is dropped
  int nesting = 0;
  bool log_opened = false;  // the first line has tried to create the log
  bool log_closed = false;  // closed at the end of the run
  bool aux_copy = false;
  TraceOutputHook hook = write_to_trace_log;
  platform::FileHandle log;
  uint64_t log_end = 0;
};

TraceState& state() {
  static TraceState* s = new TraceState;  // lives to the very end: exit handlers may trace
  return *s;
}

void open_log(TraceState& s, platform::FileDisposition disposition) {
  s.log_opened = true;
  const platform::FileOpenMode mode{platform::FileAccess::kReadWrite,
                                    platform::FileSharing::kExclusive, disposition};
  if (!s.log.open(kLogName, mode) || !s.log.size(s.log_end)) s.log.close();
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

void write_to_trace_log(std::string_view line) {
  TraceState& s = state();
  if (!s.log.is_open()) {
    if (!s.log_opened) {
      open_log(s, platform::FileDisposition::kCreateAnew);
    } else if (s.log_closed) {
      // Traced after the end of the run: append rather than replace what the run wrote.
      s.log_closed = false;
      open_log(s, platform::FileDisposition::kOpenAlways);
    }
  }
  if (!s.log.is_open()) return;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
  size_t written = 0;
  s.log.write_at(s.log_end, bytes, written);
  s.log_end += written;
}

void trace_text(std::string_view line) {
  TraceState& s = state();
  std::lock_guard guard(s.lock);
  if (s.nesting != 0) return;
  ++s.nesting;
  if (!s.log_opened) {
    std::string aux = platform::get_profile_string(kSettingsSection, kAuxSetting, "");
    if (aux.size() > kAuxSettingLimit) aux.resize(kAuxSettingLimit);
    s.aux_copy = !aux.empty();
  }
  if (s.hook != nullptr) s.hook(line);
  if (s.aux_copy) write_all(STDERR_FILENO, line);
  --s.nesting;
}

void trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string line(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(line.data(), line.size() + 1, format, args);
  va_end(args);
  trace_text(line);
}

TraceOutputHook set_trace_output_hook(TraceOutputHook hook) {
  TraceState& s = state();
  std::lock_guard guard(s.lock);
  const TraceOutputHook previous = s.hook;
  s.hook = hook;
  return previous;
}

void close_trace_log() {
  TraceState& s = state();
  std::lock_guard guard(s.lock);
  if (!s.log.is_open()) return;
  s.log.close();
  s.log_closed = true;
}

__attribute__((noinline)) CallingChain calling_chain() {
  // The walk starts in this function (behind whatever the platform puts in front of it, such as
  // a sanitizer's interceptor); the chain starts one frame above the caller, where the caller
  // returns to.
  constexpr int kSpare = 4;
  void* frames[kCallingChainDepth + kSpare] = {};
  const int depth = ::backtrace(frames, static_cast<int>(std::size(frames)));
  const void* const caller = __builtin_return_address(0);
  int first = 2;  // this function and its caller, when the caller's frame is not recognised
  for (int i = 0; i < depth && i < kSpare; ++i) {
    if (frames[i] == caller) {
      first = i + 1;
      break;
    }
  }
  CallingChain chain{};
  for (int i = first; i < depth && static_cast<size_t>(i - first) < kCallingChainDepth; ++i) {
    chain[static_cast<size_t>(i - first)] = reinterpret_cast<uintptr_t>(frames[i]);
  }
  return chain;
}

void trace_error_with_chain(std::string_view text, const CallingChain& chain) {
  trace("Error: %.*s\r\n", static_cast<int>(text.size()), text.data());
  for (const uintptr_t address : chain) {
    if (address != 0) trace("   %.8" PRIxPTR "\r\n", address);
  }
  trace_text("----------------------------------\r\n");
}

void reset_trace_for_tests() {
  TraceState& s = state();
  std::lock_guard guard(s.lock);
  s.log.close();
  s.log_opened = false;
  s.log_closed = false;
  s.aux_copy = false;
  s.log_end = 0;
  s.hook = write_to_trace_log;
}

}  // namespace vtn
