// Transactions over several record files: LOGOUT, COMMIT and ROLLBACK.
//
// The process has at most one transaction. LOGOUT adds files to it: each takes its write access
// (and with it the writer byte, so no other process writes it until the transaction ends) and
// from then on its changes accumulate in memory, its flushes doing nothing. The transaction also
// gathers the control file of each participating file's directory (control_file.hpp), or uses the
// one explicit control file set through SEND "TCF".
//
// COMMIT makes the changes of every participating file durable, all or none, through crashes:
//
//   one dirty file      a plain flush of that file (its own page log makes it atomic); no
//                       control file is opened.
//   several dirty files
//     1. the transaction number (the date-and-time stamp, +1 until no control file lists it) is
//        listed durably in every control file                       -- not committed
//     2. each dirty file, in the order it joined: its pending-transaction record names the number
//        and the control file, then phase 0 of its flush: the page log is written and the header
//        points at it durably
//     3. the number is unlisted from every control file            -- committed
//     4. phase 1 of every file: pages in place, log emptied
//   A crash before 3 leaves every file's log naming a listed transaction: whoever opens the file
//   next abandons the log (old state). A crash after 3: the logs are applied (new state). When
//   phase 0 of a file fails, the files handled before it get their logs reset at once, the others
//   drop their changes, and the number is unlisted: no file changes on disk.
//
//   The decision for every file rests on one control file: with several directories (several
//   control files) every pending-transaction record names the first control file by its full
//   name, and that file is unlisted first. So a crash between two unlistings cannot leave one
//   directory committed and the other not.
//
// ROLLBACK drops the changes of every participating file.
//
// After COMMIT or ROLLBACK every participating file has ended its write access (its writer byte is
// free again) and every record hold kept for the transaction (record_holds.hpp) is released.
//
// The state is the process's own (one transaction per process); it is used by one thread at a
// time, as are the record files themselves. Files of the transaction are kept open (one use each)
// until it ends, so closing a table in the middle does not lose them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vtn::tarnwell {

class RecordFile;

inline constexpr size_t kMaxControlFiles = 100;
inline constexpr int32_t kCheckTooManyControlFiles = 2183;

// SEND "TCF": the explicit control file name; an empty name returns to the default (one control
// file per directory).
void set_explicit_control_file_name(std::string name);
const std::string& explicit_control_file_name();

// LOGOUT of the files named. Each file not yet in the transaction joins it and takes its write
// access (waiting for it); the accesses are taken in order of full names, so that two processes
// logging out the same files together never wait for each other in a circle. A 101st control
// file raises check 2183 before the file joins. Returns 0 or the error of the first access that
// failed (files before it stay in the transaction).
int32_t logout(std::span<RecordFile* const> files);
inline int32_t logout(RecordFile& file) {
  RecordFile* one[] = {&file};
  return logout(one);
}

// COMMIT of the transaction (see top). `caller` is accepted for the driver's sake and may be null:
// every participating file ends its write access anyway. Returns the first error met, 0 when all
// went well; with no transaction, does nothing and returns 0.
int32_t commit();
// ROLLBACK: every participating file drops its changes. Returns 0.
int32_t rollback();

// FLUSH: writes the file's changes now (nothing inside a transaction, whose changes wait for
// COMMIT) and ends its write access unless a transaction keeps it. 0 or the flush's error.
int32_t flush_now(RecordFile& file);

// A record hold that must outlast the current PUT because the changed record is not visible to
// other processes before COMMIT: released when the transaction ends.
void keep_hold_until_transaction_end(RecordFile& file, uint32_t n);
// Whether the transaction keeps the hold byte of `n` in `file` (this process holds it already).
bool transaction_keeps_hold(const RecordFile& file, uint32_t n);

// What the transaction holds now (for the driver's trace and for tests).
bool transaction_open();
std::vector<std::string> transaction_files();
std::vector<std::string> transaction_control_files();

// Installs the recovery decision for pending page logs of files that took part in a transaction
// (set_pending_transaction_check). The driver calls it before it opens its first file.
void install_transaction_recovery();

// The run-time's date-and-time stamp: hundredths of a second since the start of the date serials
// (day 0), modulo 2^32: unique for over a year at the resolution of the local clock.
uint32_t date_time_stamp();
// Replaces the stamp's source (tests make two transactions start in the same tick); an empty
// function restores the clock. Either way the numbers start a new sequence.
void set_stamp_source(std::function<uint32_t()> source);

}  // namespace vtn::tarnwell
