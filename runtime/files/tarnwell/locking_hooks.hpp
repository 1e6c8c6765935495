// The places where the locking layer (holds, watches, table locks, transactions) joins the table
// operations. The table layer calls these at the points the locking rules name; each says what
// it must do once the locking layer fills it in.
//
// Today HOLD, WATCH, LOCK and the transaction operations answer 80 (tarnwell_driver.cpp), so no
// hold or watch is ever requested and these hooks only keep the table's flags straight. The
// access hooks are whole: every operation runs inside an access of its physical file.
#pragma once

#include <cstdint>

#include "runtime/files/tarnwell/table_block.hpp"

namespace vtn::tarnwell {

// Access around one operation. A writing operation first ends any read access and switches to
// write mode; after it the access ends (flushing), unless the file is in a transaction.
int32_t begin_operation_access(TableInstance& t, bool write);
int32_t end_operation_access(TableInstance& t);

// Reading a record: releases the previous hold and clears the watch (release_hold); takes the
// hold on `record` when one is requested (take_hold: 0, or 43 when another process holds it);
// keeps the copy for a requested watch (start_watch).
void release_hold(TableInstance& t);
int32_t take_hold(TableInstance& t, uint32_t record);
void start_watch(TableInstance& t);

// PUT and DELETE: the record's hold byte for the duration of the change when this table does not
// hold it (5 when another process does); the watch check against the stored record (89 when
// another station changed it); and the release at the end.
int32_t lock_for_put(TableInstance& t, uint32_t record);
int32_t check_watch(TableInstance& t, const Bytes& stored);
void unlock_after_put(TableInstance& t, uint32_t record);

}  // namespace vtn::tarnwell
