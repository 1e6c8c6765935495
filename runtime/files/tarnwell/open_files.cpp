#include "runtime/files/tarnwell/open_files.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

#include "runtime/platform/paths.hpp"

namespace vtn::tarnwell::open_files {
namespace {

struct Entry {
  std::string full_name;
  std::unique_ptr<RecordFile> file;
  size_t uses = 0;
};

std::mutex g_mutex;
std::vector<Entry>& entries() {
  static std::vector<Entry> list;
  return list;
}

}  // namespace

RecordFile* acquire(std::string_view full_name) {
  std::lock_guard lock(g_mutex);
  for (Entry& e : entries()) {
    if (platform::same_name_ignoring_case(e.full_name, full_name)) {
      ++e.uses;
      return e.file.get();
    }
  }
  return nullptr;
}

RecordFile* add(std::string full_name, std::unique_ptr<RecordFile> file) {
  std::lock_guard lock(g_mutex);
  RecordFile* raw = file.get();
  entries().push_back({std::move(full_name), std::move(file), 1});
  return raw;
}

std::unique_ptr<RecordFile> release(RecordFile* file) {
  std::lock_guard lock(g_mutex);
  auto& list = entries();
  auto it =
      std::find_if(list.begin(), list.end(), [&](const Entry& e) { return e.file.get() == file; });
  if (it == list.end() || --it->uses > 0) return nullptr;
  std::unique_ptr<RecordFile> last = std::move(it->file);
  list.erase(it);
  return last;
}

size_t use_count(const RecordFile* file) {
  std::lock_guard lock(g_mutex);
  for (const Entry& e : entries()) {
    if (e.file.get() == file) return e.uses;
  }
  return 0;
}

}  // namespace vtn::tarnwell::open_files
