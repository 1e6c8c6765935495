#include "runtime/files/tarnwell/locking_hooks.hpp"

#include "runtime/files/tarnwell/table_ops.hpp"

namespace vtn::tarnwell {

int32_t begin_operation_access(TableInstance& t, bool write) {
  RecordStore& s = *t.store;
  const StoreAccess mode = write ? StoreAccess::write : StoreAccess::read;
  if (s.in_access()) {
    if (s.access_mode() == StoreAccess::write || !write) return 0;  // kept by a transaction
    if (int32_t r = s.end_access(); r != 0) return r;
  }
  return s.begin_access(mode, true);
}

int32_t end_operation_access(TableInstance& t) {
  // Inside a transaction the write access stays until COMMIT or ROLLBACK; transactions belong to
  // the locking layer and cannot be started yet (LOGOUT answers 80).
  return t.store->in_access() ? t.store->end_access() : 0;
}

void release_hold(TableInstance& t) {
  // The locking layer unlocks the hold byte of t.held_record here.
  t.held = false;
  t.held_record = 0;
  t.watch_active = false;
}

int32_t take_hold(TableInstance& t, uint32_t record) {
  if (!t.hold_requested) return 0;
  // HOLD cannot be requested before the locking layer exists (it answers 80); a request that
  // arrives anyway must not pass as a hold that was never taken.
  (void)record;
  t.hold_requested = false;
  return err::kUnsupported;
}

void start_watch(TableInstance& t) {
  if (!t.watch_requested) return;
  t.watch_requested = false;
  t.watch_active = true;
  t.watch_copy = t.read_copy;
}

int32_t lock_for_put(TableInstance& t, uint32_t record) {
  // The locking layer locks the hold byte of `record` here when the table does not hold it.
  (void)t;
  (void)record;
  return 0;
}

int32_t check_watch(TableInstance& t, const Bytes& stored) {
  if (t.watch_active && stored != t.watch_copy) return 89;  // Record Changed By Another Station
  return 0;
}

void unlock_after_put(TableInstance& t, uint32_t record) {
  (void)record;
  t.held = false;
  t.held_record = 0;
  t.watch_active = false;
}

}  // namespace vtn::tarnwell
