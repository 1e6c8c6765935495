#include "runtime/files/tarnwell/record_holds.hpp"

#include <algorithm>

#include "runtime/files/tarnwell/access_locks.hpp"
#include "runtime/files/tarnwell/lock_retry.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kAccessDenied = 5;
constexpr int32_t kRecordHeld = 43;
constexpr int32_t kRecordChanged = 89;

// Lets go of a byte this table took: at once, or at the end of the transaction when the change it
// protected is not visible yet.
void let_go(RecordFile& file, uint32_t n) {
  if (file.in_transaction()) {
    keep_hold_until_transaction_end(file, n);
  } else {
    file.unlock_number_byte(n);
  }
}

}  // namespace

void request_hold(RecordHolds& h, int32_t seconds) {
  h.hold_requested = true;
  h.hold_seconds = seconds < 0 ? kHoldForever : seconds;
}

void request_watch(RecordHolds& h) {
  h.watch_requested = true;
}

void release_hold(RecordFile& file, RecordHolds& h, bool clear_watch) {
  if (h.held && h.held_byte_owned) file.unlock_number_byte(h.held_record);
  h.held = false;
  h.held_byte_owned = false;
  h.held_record = 0;
  if (clear_watch) h.watch_active = false;
}

int32_t try_hold(RecordFile& file, RecordHolds& h, uint32_t record) {
  if (!h.hold_requested) return 0;
  bool owned = false;
  if (!transaction_keeps_hold(file, record)) {
    // (A byte the transaction keeps is this process's already: the record is held.)
    const int32_t locked = file.lock_number_byte(record);
    if (locked == static_cast<int32_t>(platform::kErrorLockViolation)) return kRecordHeld;
    if (locked != 0) return locked;
    owned = true;
  }
  h.held = true;
  h.held_record = record;
  h.held_byte_owned = owned;
  h.hold_requested = false;
  return 0;
}

bool may_retry_hold(const RecordHolds& h, uint32_t start) {
  if (h.hold_seconds == kHoldForever) return true;
  const uint64_t limit = uint64_t{static_cast<uint32_t>(std::max(h.hold_seconds, 0))} * 100;
  return tick_clock() - start < limit;
}

void give_up_hold(RecordHolds& h) {
  h.hold_requested = false;
  h.watch_requested = false;
}

int32_t read_with_hold(RecordFile& file, RecordHolds& h, const FindRecord& find,
                       const GiveWay& give_way) {
  release_hold(file, h, /*clear_watch=*/true);
  const uint32_t start = tick_clock();
  for (uint32_t tries = 0;; ++tries) {
    uint32_t record = 0;
    if (int32_t error = find(record)) return error;
    const int32_t held = try_hold(file, h, record);
    if (held == 0) return 0;
    give_way();
    if (held != kRecordHeld || !may_retry_hold(h, start)) {
      give_up_hold(h);
      return held;
    }
    file.end_access();  // frees the reader slot for the holder's flush
    pause_before_retry(tries);
  }
}

void note_record_read(RecordHolds& h, std::span<const uint8_t> record_and_memos) {
  if (!h.watch_requested) return;
  h.watch_requested = false;
  h.watch_active = true;
  h.watch_copy.assign(record_and_memos.begin(), record_and_memos.end());
}

int32_t lock_for_put(RecordFile& file, RecordHolds& h, uint32_t n) {
  h.put_byte_owned = false;
  h.put_record = n;
  if ((h.held && h.held_record == n) || transaction_keeps_hold(file, n)) return 0;
  const int32_t locked = file.lock_number_byte(n);
  if (locked == static_cast<int32_t>(platform::kErrorLockViolation)) return kAccessDenied;
  if (locked != 0) return locked;
  h.put_byte_owned = true;
  return 0;
}

int32_t check_watch(const RecordHolds& h, std::span<const uint8_t> stored_and_memos) {
  if (!h.watch_active) return 0;
  return std::equal(stored_and_memos.begin(), stored_and_memos.end(), h.watch_copy.begin(),
                    h.watch_copy.end())
             ? 0
             : kRecordChanged;
}

void finish_put(RecordFile& file, RecordHolds& h) {
  if (h.put_byte_owned) let_go(file, h.put_record);
  h.put_byte_owned = false;
  if (h.held && h.held_byte_owned) let_go(file, h.held_record);
  h.held = false;
  h.held_byte_owned = false;
  h.held_record = 0;
  h.watch_active = false;
}

}  // namespace vtn::tarnwell
