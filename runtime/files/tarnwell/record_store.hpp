// RecordStore: the ordered record set that the table layer works on.
//
// A table's records, key entries, counters, memo chunks and definition all live in one ordered
// set of (key part, data part) records, ordered by compare_keys. The physical file (a RecordFile
// of the page store) is one such set; a dynamic index keeps its entries in another, held in
// memory only. The table layer talks to both through this interface, so that it neither knows nor
// cares where the records live.
//
// Views returned by the finders point into the store and stay valid only until the next call on
// the same store: copy what must outlive it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

class RecordFile;

enum class StoreAccess { read, write };

struct RecordView {
  std::span<const uint8_t> key;
  std::span<const uint8_t> data;
};

using ByteSpan = std::span<const uint8_t>;
using Bytes = std::vector<uint8_t>;

// A number no change of any store of this process has had yet: every change takes the next one,
// so a store's change_count() never comes back to a value it had, even across a close and a new
// open of the same file.
inline uint64_t next_change_number() {
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

class RecordStore {
 public:
  virtual ~RecordStore() = default;

  // The physical file behind the store, on which holds, table locks and transactions work; null
  // for a store in memory, which no other process can see (every lock is granted).
  virtual RecordFile* record_file() { return nullptr; }

  // Every operation runs inside an access; see the locking rules of the file. Results are 0 or an
  // error code (5 when the lock could not be had without waiting).
  virtual int32_t begin_access(StoreAccess mode, bool wait) = 0;
  virtual int32_t end_access() = 0;
  virtual bool in_access() const = 0;
  virtual StoreAccess access_mode() const = 0;

  virtual std::optional<RecordView> find_exact(ByteSpan key) = 0;
  virtual std::optional<RecordView> find_first_after(ByteSpan key) = 0;  // strictly after
  virtual std::optional<RecordView> find_last_before(ByteSpan key) = 0;  // strictly before
  virtual std::optional<RecordView> find_at_or_before(ByteSpan key) = 0;
  std::optional<RecordView> find_at_or_after(ByteSpan key) {
    if (auto r = find_exact(key)) return r;
    return find_first_after(key);
  }

  // REQUIRES: write access. insert_record of a key part already present, or replace_record of
  // one absent, is an internal error of the store. Inserting in ascending key order is the bulk
  // path: each record goes behind the one inserted before it, with neither a descent from the
  // root nor a search in the leaf, until the leaf splits.
  virtual void insert_record(ByteSpan key, ByteSpan data) = 0;
  // Inserts the record unless a record with this key part exists: then false, nothing changed.
  virtual bool insert_if_absent(ByteSpan key, ByteSpan data) = 0;
  virtual bool delete_record(ByteSpan key) = 0;
  virtual void replace_record(ByteSpan key, ByteSpan data) = 0;
  // Deletes every record whose key part starts with `prefix` (all of them for an empty prefix);
  // the number deleted. The store ends up as deleting them one by one in key order leaves it.
  virtual size_t delete_prefix(ByteSpan prefix) = 0;

  // Changes whenever any record of the store may have changed since: an insert, delete or
  // replace by any user of the store, dropped changes, the file reread after another process
  // changed it. Equal values mean the records are as they were (read inside an access).
  virtual uint64_t change_count() const = 0;

  // The next number of the file's shared counter (tables and records alike).
  virtual Number new_number() = 0;

  // Pages changed in memory and not yet written; a key build flushes every 400 of them.
  virtual size_t dirty_pages() const = 0;
  virtual int32_t flush() = 0;

  // Cuts the file back to the end of its used space (PACK). 0 or an error code.
  virtual int32_t truncate_unused() = 0;
  // Drops every change not yet flushed (after an operation was abandoned half-way), so that the
  // next access rereads the file as it is on disk.
  virtual void discard_changes() = 0;
  // Bytes of the file on disk (BYTES of a whole file); 0 for a store in memory.
  virtual uint64_t file_bytes() = 0;
};

// A RecordStore held in memory: the entries of a dynamic index, and the store of tests that
// exercise the table layer apart from the page store.
class MemoryStore : public RecordStore {
 public:
  int32_t begin_access(StoreAccess mode, bool) override {
    access_ = mode;
    in_access_ = true;
    return 0;
  }
  int32_t end_access() override {
    in_access_ = false;
    access_ = StoreAccess::read;
    return 0;
  }
  bool in_access() const override { return in_access_; }
  StoreAccess access_mode() const override { return access_; }

  std::optional<RecordView> find_exact(ByteSpan key) override;
  std::optional<RecordView> find_first_after(ByteSpan key) override;
  std::optional<RecordView> find_last_before(ByteSpan key) override;
  std::optional<RecordView> find_at_or_before(ByteSpan key) override;
  void insert_record(ByteSpan key, ByteSpan data) override;
  bool insert_if_absent(ByteSpan key, ByteSpan data) override;
  bool delete_record(ByteSpan key) override;
  void replace_record(ByteSpan key, ByteSpan data) override;
  size_t delete_prefix(ByteSpan prefix) override;
  uint64_t change_count() const override { return change_count_; }
  Number new_number() override { return next_number(last_number_); }
  size_t dirty_pages() const override { return 0; }
  int32_t flush() override { return 0; }
  int32_t truncate_unused() override { return 0; }
  void discard_changes() override {}  // nothing on disk to go back to
  uint64_t file_bytes() override { return 0; }

  size_t size() const { return records_.size(); }
  void clear() {
    records_.clear();
    change_count_ = next_change_number();
  }

 private:
  struct KeyLess {
    using is_transparent = void;
    bool operator()(const Bytes& a, const Bytes& b) const { return compare_keys(a, b) < 0; }
    bool operator()(const Bytes& a, ByteSpan b) const { return compare_keys(a, b) < 0; }
    bool operator()(ByteSpan a, const Bytes& b) const { return compare_keys(a, b) < 0; }
  };
  using Map = std::map<Bytes, Bytes, KeyLess>;
  static RecordView view(Map::const_iterator it) { return {it->first, it->second}; }

  Map records_;
  uint64_t change_count_ = next_change_number();
  Number last_number_{};
  StoreAccess access_ = StoreAccess::read;
  bool in_access_ = false;
};

}  // namespace vtn::tarnwell
