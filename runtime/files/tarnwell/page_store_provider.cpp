// The physical files of real tables: the page store's RecordFile behind the RecordStore
// interface. Tables of one physical file share one RecordFile (open_record_file counts the uses)
// and therefore one RecordFileStore.
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kSystemErrorBase = 300;
constexpr int32_t kRecordMissing = 780;

// The store's results as the driver posts them: its own codes (5, 36) and the system errors 2 to
// 5 as they stand, any other system error as 300 + n.
int32_t driver_error(int32_t store_result) {
  if (store_result == 0 || store_result == err::kInvalidDataFile ||
      (store_result >= 2 && store_result <= 5))
    return store_result;
  return kSystemErrorBase + store_result;
}

std::optional<RecordView> view(const std::optional<StoredRecord>& r) {
  if (!r) return std::nullopt;
  return RecordView{r->key(), r->data()};
}

class RecordFileStore : public RecordStore {
 public:
  explicit RecordFileStore(RecordFile& file) : file_(file) {}

  RecordFile& file() { return file_; }
  RecordFile* record_file() override { return &file_; }

  int32_t begin_access(StoreAccess mode, bool wait) override {
    return driver_error(file_.begin_access(
        mode == StoreAccess::write ? AccessMode::write : AccessMode::read, wait));
  }
  int32_t end_access() override { return driver_error(file_.end_access()); }
  bool in_access() const override { return file_.in_access(); }
  StoreAccess access_mode() const override {
    return file_.access_mode() == AccessMode::write ? StoreAccess::write : StoreAccess::read;
  }
  std::optional<RecordView> find_exact(ByteSpan key) override {
    return view(file_.find_exact(key));
  }
  std::optional<RecordView> find_first_after(ByteSpan key) override {
    return view(file_.find_first_after(key));
  }
  std::optional<RecordView> find_last_before(ByteSpan key) override {
    return view(file_.find_last_before(key));
  }
  std::optional<RecordView> find_at_or_before(ByteSpan key) override {
    return view(file_.find_at_or_before(key));
  }
  void insert_record(ByteSpan key, ByteSpan data) override { file_.insert_record(key, data); }
  bool insert_if_absent(ByteSpan key, ByteSpan data) override {
    return file_.insert_if_absent(key, data);
  }
  bool delete_record(ByteSpan key) override { return file_.delete_record(key); }
  size_t delete_prefix(ByteSpan prefix) override { return file_.delete_prefix(prefix); }
  uint64_t change_count() const override { return file_.change_count(); }
  void replace_record(ByteSpan key, ByteSpan data) override {
    if (!file_.replace_record(key, data)) raise_internal_error(kRecordMissing);
  }
  Number new_number() override { return file_.new_table_number(); }
  size_t dirty_pages() const override { return file_.dirty_page_count(); }
  int32_t flush() override { return driver_error(file_.flush()); }
  // PACK: what the build changed is flushed first, so that the used space the cut keeps is the
  // final one. In a transaction the flush waits for COMMIT and the file is cut to the state on
  // disk; the commit's flush then grows it again as far as its pages need.
  int32_t truncate_unused() override {
    if (const int32_t r = file_.flush()) return driver_error(r);
    return driver_error(file_.cut_unused_space());
  }
  void discard_changes() override { file_.discard_changes(); }
  uint64_t file_bytes() override {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(file_.full_name(), ignored);
    return ignored ? 0 : size;
  }

 private:
  RecordFile& file_;
};

class PageStoreProvider : public StoreProvider {
 public:
  int32_t open(const std::string& full_name, uint32_t access, std::string_view password,
               RecordStore*& out) override {
    // A page log left by a transaction that never committed must be abandoned, not applied: the
    // decision needs the transaction control files, so it is installed before the first open.
    static const bool recovery_installed = (install_transaction_recovery(), true);
    (void)recovery_installed;
    RecordFile* file = nullptr;
    if (int32_t r = open_record_file(full_name, access, password, file); r != 0)
      return driver_error(r);
    Entry& e = stores_[file];
    if (!e.store) e.store = std::make_unique<RecordFileStore>(*file);
    ++e.uses;
    out = e.store.get();
    return 0;
  }

  void close(RecordStore* store) override {
    for (auto it = stores_.begin(); it != stores_.end(); ++it) {
      if (it->second.store.get() != store) continue;
      RecordFile* file = it->first;
      if (--it->second.uses == 0) stores_.erase(it);
      close_record_file(file);
      return;
    }
  }

  int32_t remove(const std::string& full_name) override {
    if (platform::delete_file(full_name)) return 0;
    return driver_error(static_cast<int32_t>(platform::last_error()));
  }

 private:
  struct Entry {
    std::unique_ptr<RecordFileStore> store;
    int uses = 0;
  };
  std::map<RecordFile*, Entry> stores_;
};

}  // namespace

StoreProvider& page_store_provider() {
  static PageStoreProvider provider;
  return provider;
}

}  // namespace vtn::tarnwell
