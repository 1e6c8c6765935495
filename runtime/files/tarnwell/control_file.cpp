#include "runtime/files/tarnwell/control_file.hpp"

#include <array>
#include <utility>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/lock_retry.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/platform/paths.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kAccessDenied = 5;
constexpr int32_t kDataCorruption = 90;

std::array<uint8_t, 4> key_of(uint32_t transaction) {
  return {static_cast<uint8_t>(transaction), static_cast<uint8_t>(transaction >> 8),
          static_cast<uint8_t>(transaction >> 16), static_cast<uint8_t>(transaction >> 24)};
}

std::string_view directory_of(std::string_view file) {
  const size_t last = file.find_last_of("/\\");
  return last == std::string_view::npos ? std::string_view{} : file.substr(0, last + 1);
}

// Runs `change` inside one write access of `file` and flushes it. A damaged control file ends the
// access with its changes dropped and reports 90.
template <typename Change>
int32_t change_durably(RecordFile& file, Change&& change) {
  try {
    if (int32_t error = file.begin_access(AccessMode::write, /*wait=*/true)) return error;
    change();
    return file.end_access();
  } catch (const InternalError&) {
    file.discard_changes();
    return kDataCorruption;
  }
}

}  // namespace

std::string default_control_file(std::string_view data_file) {
  std::string name(directory_of(data_file));
  name += kControlFileName;
  return name;
}

std::string control_file_for_recovery(std::string_view stored_name, std::string_view data_file) {
  if (platform::same_name_ignoring_case(stored_name, kControlFilePlaceholder)) {
    return default_control_file(data_file);
  }
  return std::string(stored_name);
}

ControlFile::~ControlFile() {
  close();
}

ControlFile::ControlFile(ControlFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), name_(std::move(other.name_)) {}

ControlFile& ControlFile::operator=(ControlFile&& other) noexcept {
  if (this != &other) {
    close();
    file_ = std::exchange(other.file_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

int32_t ControlFile::open(const std::string& name) {
  close();
  name_ = name;
  return open_record_file(name, kControlFileOpenMode, "", file_);
}

void ControlFile::close() {
  close_record_file(std::exchange(file_, nullptr));
}

int32_t ControlFile::list(uint32_t transaction, bool& listed) {
  const auto key = key_of(transaction);
  listed = false;
  return change_durably(*file_, [&] {
    listed = file_->find_exact(key).has_value();
    if (!listed) file_->insert_record(key, {});
  });
}

int32_t ControlFile::unlist(uint32_t transaction) {
  const auto key = key_of(transaction);
  return change_durably(*file_, [&] { file_->delete_record(key); });
}

bool transaction_still_listed(const std::string& data_file, uint32_t transaction,
                              const std::string& stored_name) {
  const std::string name = control_file_for_recovery(stored_name, data_file);
  RecordFile* file = nullptr;
  int32_t error = 0;
  for (uint32_t tries = 0;
       (error = open_record_file(name, kControlFileRecoveryMode, "", file)) == kAccessDenied;
       ++tries) {
    pause_before_retry(tries);
  }
  if (error != 0) return true;
  // This process may be inside an access of the control file already (a commit of its own):
  // that access is used as it stands and left open.
  const bool own_access = !file->in_access();
  bool listed = true;
  try {
    if (!own_access || file->begin_access(AccessMode::read, /*wait=*/true) == 0) {
      listed = file->find_exact(key_of(transaction)).has_value();
      if (own_access) file->end_access();
    }
  } catch (const InternalError&) {
    listed = true;  // a damaged control file proves nothing: keep the old state
    if (own_access) file->discard_changes();
  }
  close_record_file(file);
  return listed;
}

}  // namespace vtn::tarnwell
