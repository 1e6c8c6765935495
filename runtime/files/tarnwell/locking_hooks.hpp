// The places where the locking layer (holds, watches, table locks, transactions) joins the table
// operations. The table layer calls these at the points the locking rules name; each says what
// it does.
//
// The hooks work on the page store's RecordFile (record_holds.hpp); a table on a store in memory
// has no other process to fear, so every hold is granted there.
#pragma once

#include <cstdint>

#include "runtime/files/tarnwell/table_block.hpp"

namespace vtn::tarnwell {

// Access around one operation. A writing operation first ends any read access and switches to
// write mode; after it the access ends (flushing), unless the file is in a transaction.
inline int32_t begin_operation_access(TableInstance& t, bool write) {
  RecordStore& s = *t.store;
  const StoreAccess mode = write ? StoreAccess::write : StoreAccess::read;
  if (s.in_access()) {
    if (s.access_mode() == StoreAccess::write || !write) return 0;  // kept by a transaction
    if (int32_t r = s.end_access(); r != 0) return r;
  }
  return s.begin_access(mode, true);
}
inline int32_t end_operation_access(TableInstance& t) {
  // Inside a transaction the store keeps the write access (and does not flush) until COMMIT or
  // ROLLBACK.
  return t.store->in_access() ? t.store->end_access() : 0;
}

// Reading a record: releases the previous hold and clears the watch (release_hold); takes the
// hold on `record` when one is requested (take_hold: 0, or 43 while another process holds it);
// keeps the copy of the record and its memos for a requested watch (start_watch).
// Most reads have neither a hold to let go nor one to take: they pay two tests.
void release_held_record(TableInstance& t);
int32_t take_requested_hold(TableInstance& t, uint32_t record);
inline void release_hold(TableInstance& t) {
  // (No hold leaves neither a hold byte nor a held record behind.)
  if (t.holds.held || t.holds.watch_active) release_held_record(t);
}
inline int32_t take_hold(TableInstance& t, uint32_t record) {
  return t.holds.hold_requested ? take_requested_hold(t, record) : 0;
}
void start_watch(TableInstance& t, const Bytes& record_and_memos);

// PUT and DELETE: the record's hold byte for the duration of the change when this table does not
// hold it (5 when another process does); the watch check against the stored record and its memos
// (89 when another station changed it). finish_put lets the bytes go once the operation's access
// has ended (the change is then visible to others; inside a transaction the bytes stay until it
// ends), and clears the hold and the watch.
int32_t lock_for_put(TableInstance& t, uint32_t record);
int32_t check_watch(TableInstance& t, const Bytes& stored_and_memos);
void finish_put(TableInstance& t);

// The page store's file behind the table, or null for a store in memory.
RecordFile* record_file_of(TableInstance& t);

}  // namespace vtn::tarnwell
