#include "tools/twl/session.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "runtime/files/tarnwell/record_page.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/paths.hpp"

namespace twl {

namespace {

constexpr int32_t kCheckWrongChildLevel = 231;
constexpr int32_t kCheckEmptyIndexPage = 232;

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

namespace {

namespace tw = vtn::tarnwell;

tw::RecordPage* child_of(tw::PageStore& store, tw::RecordPage* parent, size_t slot) {
  tw::RecordPage* page = store.page(parent->contents.children[slot]);
  if (page->level() + 1 != parent->level()) tw::raise_internal_error(kCheckWrongChildLevel);
  return page;
}

// From `page` down to the leaf where `key` belongs, noting the index pages passed in `path`.
struct Step {
  int32_t page;
  size_t slot;
};
tw::RecordPage* descend(tw::PageStore& store, tw::RecordPage* page, std::span<const uint8_t> key,
                        std::vector<Step>* path) {
  while (page->is_index()) {
    if (page->empty()) tw::raise_internal_error(kCheckEmptyIndexPage);
    const size_t slot = key.empty() ? 0 : page->child_slot(key);
    if (path != nullptr) path->push_back({page->number, slot});
    page = child_of(store, page, slot);
  }
  return page;
}

bool starts_with(std::span<const uint8_t> key, std::span<const uint8_t> prefix) {
  return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

}  // namespace

// The records are read leaf page by leaf page, in place: one descent to the first record of the
// prefix, then along the leaves, instead of a descent from the root for every record. The pages
// of the path are found again by number after each leaf, since finishing a leaf unpins them.
void for_each_with_prefix(RecordFile& file, std::span<const uint8_t> prefix,
                          const std::function<bool(const StoredRecord&)>& visit) {
  tw::PageStore& store = file.store();
  if (!store.has_tree()) return;
  std::vector<Step> path;  // the index pages above the leaf
  tw::RecordPage* page = descend(store, store.page(store.header.root_page), prefix, &path);
  size_t at = page->lower_bound(prefix);
  for (;;) {
    const int32_t leaf = page->number;
    for (; at < page->size(); ++at) {
      const tw::RecordRef r = page->contents.records[at];
      if (!starts_with(r.key(), prefix) || !visit(StoredRecord{r.bytes, r.key_length})) {
        store.end_operation();
        return;
      }
      page = store.page(leaf);  // `visit` may have read the file and so unpinned the leaf
    }
    store.end_operation();
    // Up to the first index page with a further child, then down its leftmost edge.
    while (!path.empty()) {
      tw::RecordPage* parent = store.page(path.back().page);
      if (++path.back().slot < parent->size()) break;
      path.pop_back();
    }
    if (path.empty()) return;
    page = child_of(store, store.page(path.back().page), path.back().slot);
    page = descend(store, page, {}, &path);
    at = 0;
  }
}

std::optional<StoredRecord> RecordFinder::find_exact(std::span<const uint8_t> key) {
  tw::PageStore& store = file_.store();
  store.end_operation();  // the record of the previous find is given up now
  if (!store.has_tree()) return std::nullopt;
  tw::RecordPage* page = leaf_ ? store.page(*leaf_) : nullptr;
  const bool in_leaf = page != nullptr && !page->is_index() && !page->empty() &&
                       tw::compare_keys(key, page->first_key()) >= 0 &&
                       tw::compare_keys(key, page->key(page->size() - 1)) <= 0;
  if (!in_leaf) {
    page = descend(store, store.page(store.header.root_page), key, nullptr);
    leaf_ = page->number;
  }
  const size_t at = page->lower_bound(key);
  if (at == page->size() || tw::compare_keys(page->key(at), key) != 0) return std::nullopt;
  const tw::RecordRef r = page->contents.records[at];
  return StoredRecord{r.bytes, r.key_length};
}

}  // namespace twl
