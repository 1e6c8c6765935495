#include "runtime/files/tarnwell/transaction.hpp"

#include <algorithm>
#include <utility>

#include "runtime/files/tarnwell/control_file.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/platform/clock.hpp"
#include "runtime/platform/paths.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kDataCorruption = 90;
constexpr uint32_t kHundredthsPerDay = 8'640'000;
constexpr uint8_t kPendingKey[] = {kPendingTransactionByte};

struct KeptHold {
  RecordFile* file;
  uint32_t n;
};

struct TransactionState {
  std::string explicit_control_file;
  std::vector<std::string> control_files;  // default names, one per directory
  std::vector<RecordFile*> files;          // in the order they joined; one use each
  std::vector<KeptHold> kept_holds;
  std::function<uint32_t()> stamp_source;
  bool numbered = false;
  uint32_t last_number = 0;
};

TransactionState& state() {
  static TransactionState s;
  return s;
}

// One more use of a file this process has open, so that it outlives the tables that named it.
RecordFile* pin(RecordFile& file) {
  RecordFile* same = nullptr;
  if (open_record_file(file.full_name(), 0x40, "", same) != 0) return nullptr;
  if (same != &file) {
    close_record_file(same);
    return nullptr;
  }
  return same;
}

bool listed_ignoring_case(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
    return platform::same_name_ignoring_case(n, name);
  });
}

int32_t join(RecordFile& file) {
  TransactionState& t = state();
  if (file.in_transaction()) return file.begin_access(AccessMode::write, /*wait=*/true);
  const std::string control = default_control_file(file.full_name());
  const bool new_control =
      t.explicit_control_file.empty() && !listed_ignoring_case(t.control_files, control);
  if (new_control && t.control_files.size() >= kMaxControlFiles) {
    raise_internal_error(kCheckTooManyControlFiles);
  }
  RecordFile* pinned = pin(file);
  if (pinned == nullptr) return 5;
  if (int32_t error = file.begin_access(AccessMode::write, /*wait=*/true)) {
    close_record_file(pinned);
    return error;
  }
  file.set_in_transaction(true);
  t.files.push_back(pinned);
  if (new_control) t.control_files.push_back(control);
  return 0;
}

uint32_t next_transaction_number() {
  TransactionState& t = state();
  uint32_t n = t.stamp_source ? t.stamp_source() : date_time_stamp();
  // Two commits of this process within one tick still get different numbers.
  if (t.numbered && static_cast<int32_t>(n - t.last_number) <= 0) n = t.last_number + 1;
  t.numbered = true;
  t.last_number = n;
  return n;
}

// Lists a new transaction number in every control file. On a clash the number goes up by one and
// the listing starts again from the first file (the entries of the clashing number are taken back
// first, so that no stale number stays listed). 0 with `number` set, or an error with nothing
// listed.
int32_t list_transaction(std::vector<ControlFile>& controls, uint32_t& number) {
  number = next_transaction_number();
  for (size_t i = 0; i < controls.size();) {
    bool clash = false;
    int32_t error = controls[i].list(number, clash);
    if (error == 0 && !clash) {
      ++i;
      continue;
    }
    // A failed listing may still have reached the disk (a flush fails after its page log is
    // durable): it is taken back too.
    for (size_t j = 0; j < i + (error != 0 ? 1 : 0); ++j) {
      if (int32_t undo = controls[j].unlist(number); undo != 0 && error == 0) error = undo;
    }
    if (error != 0) return error;
    ++number;
    state().last_number = number;
    i = 0;
  }
  return 0;
}

// Phase 0 of one file: its pending-transaction record names the transaction, then the page log is
// written and made durable.
int32_t prepare_file(RecordFile& file, uint32_t number, const std::string& stored_name) {
  try {
    const Record pending = pending_transaction_record(number, stored_name);
    if (!file.replace_record(kPendingKey, pending.data())) {
      file.insert_record(kPendingKey, pending.data());
    }
    return file.flush_phase0();
  } catch (const InternalError&) {
    file.discard_changes();
    return kDataCorruption;
  }
}

// COMMIT of several dirty files (see the header). Returns the first error met.
int32_t commit_files(const std::vector<RecordFile*>& dirty) {
  TransactionState& t = state();
  const std::vector<std::string> names = t.explicit_control_file.empty()
                                             ? t.control_files
                                             : std::vector<std::string>{t.explicit_control_file};
  auto drop_all = [&](size_t from) {
    for (size_t i = from; i < dirty.size(); ++i) dirty[i]->discard_changes();
  };
  std::vector<ControlFile> controls(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (int32_t error = controls[i].open(names[i])) {
      drop_all(0);
      return error;
    }
  }
  uint32_t number = 0;
  if (int32_t error = list_transaction(controls, number)) {
    drop_all(0);
    return error;
  }
  const std::string stored_name = !t.explicit_control_file.empty() ? t.explicit_control_file
                                  : controls.size() == 1 ? std::string(kControlFilePlaceholder)
                                                         : controls.front().name();
  size_t prepared = 0;
  int32_t failure = 0;
  for (; prepared < dirty.size(); ++prepared) {
    failure = prepare_file(*dirty[prepared], number, stored_name);
    if (failure != 0) break;
  }
  if (failure == 0) {
    // The first control file decides: once it no longer lists the number, the transaction has
    // committed.
    failure = controls.front().unlist(number);
    if (failure == 0) {
      int32_t result = 0;
      for (size_t i = 1; i < controls.size(); ++i) {
        if (int32_t error = controls[i].unlist(number); error != 0 && result == 0) result = error;
      }
      for (RecordFile* file : dirty) {
        if (int32_t error = file->flush_phase1(); error != 0 && result == 0) result = error;
      }
      return result;
    }
  }
  // Not committed: every prepared file goes back to its old state on disk.
  bool all_reset = true;
  for (size_t i = 0; i < prepared; ++i) {
    if (dirty[i]->abandon_flush() != 0) all_reset = false;
  }
  drop_all(0);
  // A file whose log could not be reset still points at it; the listing must stay so that the
  // log is abandoned when the file is next opened.
  if (all_reset) {
    for (ControlFile& control : controls) control.unlist(number);
  }
  return failure;
}

void end_transaction() {
  TransactionState& t = state();
  for (const KeptHold& hold : t.kept_holds) hold.file->unlock_number_byte(hold.n);
  t.kept_holds.clear();
  for (RecordFile* file : t.files) close_record_file(file);
  t.files.clear();
  t.control_files.clear();
}

}  // namespace

void set_explicit_control_file_name(std::string name) {
  state().explicit_control_file = std::move(name);
}

const std::string& explicit_control_file_name() {
  return state().explicit_control_file;
}

int32_t logout(std::span<RecordFile* const> files) {
  std::vector<RecordFile*> ordered(files.begin(), files.end());
  std::sort(ordered.begin(), ordered.end(), [](const RecordFile* a, const RecordFile* b) {
    return a->full_name() < b->full_name();
  });
  ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
  for (RecordFile* file : ordered) {
    if (int32_t error = join(*file)) return error;
  }
  return 0;
}

int32_t commit() {
  TransactionState& t = state();
  std::vector<RecordFile*> dirty;
  for (RecordFile* file : t.files) {
    file->set_in_transaction(false);
    if (file->dirty()) dirty.push_back(file);
  }
  int32_t result = 0;
  if (dirty.size() == 1) {
    result = dirty.front()->flush();
  } else if (dirty.size() > 1) {
    result = commit_files(dirty);
  }
  for (RecordFile* file : t.files) {
    if (int32_t error = file->end_access(); error != 0 && result == 0) result = error;
  }
  end_transaction();
  return result;
}

int32_t rollback() {
  for (RecordFile* file : state().files) {
    file->set_in_transaction(false);
    file->discard_changes();
  }
  end_transaction();
  return 0;
}

int32_t flush_now(RecordFile& file) {
  if (file.in_transaction()) return 0;
  const int32_t result = file.flush();
  if (file.in_access() && file.access_mode() == AccessMode::write) {
    if (int32_t ended = file.end_access(); result == 0) return ended;
  }
  return result;
}

void keep_hold_until_transaction_end(RecordFile& file, uint32_t n) {
  if (!transaction_keeps_hold(file, n)) state().kept_holds.push_back({&file, n});
}

bool transaction_keeps_hold(const RecordFile& file, uint32_t n) {
  const auto& kept = state().kept_holds;
  return std::any_of(kept.begin(), kept.end(),
                     [&](const KeptHold& h) { return h.file == &file && h.n == n; });
}

bool transaction_open() {
  return !state().files.empty();
}

std::vector<std::string> transaction_files() {
  std::vector<std::string> names;
  for (const RecordFile* file : state().files) names.push_back(file->full_name());
  return names;
}

std::vector<std::string> transaction_control_files() {
  return state().control_files;
}

void install_transaction_recovery() {
  set_pending_transaction_check(&transaction_still_listed);
}

uint32_t date_time_stamp() {
  const platform::LocalTime now = platform::local_time();
  const int32_t day = DATE(now.month, now.day, now.year);
  const uint32_t hundredths =
      static_cast<uint32_t>(now.hour) * 360'000 + static_cast<uint32_t>(now.minute) * 6'000 +
      static_cast<uint32_t>(now.second) * 100 + static_cast<uint32_t>(now.millisecond) / 10;
  return static_cast<uint32_t>(day) * kHundredthsPerDay + hundredths;
}

void set_stamp_source(std::function<uint32_t()> source) {
  state().stamp_source = std::move(source);
  state().numbered = false;  // a new source starts a new sequence
}

}  // namespace vtn::tarnwell
