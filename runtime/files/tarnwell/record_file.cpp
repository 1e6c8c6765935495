#include "runtime/files/tarnwell/record_file.hpp"

#include <algorithm>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/open_files.hpp"
#include "runtime/files/tarnwell/page_flush.hpp"
#include "runtime/files/tarnwell/page_log.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "runtime/files/tarnwell/page_tree.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kAccessDenied = 5;
constexpr int32_t kCheckRecordTooLong = 824;
constexpr int32_t kCheckDuplicateKey = 706;
constexpr int32_t kCheckNotWriting = 1163;
constexpr int32_t kCheckHeaderNotCurrent = 1164;

// Releases the pages an operation took when it ends, however it ends.
class Operation {
 public:
  explicit Operation(PageStore& s) : s_(s) {}
  ~Operation() { s_.end_operation(); }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  PageStore& s_;
};

std::optional<StoredRecord> view(const std::optional<RecordRef>& r) {
  if (!r) return std::nullopt;
  return StoredRecord{r->bytes, r->key_length};
}

// A search: first the short step from a finger, which takes no page and so needs no operation
// around it (tried only when a finger's last answer may be the key's neighbour); then, inside an
// operation, the step with lookups when a finger may still answer, and the full search.
template <std::optional<RecordRef> (PageTree::*full)(std::span<const uint8_t>)>
std::optional<StoredRecord> search(PageStore& s, std::span<const uint8_t> key,
                                   PageTree::Step kind) {
  bool look_up = false;
  const uint64_t head = key_head(key);
  if (s.finger_may_hold(head)) {
    if (auto r = PageTree::step_from_finger(s, key, head, kind, look_up)) return view(r);
  }
  Operation op(s);
  PageTree tree(s);
  if (look_up) {
    if (auto r = tree.step_with_look_ups(key, kind)) return view(r);
  }
  return view((tree.*full)(key));
}

// The record to store, copied first into the store's own buffer: the caller's bytes may be a view
// of a page that the change itself moves or lets go.
std::span<const uint8_t> record_copy(PageStore& s, std::span<const uint8_t> key,
                                     std::span<const uint8_t> data) {
  if (key.size() > kMaxKeyLength || key.size() + data.size() > kMaxRecordLength) {
    raise_internal_error(kCheckRecordTooLong);
  }
  s.record_scratch.assign(key.begin(), key.end());
  s.record_scratch.insert(s.record_scratch.end(), data.begin(), data.end());
  return s.record_scratch;
}

void require_write(const PageStore& s) {
  if (!s.in_access || s.mode != AccessMode::write) raise_internal_error(kCheckNotWriting);
}

void release_access_lock(PageStore& s) {
  if (s.mode == AccessMode::write) {
    s.locks.unlock_writer();
  } else {
    s.locks.unlock_reader();
  }
  s.in_access = false;
}

// With the access lock of `mode` held: marks the access begun and brings the header up to date
// with `update` (bring_header_up_to_date or reread_header). On failure the access ends again.
int32_t settle_access(PageStore& s, AccessMode mode, int32_t (*update)(PageStore&, AccessMode)) {
  s.in_access = true;
  s.mode = mode;
  Operation op(s);
  int32_t result = 0;
  try {
    result = update(s, mode);
  } catch (const InternalError&) {
    release_access_lock(s);
    throw;
  }
  if (result != 0) release_access_lock(s);
  return result;
}

}  // namespace

RecordFile::RecordFile(std::unique_ptr<PageStore> store) : store_(std::move(store)) {}

RecordFile::~RecordFile() {
  if (store_->all_readers_locked) store_->locks.unlock_all_readers();
  if (store_->in_access) release_access_lock(*store_);
}

const std::string& RecordFile::full_name() const {
  return store_->full_name;
}
bool RecordFile::writable() const {
  return store_->bits.write;
}
bool RecordFile::shared() const {
  return store_->bits.shared;
}
bool RecordFile::deny_write() const {
  return store_->bits.deny_write;
}
bool RecordFile::exclusive() const {
  return store_->bits.exclusive;
}
uint16_t RecordFile::reader_slot() const {
  return store_->locks.slot();
}
bool RecordFile::in_access() const {
  return store_->in_access;
}
AccessMode RecordFile::access_mode() const {
  return store_->mode;
}
bool RecordFile::dirty() const {
  return store_->dirty;
}
size_t RecordFile::dirty_page_count() const {
  return store_->cache.dirty_pages().size();
}
void RecordFile::set_in_transaction(bool in_transaction) {
  store_->in_transaction = in_transaction;
}
bool RecordFile::in_transaction() const {
  return store_->in_transaction;
}
const FileHeader& RecordFile::header() const {
  return store_->header;
}

// The common accesses take the short way: a read of an exclusively opened file whose header is
// valid (and a write, when no page log waits to be applied) is a flag test or two; a read of a
// shared file takes its reader slot and compares the header's bytes (through the mapping: no
// further system call), and goes the whole way only when they changed. Everything else goes
// through enter_access. The longer ways stay out of line, so that the short ones need no frame.
int32_t RecordFile::begin_access(AccessMode mode, bool wait) {
  PageStore& s = *store_;
  if (!s.in_access && s.header_valid) {
    if (s.bits.exclusive) {
      if (mode == AccessMode::read || (s.bits.write && !s.log_pending)) {
        s.in_access = true;
        s.mode = mode;
        return 0;
      }
    } else if (mode == AccessMode::read) {
      return begin_shared_read(wait);
    }
  }
  return enter_access(mode, wait);
}

[[gnu::noinline]] int32_t RecordFile::begin_shared_read(bool wait) {
  PageStore& s = *store_;
  if (const int32_t locked = s.locks.lock_reader(wait)) return locked;
  if (s.disk_header_unchanged(/*through_mapping=*/true)) {
    s.in_access = true;
    s.mode = AccessMode::read;
    return 0;
  }
  return settle_access(s, AccessMode::read, reread_header);
}

[[gnu::noinline]] int32_t RecordFile::enter_access(AccessMode mode, bool wait) {
  PageStore& s = *store_;
  if (s.in_access) {
    if (mode == AccessMode::read || s.mode == AccessMode::write) return 0;
    release_access_lock(s);  // a read access gives way to the write access
  }
  if (mode == AccessMode::write && !s.bits.write) return kAccessDenied;
  const int32_t locked =
      mode == AccessMode::write ? s.locks.lock_writer(wait) : s.locks.lock_reader(wait);
  if (locked != 0) return locked;
  return settle_access(s, mode, bring_header_up_to_date);
}

int32_t RecordFile::end_access() {
  PageStore& s = *store_;
  if (s.in_access && s.mode == AccessMode::read) {
    if (!s.bits.exclusive) return end_shared_read();
    s.in_access = false;
    return 0;
  }
  return leave_write_access();
}

[[gnu::noinline]] int32_t RecordFile::end_shared_read() {
  store_->locks.unlock_reader();
  store_->in_access = false;
  return 0;
}

[[gnu::noinline]] int32_t RecordFile::leave_write_access() {
  PageStore& s = *store_;
  if (!s.in_access) return 0;
  if (s.in_transaction) return 0;
  int32_t result = 0;
  {
    Operation op(s);
    try {
      result = flush_file(s);
    } catch (const InternalError&) {
      release_access_lock(s);
      throw;
    }
  }
  release_access_lock(s);
  return result;
}

std::optional<StoredRecord> RecordFile::find_exact(std::span<const uint8_t> key) {
  return search<&PageTree::find_exact>(*store_, key, PageTree::Step::exact);
}

std::optional<StoredRecord> RecordFile::find_first_after(std::span<const uint8_t> key) {
  return search<&PageTree::find_first_after>(*store_, key, PageTree::Step::after);
}

std::optional<StoredRecord> RecordFile::find_last_before(std::span<const uint8_t> key) {
  return search<&PageTree::find_last_before>(*store_, key, PageTree::Step::before);
}

std::optional<StoredRecord> RecordFile::find_at_or_before(std::span<const uint8_t> key) {
  return search<&PageTree::find_at_or_before>(*store_, key, PageTree::Step::at_or_before);
}

void RecordFile::insert_record(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (!insert_if_absent(key, data)) raise_internal_error(kCheckDuplicateKey);
}

bool RecordFile::insert_if_absent(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  require_write(*store_);
  const std::span<const uint8_t> r = record_copy(*store_, key, data);
  Operation op(*store_);
  return PageTree(*store_).insert(r.first(key.size()), r.subspan(key.size()));
}

bool RecordFile::delete_record(std::span<const uint8_t> key) {
  require_write(*store_);
  Operation op(*store_);
  return PageTree(*store_).erase(key);
}

size_t RecordFile::delete_prefix(std::span<const uint8_t> prefix) {
  require_write(*store_);
  Operation op(*store_);
  return PageTree(*store_).erase_prefix(prefix);
}

uint64_t RecordFile::change_count() const {
  return store_->change_count;
}

bool RecordFile::replace_record(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  require_write(*store_);
  const std::span<const uint8_t> r = record_copy(*store_, key, data);
  Operation op(*store_);
  return PageTree(*store_).replace(r.first(key.size()), r.subspan(key.size()));
}

Number RecordFile::new_table_number() {
  PageStore& s = *store_;
  require_write(s);
  if (!s.header_valid) raise_internal_error(kCheckHeaderNotCurrent);
  Operation op(s);
  s.ensure_tree();
  const Number n = next_number(s.header.last_number);
  s.dirty = true;
  return n;
}

int32_t RecordFile::flush() {
  PageStore& s = *store_;
  if (s.in_transaction || !s.dirty) return 0;
  require_write(s);
  Operation op(s);
  return flush_file(s);
}

int32_t RecordFile::flush_phase0() {
  PageStore& s = *store_;
  if (!s.dirty) return 0;
  require_write(s);
  Operation op(s);
  return tarnwell::flush_phase0(s);
}

int32_t RecordFile::flush_phase1() {
  Operation op(*store_);
  return tarnwell::flush_phase1(*store_);
}

int32_t RecordFile::abandon_flush() {
  Operation op(*store_);
  return tarnwell::abandon_flush(*store_);
}

int32_t RecordFile::cut_unused_space() {
  require_write(*store_);
  return tarnwell::cut_unused_space(*store_);
}

void RecordFile::discard_changes() {
  PageStore& s = *store_;
  s.discard();
  if (s.all_readers_locked) s.locks.unlock_all_readers();
  s.all_readers_locked = false;
  s.phase0_done = false;
  if (s.in_access) release_access_lock(s);
}

int32_t RecordFile::lock_number_byte(uint32_t n) {
  return store_->locks.lock_number(n);
}
int32_t RecordFile::unlock_number_byte(uint32_t n) {
  return store_->locks.unlock_number(n);
}

int32_t open_record_file(const std::string& full_name, uint32_t access_mode,
                         std::string_view password, RecordFile*& out) {
  out = nullptr;
  const AccessBits bits = decode_access_bits(access_mode);
  if (RecordFile* open = open_files::acquire(full_name)) {
    if ((bits.write && !open->writable()) || bits.create_anew) {
      close_record_file(open);
      return kAccessDenied;
    }
    out = open;
    return 0;
  }
  auto store = std::make_unique<PageStore>(bits);
  if (!store->file.open(full_name, platform::decode_open_mode(access_mode))) {
    const uint32_t error = platform::last_error();
    return error == platform::kErrorSharingViolation ? kAccessDenied : static_cast<int32_t>(error);
  }
  store->full_name = full_name;
  if (!password.empty()) store->cipher = BlockCipher::from_password(password);
  FileHeader header;
  if (const int32_t error = store->read_disk_header(header)) return error;
  store->header = header;
  store->disk_header = header;
  store->header_valid = false;  // the first access reads it again and recovers a pending log
  out = open_files::add(full_name, std::make_unique<RecordFile>(std::move(store)));
  return 0;
}

void close_record_file(RecordFile* file) {
  if (file == nullptr) return;
  std::unique_ptr<RecordFile> last = open_files::release(file);
  // `last` closes the file when this was its last use.
}

}  // namespace vtn::tarnwell
