// Table locks: LOCK, LOCKfilesec and UNLOCK of a whole table.
//
// The lock of table n is the byte 0x80000000 + 1,024 + n + 1, the same range as the record holds
// (tables and records take their numbers from one counter, so the bytes never clash). It is taken
// without waiting; while another process (or another table of this process) has it, LOCK reports
// 32 ("File Is Already Locked"). The waiting forms only retry:
//   LOCKfile      retries at once, without end (yielding the processor between tries, then
//                 sleeping a millisecond between tries; see lock_retry.hpp);
//   LOCKfilesec   after a refusal waits one second, by watching the tick clock, and retries, until
//                 the tick clock has reached its value at the start plus seconds × 100; then
//                 reports the last result.
// A file opened exclusively takes no locks: LOCK always succeeds.
#pragma once

#include <cstdint>

namespace vtn::tarnwell {

class RecordFile;

inline constexpr int32_t kLockForever = -1;

// `seconds`: kLockForever for LOCKfile, otherwise LOCKfilesec's limit. 0, 32 or a system error.
int32_t lock_table(RecordFile& file, uint32_t table, int32_t seconds);
// UNLOCK. 0, or a system error (158 when the table was not locked by this table's file handle).
int32_t unlock_table(RecordFile& file, uint32_t table);

}  // namespace vtn::tarnwell
