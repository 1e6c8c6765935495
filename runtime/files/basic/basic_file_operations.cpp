// The comma-delimited driver's operations on the file as a whole: OPEN and SHARE, CLOSE,
// CREATE, REMOVE, COPY, RENAME, EMPTY, FLUSH, the lock, SEND and NAME.
#include <algorithm>
#include <chrono>
#include <thread>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/basic/basic_operations.hpp"
#include "runtime/files/field_info.hpp"
#include "runtime/platform/clock.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/paths.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::basic {
namespace {

constexpr int32_t kAccessDenied = 5;
constexpr int32_t kFileLocked = 32;
constexpr int32_t kInvalidFilename = 45;
constexpr int32_t kNoCreateAttribute = 54;
constexpr uint32_t kSmallBuffer = 512;
constexpr uint32_t kExclusiveBuffer = 1024;
// While another process holds the lock, LOCK without a time limit tries again this often.
constexpr auto kLockRetry = std::chrono::milliseconds(20);

// The file's name as the file system spells it (the run-time's names are 1251).
std::string system_name(std::string_view name) {
  return platform::ansi_to_utf8(name);
}

// The smallest buffer: one record, and room for the longest delimiter or end of record.
uint32_t min_buffer(const BasicInstance& in) {
  return std::max(in.record_length, kSmallBuffer);
}

// `access` is the OPEN access code: deny write and deny all keep other writers out.
bool reconfigure(BasicInstance& in, uint32_t access) {
  return in.text.configure(in.options.buffer_size, in.options.quick_scan, (access & 0x30) != 0);
}

int32_t open_failure(BasicInstance& in) {
  const int32_t code = system_failure();
  in.text.close();
  return code;
}

}  // namespace

BasicInstance& instance_of(FileCall& call) {
  return static_cast<BasicInstance&>(*call.instance);
}

int32_t system_failure() {
  const uint32_t error = platform::last_error();
  return error != 0 ? static_cast<int32_t>(error) : kAccessDenied;
}

bool refresh_size(BasicInstance& in) {
  if (in.shared() && !in.options.quick_scan) return in.text.size(in.file_size);
  return true;
}

int32_t open_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (in.file_name.empty()) return kInvalidFilename;
  const auto access = static_cast<uint32_t>(call.operand(0));
  const std::optional<std::string> full = platform::full_path(system_name(in.file_name));
  if (!full) return system_failure();
  in.file_name = platform::utf8_to_ansi(*full);

  platform::FileOpenMode mode = platform::decode_open_mode(access);
  mode.disposition = platform::FileDisposition::kOpenExisting;
  if (!in.text.open(*full, mode)) return system_failure();
  if (!in.text.size(in.file_size)) return open_failure(in);

  in.options = BasicOptions{};
  const bool exclusive = (access & 0x30) != 0;
  in.options.buffer_size = std::max<uint64_t>(
      exclusive ? kExclusiveBuffer : kSmallBuffer,
      std::min<uint64_t>(2 * in.table.longest_text, kMaxBufferUnits * kBufferUnit));
  in.options.quick_scan = exclusive;
  apply_driver_options(in.options, in.driver_options, min_buffer(in));
  in.options_changed();
  if (!reconfigure(in, access)) return open_failure(in);

  in.flags = 0;
  if ((access & 3) == 0) in.flags |= BF_READ_ONLY;
  if ((access & 0xF0) == 0x40) in.flags |= BF_SHARED;
  in.lock_depth = 0;
  in.record_offset = in.line_length = in.next_pointer = 0;
  in.cleared_record.assign(in.record_length, '\0');
  clear_record(call.file->record_type, in.cleared_record.data(), in.record_length);
  if (in.attributes & 0x10) in.conversion_record.assign(in.record_length, '\0');
  return 0;
}

int32_t close_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  const bool flushed = in.text.close();
  in.lock_depth = 0;
  in.flags = 0;
  return flushed ? 0 : kAccessDenied;
}

int32_t create_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if ((call.file->attributes & FA_CREATE) == 0) return kNoCreateAttribute;
  if (in.file_name.empty()) return kInvalidFilename;
  platform::FileHandle handle;
  const platform::FileOpenMode mode{platform::FileAccess::kReadWrite,
                                    platform::FileSharing::kDenyNone,
                                    platform::FileDisposition::kCreateAnew};
  return handle.open(system_name(in.file_name), mode) ? 0 : kAccessDenied;
}

int32_t remove_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (in.file_name.empty()) return kInvalidFilename;
  return platform::delete_file(system_name(in.file_name)) ? 0 : system_failure();
}

int32_t copy_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (in.file_name.empty() || call.strings[0].empty()) return kInvalidFilename;
  return platform::copy_file(system_name(in.file_name), system_name(call.strings[0]), true)
             ? 0
             : system_failure();
}

int32_t rename_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (in.file_name.empty() || call.strings[0].empty()) return kInvalidFilename;
  return platform::rename_file(system_name(in.file_name), system_name(call.strings[0]), false)
             ? 0
             : system_failure();
}

int32_t empty_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (!in.text.set_size(0)) return kAccessDenied;
  in.file_size = 0;
  in.flags &= ~BF_CURRENT;
  return 0;
}

int32_t flush_file(FileCall& call) {
  return instance_of(call).text.flush() ? 0 : kAccessDenied;
}

int32_t take_lock(BasicInstance& in) {
  if (in.lock_depth > 0) {
    if (in.lock_depth == UINT8_MAX) return kFileLocked;
    ++in.lock_depth;
    return 0;
  }
  if (!in.text.handle().lock(0, 1)) {
    const uint32_t error = platform::last_error();
    return error == platform::kErrorLockViolation ? kFileLocked : system_failure();
  }
  in.lock_depth = 1;
  return 0;
}

void release_lock(BasicInstance& in) {
  if (in.lock_depth == 0) return;
  if (--in.lock_depth == 0) in.text.handle().unlock(0, 1);
}

int32_t lock_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  int32_t r = take_lock(in);
  while (r == kFileLocked) {
    std::this_thread::sleep_for(kLockRetry);
    r = take_lock(in);
  }
  return r;
}

int32_t lock_file_seconds(FileCall& call) {
  BasicInstance& in = instance_of(call);
  const auto seconds = static_cast<int32_t>(call.operand(0));
  const uint32_t started = platform::tick_count();
  int32_t r = take_lock(in);
  while (r == kFileLocked && seconds > 0 &&
         platform::tick_count() - started < static_cast<uint32_t>(seconds) * 1000u) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    r = take_lock(in);
  }
  return r;
}

int32_t unlock_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  release_lock(in);
  // LOCK made a shared file exclusive; with the lock gone, it is shared again, so that EMPTY
  // and the other operations that need exclusive access are refused once more.
  if (in.lock_depth == 0 && (in.open_mode & 0x30) == 0) in.file_state &= ~FS_EXCLUSIVE;
  return 0;
}

int32_t send_option(FileCall& call) {
  BasicInstance& in = instance_of(call);
  const std::string cleaned = clean_option_text(call.strings[0]);
  if (cleaned.starts_with("REGISTER")) {
    call.result_text = std::to_string(reinterpret_cast<uintptr_t>(&basic_registration()));
    return 0;
  }
  OptionChange change;
  call.result_text = apply_option(in.options, cleaned, min_buffer(in), &change).value_or("");
  in.options_changed();
  if (change.buffer && in.text.is_open() && !reconfigure(in, in.open_mode)) return 8;
  return 0;
}

int32_t file_name(FileCall& call) {
  call.result_text = instance_of(call).file_name;
  return 0;
}

}  // namespace vtn::basic
