// Record holds and watches: how a table keeps a record it read from being changed elsewhere, or
// learns that it was.
//
// A hold is the record's lock byte (0x80000000 + 1,024 + n + 1, n = the record number) taken
// without waiting by the read that follows HOLD; whoever else then reads the record with HOLD is
// refused (43) and whoever else PUTs it is refused (5). A watch keeps a copy of the record (and
// its memos) as read; a PUT that finds the stored record different refuses with 89 and changes
// nothing.
//
// The table layer calls, per table (RecordHolds lives in its driver block):
//
//   HOLDfile / HOLDfilesec   request_hold(h, -1) / request_hold(h, seconds)
//   WATCH                    request_watch(h)
//   RELEASE                  release_hold(file, h)
//   GET, NEXT, PREVIOUS, REGET and every other read into the record buffer:
//       int32_t r = read_with_hold(file, h, find, give_way);   // steps 1 to 3
//       if (r == 0) { copy the record into the buffer; note_record_read(h, record_and_memos); }
//   PUT:
//       lock_for_put(file, h, n)       5 when another process holds record n
//       check_watch(h, stored_and_memos)  89 when the watched record changed
//       ... change, end the operation's access (the flush) ...
//       finish_put(file, h)            after the access has ended, whatever the PUT's result
//
// Ordering rule: a hold byte is let go only once the change it protected is visible to others.
// So finish_put runs after the PUT's flush, and inside a transaction (where nothing is visible
// before COMMIT) the hold is kept until the transaction ends. A read that waits for a hold leaves
// its access between tries: it must not keep its reader slot (the holder's flush waits for every
// slot) and must reread the header to see what the holder wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vtn::tarnwell {

class RecordFile;

inline constexpr int32_t kHoldForever = -1;

struct RecordHolds {
  bool hold_requested = false;
  int32_t hold_seconds = kHoldForever;  // HOLDfilesec's limit; kHoldForever for HOLDfile
  bool held = false;
  uint32_t held_record = 0;
  bool held_byte_owned = false;  // this table took the byte (not the transaction's kept hold)
  bool watch_requested = false;
  bool watch_active = false;
  std::vector<uint8_t> watch_copy;  // the record and its memos as read
  bool put_byte_owned = false;      // lock_for_put took the byte of put_record
  uint32_t put_record = 0;
};

// HOLD: the next read holds its record, waiting at most `seconds` (kHoldForever: no limit).
void request_hold(RecordHolds& h, int32_t seconds);
// WATCH: the next read keeps a copy of its record.
void request_watch(RecordHolds& h);
// RELEASE, and step 1 of every read: lets the held record go. Also clears the active watch when
// `clear_watch` (a read does; RELEASE does not).
void release_hold(RecordFile& file, RecordHolds& h, bool clear_watch = false);

// One attempt of the read as the table layer does it: (re)enters the read's access when it is not
// in one, finds the record the operation reads (updating the position), and gives its number.
// Returns 0, or the error that ends the read as it stands (no record: 33, 35, ...).
using FindRecord = std::function<int32_t(uint32_t& record)>;
// After a refused hold: puts the position back where the read began.
using GiveWay = std::function<void()>;

// Steps 1 to 3 of a read into the record buffer. Without a hold request: one find. With one: the
// record's byte is locked without waiting; when another process holds it the position is reset,
// the access left, and the whole read repeated, until the hold succeeds or the tick clock has
// advanced by seconds × 100 since the read began; a read that finally fails reports 43 ("Record
// Is Already Held") and clears the requests of hold and watch, and the record buffer is left
// alone. On 0 the record is held (when asked) and the caller copies it into the buffer.
int32_t read_with_hold(RecordFile& file, RecordHolds& h, const FindRecord& find,
                       const GiveWay& give_way);
// The same steps for a table layer that runs its own read loop (the read operation itself is
// repeated): try_hold is step 3's one try (0 when held or no hold was requested; 43 while another
// process holds the record; a system error); after a 43 the caller puts the position back, ends
// its access, and asks may_retry_hold (false once the deadline has passed, counted from
// `start` = tick_clock() when the read began); when it may not, give_up_hold clears the requests
// and the read reports 43. pause_before_retry (lock_retry.hpp) goes between tries.
int32_t try_hold(RecordFile& file, RecordHolds& h, uint32_t record);
bool may_retry_hold(const RecordHolds& h, uint32_t start);
void give_up_hold(RecordHolds& h);

// Step 4: the record as copied into the buffer, with its memos, for a requested watch.
void note_record_read(RecordHolds& h, std::span<const uint8_t> record_and_memos);

// PUT, step 2: when this table does not hold record `n`, locks its byte for the PUT's duration.
// 0, or 5 when another process (or another table of this process) holds it.
int32_t lock_for_put(RecordFile& file, RecordHolds& h, uint32_t n);
// PUT, step 4: 89 ("Record Changed By Another Station") when a watch is active and the stored
// record with its memos differs from the copy kept when it was read; 0 otherwise.
int32_t check_watch(const RecordHolds& h, std::span<const uint8_t> stored_and_memos);
// PUT, step 6, once the PUT's access has ended: lets go of the PUT's byte and of the held record
// (inside a transaction they are kept until COMMIT or ROLLBACK) and clears the hold and the watch.
void finish_put(RecordFile& file, RecordHolds& h);

}  // namespace vtn::tarnwell
