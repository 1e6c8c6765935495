#include "runtime/files/open_file_list.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace vtn {
namespace {

// Threads share the list, so every access takes the lock. Driver calls are never made while it
// is held: callers work on copies. Both outlive every static File and every thread's copies, whose
// instances leave the list when they are discarded at exit, so they are never destroyed.
std::mutex& list_mutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::vector<OpenFileEntry>& entries() {
  static auto* list = new std::vector<OpenFileEntry>;
  return *list;
}

std::vector<OpenFileEntry>::iterator find_locked(const FileBlock* file) {
  return std::find_if(entries().begin(), entries().end(),
                      [file](const OpenFileEntry& e) { return e.file == file; });
}

}  // namespace

int64_t current_thread_number() {
  static std::atomic<int64_t> next{1};
  thread_local const int64_t number = next.fetch_add(1);
  return number;
}

void register_open_file(FileBlock* file, uint32_t access, const OpenFileFlags& flags) {
  std::lock_guard lock(list_mutex());
  auto it = find_locked(file);
  if (it != entries().end()) {
    it->access = access;
    return;
  }
  OpenFileEntry e;
  e.file = file;
  e.thread = (file->attributes & FA_THREAD) != 0 ? current_thread_number() : -1;
  e.access = access;
  e.driver_words[0] = flags.driver_word;
  e.rollback_needed = flags.rollback_needed;
  e.commit_needed = flags.commit_needed;
  e.driver_flag = flags.driver_flag;
  e.unlock_needed = flags.unlock_needed;
  entries().push_back(e);
}

void unregister_open_file(FileBlock* file) {
  std::lock_guard lock(list_mutex());
  auto it = find_locked(file);
  if (it != entries().end()) entries().erase(it);
}

std::optional<OpenFileEntry> find_open_file(const FileBlock* file) {
  std::lock_guard lock(list_mutex());
  auto it = find_locked(file);
  if (it == entries().end()) return std::nullopt;
  return *it;
}

bool set_in_transaction(const FileBlock* file, bool in_transaction) {
  std::lock_guard lock(list_mutex());
  auto it = find_locked(file);
  if (it == entries().end()) return false;
  it->in_transaction = in_transaction;
  it->transaction_thread = in_transaction ? std::this_thread::get_id() : std::thread::id{};
  return true;
}

std::vector<OpenFileEntry> open_file_entries() {
  std::lock_guard lock(list_mutex());
  return entries();
}

size_t open_file_count() {
  std::lock_guard lock(list_mutex());
  return entries().size();
}

}  // namespace vtn
