#include "runtime/files/tarnwell/locking_hooks.hpp"

#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"

namespace vtn::tarnwell {

RecordFile* record_file_of(TableInstance& t) {
  return t.store != nullptr ? t.store->record_file() : nullptr;
}

void release_held_record(TableInstance& t) {
  if (RecordFile* f = record_file_of(t)) {
    release_hold(*f, t.holds, /*clear_watch=*/true);
    return;
  }
  t.holds.held = false;
  t.holds.held_record = 0;
  t.holds.watch_active = false;
}

int32_t take_requested_hold(TableInstance& t, uint32_t record) {
  if (RecordFile* f = record_file_of(t)) return try_hold(*f, t.holds, record);
  // A store in memory: no other process can hold the record.
  if (t.holds.hold_requested) {
    t.holds.held = true;
    t.holds.held_record = record;
    t.holds.hold_requested = false;
  }
  return 0;
}

void start_watch(TableInstance& t, const Bytes& record_and_memos) {
  note_record_read(t.holds, record_and_memos);
}

int32_t lock_for_put(TableInstance& t, uint32_t record) {
  RecordFile* f = record_file_of(t);
  return f != nullptr ? lock_for_put(*f, t.holds, record) : 0;
}

int32_t check_watch(TableInstance& t, const Bytes& stored_and_memos) {
  return check_watch(t.holds, stored_and_memos);
}

void finish_put(TableInstance& t) {
  if (RecordFile* f = record_file_of(t)) {
    finish_put(*f, t.holds);
    return;
  }
  t.holds.held = false;
  t.holds.held_record = 0;
  t.holds.watch_active = false;
}

}  // namespace vtn::tarnwell
