// LOGOUT transactions of the calling thread: LOGOUT takes files in, COMMIT and ROLLBACK end the
// transaction by walking the OpenFileList from the last entry to the first and sending each file
// of the transaction the calls its driver asked for when it registered.
#include <vector>

#include "runtime/files/file_statements.hpp"
#include "runtime/files/open_file_list.hpp"
#include "runtime/files/operation_rules.hpp"
#include "runtime/files/thread_files.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

constexpr int32_t kLogoutAlreadyActive = 56;
constexpr int32_t kLogoutNotActive = 91;

thread_local bool t_logout_active = false;

// Sends the ending calls to every file of the calling thread's transaction, last entry first.
// The first failure stays the current error even when later calls succeed and clear it.
void end_transaction(int32_t end_code) {
  ErrorState first_failure;
  bool failed = false;
  const OperandWord none[4] = {0, 0, 0, 0};
  const std::vector<OpenFileEntry> entries = open_file_entries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (!it->in_transaction || it->transaction_thread != std::this_thread::get_id()) continue;
    auto send = [&](int32_t code) {
      const int32_t result = dispatch(code, it->file, none);
      if (result != 0 && result != NO_REPORT && !failed) {
        save_error(first_failure);
        failed = true;
      }
    };
    const bool needed = end_code == op::COMMIT ? it->commit_needed : it->rollback_needed;
    if (needed) send(end_code);
    if (it->unlock_needed) send(op::UNLOCK);
    set_in_transaction(it->file, false);
  }
  if (failed) restore_error(first_failure);
}

void end_logout(int32_t end_code) {
  if (!t_logout_active) {
    post_error(kLogoutNotActive);
    return;
  }
  t_logout_active = false;
  end_transaction(end_code);
}

}  // namespace

bool logout_active() {
  return t_logout_active;
}

void LOGOUT(int32_t seconds, std::initializer_list<std::reference_wrapper<FileBlock>> files) {
  if (t_logout_active) {
    post_error(kLogoutAlreadyActive);
    return;
  }
  for (FileBlock& declared : files) {
    FileBlock& file = thread_file(declared);
    const OperandWord words[4] = {seconds, 0, 0, 0};
    const int32_t result = dispatch(op::LOGOUT, &file, words);
    if (result != 0 && result != NO_REPORT) {
      // A file that cannot join leaves no half transaction behind: the files already taken in
      // are rolled back, and the error of the refusing file stays the current one.
      ErrorState refusal;
      save_error(refusal);
      end_transaction(op::ROLLBACK);
      restore_error(refusal);
      return;
    }
    set_in_transaction(&file, true);
  }
  t_logout_active = true;
}

void COMMIT() {
  end_logout(op::COMMIT);
}

void ROLLBACK() {
  end_logout(op::ROLLBACK);
}

}  // namespace vtn
