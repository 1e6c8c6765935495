// The record-file driver's state for one table: its DriverInstance (the per-table driver block)
// and the driver data of each of its keys.
//
// A table is opened against a RecordStore, shared with every other open table of the same
// physical file. The table finds its records by the 4-byte table number at the front of every key
// part; see record_kinds.hpp for the kinds of record a table owns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/files/field_info.hpp"
#include "runtime/files/file_block.hpp"
#include "runtime/files/tarnwell/definition_stream.hpp"
#include "runtime/files/tarnwell/key_encoding.hpp"
#include "runtime/files/tarnwell/record_holds.hpp"
#include "runtime/files/tarnwell/record_store.hpp"

namespace vtn::tarnwell {

// Key flags as the definition stream stores them.
inline constexpr uint8_t kKeyDuplicates = 0x01;
inline constexpr uint8_t kKeyNoCase = 0x04;
inline constexpr uint8_t kKeyPrimary = 0x10;
inline constexpr uint8_t kKeyDeferred = 0x20;
inline constexpr uint8_t kKeyDynamic = 0x40;

struct TableKey : DriverKeyData {
  KeyBlock* block = nullptr;  // null for a key known only from the stored definition
  uint8_t key_flags = 0;      // kKey*
  uint8_t kind = 0;           // the kind byte of its entries: the key's number from 0
  KeyShape shape;
  std::unique_ptr<MemoryStore> index;  // a dynamic index: its entries, built on demand
  // The key parts of this key's entries before and after the change in progress; kept between
  // changes so that the next one builds its key parts without allocating.
  Bytes old_entry, new_entry;

  bool duplicates() const { return key_flags & kKeyDuplicates; }
  bool deferred() const { return key_flags & kKeyDeferred; }
  bool dynamic() const { return key_flags & kKeyDynamic; }
};

struct TableMemo {
  MemoBlock* block = nullptr;
  uint32_t size = 0;
  bool blob = false;
  bool binary = false;
  std::vector<uint8_t> blob_contents;  // a blob's buffer grows to its contents
};

// Where sequential reading stands.
enum class PositionKind : uint8_t {
  none,
  file_start,
  file_from_record,
  file_from_key_value,
  file_continuing,
  key_start,
  key_from_value,
  key_from_value_and_record,
  key_from_record,
  key_continuing,
};

struct Position {
  PositionKind kind = PositionKind::none;
  TableKey* key = nullptr;  // key kinds, and file_from_key_value (the key to look up)
  Bytes saved;              // a data-record key part, or a key entry's key part (see kind)
  uint32_t record = 0;      // file_from_record, key_from_record
};

struct TableInstance : DriverInstance {
  // The definition: declared, or read from the file when the program declares no layout.
  std::vector<FieldDescriptor> fields;
  std::vector<std::unique_ptr<TableKey>> keys;
  std::vector<TableMemo> memos;
  TableDefinition definition;
  bool oem_file = false;

  // The open table.
  RecordStore* store = nullptr;
  std::string physical_name;  // full path of the physical file
  Number table{};
  TableCollation collation;
  uint32_t current = 0;  // the current record's number, 0 when none
  Position position;
  // The key part a search found, kept between the search and the reading of its record (which
  // invalidates the store's views); on success it changes places with position.saved, so that
  // reading on neither copies nor allocates. And the key part a GET by key looks up.
  Bytes found_key, search_key;
  // The record as last read, added or changed, in the record buffer's code page: POSITIONkey
  // gives its key value. Kept only while the table has a key (nothing else reads it).
  Bytes read_copy;
  // Scratch of the record changes, kept so that an ADD or PUT allocates nothing once grown: the
  // record in the file's code page, and the key entries a change made (to undo them on 40).
  Bytes file_copy;
  struct EntryChange {
    TableKey* key;
    bool removed;   // the old entry (key->old_entry) was deleted
    bool inserted;  // the new entry (key->new_entry) was inserted
    bool lowered;   // a stale key that got no entry: its stale mark drops to the record
  };
  std::vector<EntryChange> entry_changes;
  // Counter records as this instance last read or wrote them (kind: the data kind, or a key's
  // kind). They are worth trusting only while the store's change_count() is `counters_at`: the
  // records changed since through nobody but this instance's own record changes, which keep it in
  // step. A change elsewhere (another instance, another process, dropped changes) leaves it
  // behind, and the counters are read again. Saves an ADD two searches.
  //
  // Inside a transaction an ADD goes further: it leaves its counts waiting here instead of
  // replacing the counter records (see settle_waiting_counters), two record replaces fewer.
  struct KnownCounter {
    uint8_t kind;
    bool stored;     // the record is there (it may still be too short to hold a counter)
    bool readable;   // it holds a counter: `count`, `second`
    bool waiting;    // newer than the stored record, which still has to be replaced
    uint32_t epoch;  // known in this epoch only
    uint32_t count, second;
  };
  std::vector<KnownCounter> known_counters;
  uint64_t counters_at = 0;
  uint32_t counter_epoch = 1;
  // On the process's list of instances with counts waiting (then the list's entry of this
  // physical file is this instance). Changed with the list, under its mutex; read without it by
  // the calls on this table, which one thread makes at a time.
  bool counts_listed = false;

  // Holds and watches of this table (the locking layer keeps their states).
  RecordHolds holds;
  bool nomemo_requested = false;
  bool read_without_memos = false;
  bool fullbuild = false;

  int32_t internal_error = 0;  // the check number once a consistency check failed

  bool is_open() const { return store != nullptr; }

  // Closes the table's use of its physical file when the instance goes with the table open.
  ~TableInstance() override;
};

// Where the physical files come from: the page store for real files; tests of the table layer
// may put a store in memory in its place.
class StoreProvider {
 public:
  virtual ~StoreProvider() = default;
  // Opens (or creates, per the access bits 0x100 / 0x200) the physical file, one store per full
  // name inside the process. 0, 5 (sharing conflict), 36 (not a record file) or a system error
  // posted as 0 (the platform's last error tells which).
  virtual int32_t open(const std::string& full_name, uint32_t access, std::string_view password,
                       RecordStore*& out) = 0;
  // Drops one use; the last closes the file.
  virtual void close(RecordStore* store) = 0;
  // Deletes a physical file that no table has open. 0 or an error code as open() gives them.
  virtual int32_t remove(const std::string& full_name) = 0;
};

StoreProvider& store_provider();
// Replaces the provider (null: back to the page store). For tests and tools.
void set_store_provider(StoreProvider* provider);

}  // namespace vtn::tarnwell
