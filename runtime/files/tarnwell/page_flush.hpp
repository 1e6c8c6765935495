// The two-phase flush of one record file.
//
// Phase 0
//   1. take the exclusive reader lock (waiting until every reader has left its access);
//   2. keep the header as it is on disk (the old header) and its end of used space (old end);
//   3. encode every dirty page and move it to the zone of its new unit size; compact the zones;
//   4. log start = the new end of used space, but not below the old end; change counter + 1;
//   5. write every dirty page: below the old end (over data the old header still describes) it
//      is appended to the page log, at or beyond it in place;
//   6. append the new header to the log (its own offset is 0);
//   7. flush; write the old header with only its log start and end replaced at offset 0; flush.
//      From here the file describes the new state through its log.
// Phase 1
//   8. write every dirty page of the log in place (the others have been there, durably, since
//      step 7) and the new header at offset 0; flush; read the header back, empty the log (log
//      start = log end = end of used space), change counter + 1, write it, flush;
//   9. release the exclusive reader lock; nothing is dirty any more.
//
// A crash before the header write of step 7 is durable leaves the old state with an empty log; a
// crash after it leaves a log that the next access applies (or reads through). Every flush of
// the protocol is needed: the first of step 7 makes the log durable before the header points at
// it, the second makes the header durable before pages are overwritten in place, the flush of
// step 8 makes the pages durable before the log is emptied, and the last one ends the flush.
//
// Any failed write or flush ends the flush with the handle's last error (5 for a short write)
// and discards the changes in memory; the next access rereads the file. A failure in phase 0
// leaves the old state: a failed header write puts back the header the disk held, and when the
// flush after the header of step 7 fails, the old header is written back (a commit over several
// files relies on a failed phase 0 changing nothing). A failure in phase 1 leaves the new state,
// through the log. Otherwise no write follows a failed one, as after a crash at that point.
#pragma once

#include <cstdint>

#include "runtime/files/tarnwell/page_store.hpp"

namespace vtn::tarnwell {

// REQUIRES: a write access. Each returns 0 or the error.
int32_t flush_phase0(PageStore& s);
int32_t flush_phase1(PageStore& s);
// After a successful phase 0 that will not be followed by phase 1: the old header, with its empty
// log, goes back to offset 0 and the changes in memory are discarded.
int32_t abandon_flush(PageStore& s);
// Both phases; 0 at once when nothing is dirty.
int32_t flush_file(PageStore& s);

// Cuts the physical file back to the end of the used space its header on disk describes (what
// lies beyond is old page log and space freed by compaction). Only a file whose log on disk is
// empty is cut, and only while every reader is out of its access (the exclusive reader lock), so
// no process can be reading through a log or a page that the cut removes; cached pages elsewhere
// stay valid, since nothing inside the used space moves. The cut is made durable before the lock
// is released; a crash before that leaves the longer file, as consistent as the shorter one.
// Changes still in memory (a file in a transaction) are not written: they will be placed by their
// flush as in any file. REQUIRES: a write access, no phase 0 waiting for its phase 1.
int32_t cut_unused_space(PageStore& s);

}  // namespace vtn::tarnwell
