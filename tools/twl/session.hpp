// A record file as twl works on it: opened shared, so that running programs keep working beside
// the tool, and touched only inside accesses, so that the locking protocol holds.
//
//   Session session;
//   if (int32_t err = session.open("DATA\\!ORDERS", Session::Intent::read)) ...;
//   int32_t err = session.run(AccessMode::read, [&] { ... session.file().find_exact(...) ... });
//
// Damage found inside an access (InternalError) ends the access and is returned as error 90
// with its check number in damage_check().
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"

namespace twl {

using vtn::tarnwell::AccessMode;
using vtn::tarnwell::RecordFile;
using vtn::tarnwell::StoredRecord;

// A declared name split as the record-file driver splits it: "FILE\!TABLE" names a table in a
// file (the first separator whose preceding part is not an existing directory); without a
// separator the table is "UNNAMED" (here: none given). The file gets ".TWL" when it has no
// extension and is made a full path.
struct FileAndTable {
  std::string file;
  std::string table;  // empty when the name gives none
};
FileAndTable split_file_name(const std::string& name);

class Session {
 public:
  enum class Intent { read, write };

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  // Opens the physical file shared (others may read and write). Returns 0 or the error the
  // page store reports (2 no such file, 5 sharing conflict, 36 not a record file, ...).
  int32_t open(const std::string& full_name, Intent intent, const std::string& password = {});
  RecordFile& file() { return *file_; }
  const std::string& name() const { return name_; }

  // Runs `body` inside an access, waiting for the lock. Returns 0, the error of the access or of
  // its end (the flush of a write access), or 90 when `body` found damage.
  int32_t run(AccessMode mode, const std::function<void()>& body);
  int32_t damage_check() const { return damage_check_; }

 private:
  RecordFile* file_ = nullptr;
  std::string name_;
  int32_t damage_check_ = 0;
};

// A copy of a stored record, which outlives the next call on the file.
struct OwnedRecord {
  std::vector<uint8_t> key, data;
};

// The same copy in the form the record decoders take.
vtn::tarnwell::Record record_copy(const StoredRecord& stored);

// Calls `visit` for every record whose key part begins with `prefix`, in key order, until it
// returns false. REQUIRES: an access is in progress. `visit` may not change the file.
void for_each_with_prefix(RecordFile& file, std::span<const uint8_t> prefix,
                          const std::function<bool(const StoredRecord&)>& visit);

// Finds records by their key part, one after another: a key that lies within the leaf page of the
// previous find is looked up there, without a descent from the root, so that records read in an
// order close to their key order (the data records in the order of a key, mostly) cost one binary
// search each. REQUIRES: an access is in progress throughout; the file does not change meanwhile.
class RecordFinder {
 public:
  explicit RecordFinder(RecordFile& file) : file_(file) {}
  // The record, valid until the next call on the file; nothing when there is none.
  std::optional<StoredRecord> find_exact(std::span<const uint8_t> key);

 private:
  RecordFile& file_;
  std::optional<int32_t> leaf_;  // the page of the previous find
};

}  // namespace twl
