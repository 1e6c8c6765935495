// RecordFile: one physical record file (.TWL) as the tables of this process see it.
//
// A record file is one ordered set of records (key part + data part, ordered by key part alone,
// see compare_keys) kept in a tree of pages. The page store behind this class reads and caches
// pages, splits pages that grow too large, places pages in the zones of the header and writes
// every change crash-safely: a flush first writes the pages that would overwrite live data into
// the page log at the end of the file, makes the log durable and points the header at it, and
// only then writes the pages in place and empties the log. The next process to touch a file whose
// log is not empty reads through it (reader) or completes it (writer), or abandons it when the
// flush belonged to a transaction that never committed.
//
// Every operation runs inside an access:
//
//     RecordFile* file = nullptr;
//     if (int32_t err = open_record_file(full_name, 0x42, "", file)) return err;
//     if (int32_t err = file->begin_access(AccessMode::write, /*wait=*/true)) ...;
//     file->insert_record(key, data);          // changes pages in memory only
//     int32_t err = file->end_access();        // flushes (two-phase), releases the lock
//     close_record_file(file);
//
// Between processes, accesses are serialised with byte-range locks far beyond the data (see
// access_locks.hpp): a reader holds its reader slot, a writer the writer byte, a flush all reader
// slots at once. A file opened exclusively takes no locks. A read access of a shared file looks at
// the header through a read-only mapping of the file's first page where the file system allows
// (page_store_header.cpp); the first such access installs the process's SIGBUS guard
// (mapped_view.hpp: a program that installs its own SIGBUS handler later must chain to it).
//
// Errors. Results are 0 or an error number as the driver posts it:
//   5    sharing conflict at open, or a lock that could not be had without waiting;
//   36   the file is not a record file (fewer than 512 bytes, another signature, or a header
//        whose zones, root page or page log do not describe a file of this size);
//   n    any other failure of the system, as its Windows error number (2 file not found, 3 path
//        not found, 39 disk full, ...). platform::last_error() holds the same n, so post_error(0)
//        posts it as 300 + n where the driver wants that; 2..5 are posted as they stand.
//   A short write during a flush reports 5.
// Damage found in the file (a corrupt page, a broken tree) throws InternalError with its check
// number (internal_error.hpp); the driver's entry turns it into error 90.
//
// Views. A StoredRecord points into the page cache: it stays valid until the next call on the
// same RecordFile. Copy what must live longer.
//
// Threads: a RecordFile is used by one thread at a time (the process list of open files is
// locked).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/files/tarnwell/file_header.hpp"

namespace vtn::tarnwell {

enum class AccessMode { read, write };

// A record as the page store holds it: key part, then data part.
struct StoredRecord {
  std::span<const uint8_t> bytes;
  uint32_t key_length = 0;
  std::span<const uint8_t> key() const { return bytes.first(key_length); }
  std::span<const uint8_t> data() const { return bytes.subspan(key_length); }
};

// The longest record (key part + data part) the store accepts: it must fit alone in a leaf page
// and its key alone in an index page without either page having to split. Longer records fail
// with check 824 before anything changes.
inline constexpr size_t kMaxRecordLength = 15094 - 18;
inline constexpr size_t kMaxKeyLength = 15094 - 22;

struct PageStore;  // page_store.hpp: the state behind a RecordFile

// Asked during recovery when the page log of a file holds a pending-transaction record (kind
// 0xFF): is transaction `transaction` still listed in the control file `control_file` (the
// name as stored in the record, the placeholder included)? `data_file` is the full name of the
// file being recovered. true: the transaction never committed and the log is abandoned; false:
// it committed and the log is applied. Without a check installed, the log is applied.
using PendingTransactionCheck = std::function<bool(
    const std::string& data_file, uint32_t transaction, const std::string& control_file)>;

// Installs the check for the whole process (an empty function removes it).
void set_pending_transaction_check(PendingTransactionCheck check);

class RecordFile {
 public:
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  const std::string& full_name() const;
  bool writable() const;    // opened for reading and writing
  bool shared() const;      // others may read and write
  bool deny_write() const;  // others may only read
  bool exclusive() const;   // nobody else may open the file: no locks are taken
  uint16_t reader_slot() const;

  // ---- access ----

  // Takes the access lock (reader slot for read, writer byte for write, none when exclusive),
  // waiting when asked, and brings the header up to date, recovering an interrupted flush (see
  // top). A write access first ends a read access in progress; an access of the same or a
  // weaker mode already in progress (a transaction keeps its write access) is kept. Returns 0,
  // 5 (lock not had without waiting, or write access on a read-only file), 36 or a system error.
  int32_t begin_access(AccessMode mode, bool wait);
  // Flushes (a write access outside a transaction) and releases the access lock. Inside a
  // transaction the write access and its lock are kept and nothing is flushed. Returns the
  // flush's result.
  int32_t end_access();
  bool in_access() const;
  AccessMode access_mode() const;

  // ---- records (REQUIRES: in_access(); changes REQUIRE write access, else check 1163) ----

  std::optional<StoredRecord> find_exact(std::span<const uint8_t> key);
  std::optional<StoredRecord> find_first_after(std::span<const uint8_t> key);   // first > key
  std::optional<StoredRecord> find_last_before(std::span<const uint8_t> key);   // last < key
  std::optional<StoredRecord> find_at_or_before(std::span<const uint8_t> key);  // last <= key
  // Check 706 when a record with this key part exists; check 824 when the record is longer than
  // kMaxRecordLength or its key longer than kMaxKeyLength.
  // In ascending key order, each insert lands behind the one before it without a search, until
  // its leaf splits.
  void insert_record(std::span<const uint8_t> key, std::span<const uint8_t> data);
  // As insert_record, but false (nothing changed) when a record has this key part.
  bool insert_if_absent(std::span<const uint8_t> key, std::span<const uint8_t> data);
  // false when no record has this key part.
  bool delete_record(std::span<const uint8_t> key);
  // Deletes every record whose key part starts with `prefix`, freeing whole leaves at once; the
  // file ends up byte for byte as deleting them one by one in key order leaves it. The count.
  size_t delete_prefix(std::span<const uint8_t> prefix);
  // Replaces the data part of the record with this key part; false (nothing changed) when there
  // is none. Check 824 as for insert_record.
  bool replace_record(std::span<const uint8_t> key, std::span<const uint8_t> data);
  // The next number of the file's counter (tables and records share it). Checks 1163 (no write
  // access), 1164 (header not up to date), 1173 (numbers exhausted).
  Number new_table_number();
  // Changes whenever a record may have changed (see RecordStore::change_count); inside an access
  // it also covers the changes of other processes.
  uint64_t change_count() const;

  // ---- flushing ----

  // Writes every dirty page and the header with the two-phase flush. Does nothing when nothing
  // is dirty or the file is in a transaction. On a write error the changes in memory are
  // discarded (the next access rereads the file) and the error is returned.
  int32_t flush();
  bool dirty() const;
  size_t dirty_page_count() const;

  // The two phases of a flush, for a commit over several files: phase 0 (placement, the page
  // log written and made durable, the header pointing at it) and phase 1 (pages in place, log
  // emptied). Between them the file holds the exclusive reader lock. abandon_flush() undoes a
  // phase 0 that will not be followed by phase 1: the header on disk gets back an empty log (the
  // file keeps its old state) and the changes in memory are discarded. REQUIRES: write access.
  int32_t flush_phase0();
  int32_t flush_phase1();
  int32_t abandon_flush();
  // Cuts the physical file back to the end of its used space on disk (PACK), waiting until no
  // reader is inside an access. Flush first: changes still in memory are not written. Does
  // nothing between the two phases of a commit. REQUIRES: write access. Returns 0 or the error.
  int32_t cut_unused_space();
  // Drops every change in memory: the next access rereads the header and the pages. Ends the
  // access in progress (ROLLBACK).
  void discard_changes();

  // In a transaction end_access() keeps the write access and flush() does nothing.
  void set_in_transaction(bool in_transaction);
  bool in_transaction() const;

  // ---- locks of tables and records (the byte 0x80000000 + 1,024 + n + 1) ----

  // Never waits. 0, 33 (held by another handle or process) or a system error. No lock is taken
  // on an exclusively opened file (always 0).
  int32_t lock_number_byte(uint32_t n);
  int32_t unlock_number_byte(uint32_t n);

  // The header as this process knows it (valid inside an access).
  const FileHeader& header() const;

  // For open_record_file only.
  explicit RecordFile(std::unique_ptr<PageStore> store);
  PageStore& store() { return *store_; }

 private:
  int32_t begin_shared_read(bool wait);
  int32_t end_shared_read();
  int32_t enter_access(AccessMode mode, bool wait);
  int32_t leave_write_access();

  std::unique_ptr<PageStore> store_;
};

// Opens the physical file `full_name` with the access code `access_mode` (0x142, 0x42, 0x22, 0x40
// or a program's OPEN mode; 0x100 creates a missing file, 0x200 with it empties the file), or
// finds it already open in this process (names compared ignoring case) and counts one more use.
// An empty password means no encryption. Reads and checks the header (a 0-byte file is a new,
// empty file). Returns 0 with `out` set, or 5 (sharing conflict; also a second open that needs
// writing while the file is open read-only in this process, or that would empty it), 36 (not a
// record file) or a system error (see top).
int32_t open_record_file(const std::string& full_name, uint32_t access_mode,
                         std::string_view password, RecordFile*& out);

// Drops one use; the last closes the file (changes not flushed are lost: flush first).
void close_record_file(RecordFile* file);

// The consistency checker of a whole file: every zone contiguous, ordered and disjoint; every
// page reachable from the root decodes, lies in the zone of its size and is reached once; every
// index record carries the first key of its child page; keys strictly increase within and
// across pages; the page log is empty or well formed. `ok` false gives the first fault found,
// with the check number that names it (the format's checks, or 0 for a fault the format has no
// number for) and a text for people.
struct CheckResult {
  bool ok = true;
  int32_t check_number = 0;
  std::string what;
};
// REQUIRES: file->in_access(). Reads through the page log when it is not empty.
CheckResult check_record_file(RecordFile& file);

}  // namespace vtn::tarnwell
