#include "tools/twl/session.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/paths.hpp"

namespace twl {

namespace {

bool is_directory(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool has_extension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// OPEN access codes: read only or read/write, deny none.
constexpr uint32_t kReadDenyNone = 0x40;
constexpr uint32_t kReadWriteDenyNone = 0x42;

}  // namespace

FileAndTable split_file_name(const std::string& name) {
  FileAndTable result{name, ""};
  for (size_t at = name.find("\\!"); at != std::string::npos; at = name.find("\\!", at + 1)) {
    if (is_directory(name.substr(0, at))) continue;
    result = {name.substr(0, at), name.substr(at + 2)};
    break;
  }
  if (!has_extension(result.file)) result.file += ".TWL";
  if (auto full = vtn::platform::full_path(result.file)) result.file = *full;
  return result;
}

Session::~Session() {
  if (file_ != nullptr) vtn::tarnwell::close_record_file(file_);
}

int32_t Session::open(const std::string& full_name, Intent intent, const std::string& password) {
  name_ = full_name;
  // A page log left by a transaction that never committed must be abandoned, not applied: the
  // recovery decision reads the transaction control files, as the driver has it do.
  vtn::tarnwell::install_transaction_recovery();
  const uint32_t mode = intent == Intent::write ? kReadWriteDenyNone : kReadDenyNone;
  return vtn::tarnwell::open_record_file(full_name, mode, password, file_);
}

int32_t Session::run(AccessMode mode, const std::function<void()>& body) {
  if (int32_t err = file_->begin_access(mode, /*wait=*/true)) return err;
  try {
    body();
  } catch (const vtn::tarnwell::InternalError& damage) {
    damage_check_ = damage.check();
    file_->discard_changes();
    return 90;
  }
  return file_->end_access();
}

vtn::tarnwell::Record record_copy(const StoredRecord& stored) {
  vtn::tarnwell::Record record;
  record.bytes.assign(stored.bytes.begin(), stored.bytes.end());
  record.key_length = static_cast<uint16_t>(stored.key_length);
  return record;
}

void for_each_with_prefix(RecordFile& file, std::span<const uint8_t> prefix,
                          const std::function<bool(const StoredRecord&)>& visit) {
  std::vector<uint8_t> key(prefix.begin(), prefix.end());
  std::optional<StoredRecord> record = file.find_exact(key);
  if (!record) record = file.find_first_after(key);
  while (record && record->key().size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), record->key().begin())) {
    key.assign(record->key().begin(), record->key().end());
    if (!visit(*record)) return;
    record = file.find_first_after(key);
  }
}

}  // namespace twl
