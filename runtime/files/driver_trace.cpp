#include "runtime/files/driver_trace.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <span>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/operation_rules.hpp"
#include "runtime/files/trace_dumps.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/profile.hpp"
#include "runtime/platform/system_error.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

constexpr size_t kMaxTraceFile = 260;
constexpr size_t kPrintBuffer = 1024;
constexpr int32_t kFileSystemError = 90;
constexpr uint8_t kEncryptBit = 0x01;  // DriverInstance::attributes

// After these operations the record's contents follow the operation line.
constexpr int32_t kDataOperations[] = {
    op::ADD,        op::ADDfilelen,    op::APPEND,        op::APPENDlen,
    op::DELETE,     op::GETfilekey,    op::GETfileptrlen, op::GETfileptr,
    op::GETkeyptr,  op::NEXT,          op::PREVIOUS,      op::PUT,
    op::PUTfileptr, op::PUTfileptrlen, op::REGETfile,     op::REGETkey};

bool is_data_operation(int32_t code) {
  return std::find(std::begin(kDataOperations), std::end(kDataOperations), code) !=
         std::end(kDataOperations);
}

// The files whose structure this run has dumped, each with the dump. A FileBlock is known by
// its address, and a new FileBlock may take the address of one that has gone: a file whose
// structure reads differently from the dump kept for its address is a new file and is dumped.
std::mutex& dumped_mutex() {
  static std::mutex m;
  return m;
}
std::map<const FileBlock*, std::string>& dumped_files() {
  static std::map<const FileBlock*, std::string> files;
  return files;
}

// Appends the structure dump of the instance's file when this run has not yet dumped that file.
void append_first_structure_dump(std::string& entry, const DriverInstance& instance) {
  std::string dump;
  append_structure_dump(dump, instance);
  {
    std::lock_guard lock(dumped_mutex());
    std::string& known = dumped_files()[instance.file];
    if (known == dump) return;
    known = dump;
  }
  entry += dump;
}

// Whether the options text holds ALLOWDETAILS: options are split at each "/" outside double
// quotes and compared without regard to case (and to surrounding blanks).
bool allows_details(std::string_view options) {
  std::string option;
  bool in_quotes = false;
  auto matches = [&] {
    std::string_view o = option;
    while (!o.empty() && o.front() == ' ') o.remove_prefix(1);
    while (!o.empty() && o.back() == ' ') o.remove_suffix(1);
    if (o.size() != 12) return false;
    for (size_t i = 0; i < o.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(o[i])) != "ALLOWDETAILS"[i]) return false;
    return true;
  };
  for (char c : options) {
    if (c == '"') in_quotes = !in_quotes;
    if (c == '/' && !in_quotes) {
      if (matches()) return true;
      option.clear();
      continue;
    }
    option.push_back(c);
  }
  return matches();
}

long thread_identifier() {
  return static_cast<long>(syscall(SYS_gettid));
}

// The key whose driver data this is: the file's key of that number.
const KeyBlock* key_of(const DriverInstance& instance, const DriverKeyData& key_data) {
  const FileBlock* file = instance.file;
  if (file == nullptr || file->keys == nullptr || key_data.number < 1 ||
      key_data.number > file->key_count)
    return nullptr;
  return file->keys[key_data.number - 1];
}

// Appends the entry to the log: opened shared for this entry alone, created when missing.
void write_entry(const std::string& log_name, const std::string& entry) {
  platform::FileHandle log;
  const platform::FileOpenMode mode{platform::FileAccess::kReadWrite,
                                    platform::FileSharing::kDenyNone,
                                    platform::FileDisposition::kOpenAlways};
  if (!log.open(platform::ansi_to_utf8(log_name), mode)) return;
  uint64_t end = 0;
  size_t written = 0;
  if (log.size(end))
    log.write_at(end, std::span(reinterpret_cast<const uint8_t*>(entry.data()), entry.size()),
                 written);
}

}  // namespace

void install_driver_trace() {
  if (trace_hooks().call == trace_call) return;
  set_trace_hooks({read_trace_settings, trace_call});
}

void read_trace_settings(DriverInstance& instance, const char* section, const char* default_log) {
  const uint32_t saved_error = platform::last_error();
  instance.trace = 0;
  instance.trace_details = 0;
  instance.trace_file.clear();
  if (platform::get_profile_int(section, "Profile", 0) != 0) {
    instance.trace = 1;
    std::string log = platform::get_profile_string(section, "TraceFile", "");
    if (log.empty()) log = default_log;
    instance.trace_file = log.substr(0, kMaxTraceFile);
    const bool encrypted = (instance.attributes & kEncryptBit) != 0;
    if (!encrypted || allows_details(instance.driver_options))
      instance.trace_details = platform::get_profile_int(section, "Details", 0) != 0 ? 1 : 0;
  }
  platform::set_last_error(saved_error);
}

void trace_print(std::string& entry, const char* format, ...) {
  char buffer[kPrintBuffer];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) entry.append(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

void trace_call(DriverInstance& instance, const DriverKeyData* key_data, int32_t code,
                const char* driver_name, int32_t result, uint32_t elapsed_hundredths) {
  (void)driver_name;  // the instance names its driver; the structure dump prints that name
  if (code == op::Internal87 || code == op::Internal91 || instance.file_name.empty()) return;
  const uint32_t saved_error = platform::last_error();
  std::string entry;
  const bool details = instance.trace_details != 0 && instance.file != nullptr;
  if (details) append_first_structure_dump(entry, instance);

  std::string head(operation_name(code));
  head += "(" + instance.file_name;
  if (key_data != nullptr)
    head += "," + key_data->name + "[" + std::to_string(key_data->number) + "]";
  head += " " + std::to_string(thread_identifier()) + ") ";
  trace_print(entry, "%-18s", head.c_str());
  if (result == kFileSystemError)
    trace_print(entry, "File Error: %s ", DRIVERERROR().c_str());
  else if (result != 0 && result != NO_REPORT)
    trace_print(entry, "Error: %s ", error_message(result));
  trace_print(entry, "Time Taken: %ld.%02ld secs\r\n", static_cast<long>(elapsed_hundredths / 100),
              static_cast<long>(elapsed_hundredths % 100));

  if (details) {
    if (is_data_operation(code)) {
      append_record_contents(entry, *instance.file);
    } else if ((code == op::SETkeykey || code == op::SETkeykeyptr) && key_data != nullptr) {
      if (const KeyBlock* key = key_of(instance, *key_data))
        append_key_values(entry, *instance.file, *key);
    }
  }
  write_entry(instance.trace_file, entry);
  platform::set_last_error(saved_error);
}

void forget_traced_file(const FileBlock* file) {
  std::lock_guard lock(dumped_mutex());
  dumped_files().erase(file);
}

}  // namespace vtn
