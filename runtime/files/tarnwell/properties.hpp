// The properties of a record-file table, of its keys and of its blobs, and the blob transfer.
//
//   GET_PROPERTY(packs, prop::kRecords)                     "12"
//   GET_PROPERTY(packs, prop::kLabel, "2")                  "PNM:NAME" (field 2)
//   GET_PROPERTY(packs.key("BY_NUMBER"), prop::kComponent, "1")   "1" (-1 when descending)
//   SET_PROPERTY(packs, prop::kFullBuild, "ON")
//   SET_BLOB_PROPERTY(docs, 1, prop::kContents, bytes)      blob 1 of the record holds `bytes`
//   SET_BLOB_PROPERTY(docs, 1, prop::kContents, "xy", "5")  bytes 5 and 6 become "xy"
//   GET_BLOB_PROPERTY(docs, 1, prop::kContents, "5:8")      bytes 5 to 8
//   BLOB_YIELD(docs, 1); BLOB_TAKE(copies, 2)               blob 2 of copies := blob 1 of docs
//
// A property is a number with an optional element (a field, component or blob number from 1, or
// a byte range "from:to" from 1, given as text). Values are texts; flags read "1" or "0". An
// element out of range reads as an empty text. A property the target does not have, or a setting
// of one that is only read, answers 80; those of the open table (records, FLAGS, the current
// record, the physical file) answer 37 on a closed file.
//
// Blob contents change in memory and reach the file with the next PUT (or ADD), like the record
// buffer. BLOB_YIELD copies a blob's contents into the thread's transfer slot and BLOB_TAKE copies
// the slot into a blob, so that a blob is assigned to another without passing through a text.
// Blob contents are not available after a NOMEMO read: reading or changing them then answers 33.
#pragma once

#include <cstdint>

#include "runtime/files/file_properties.hpp"
#include "runtime/files/tarnwell/table_block.hpp"

namespace vtn {
struct FileCall;
}

namespace vtn::tarnwell {

// The numbers, shared with the other drivers.
namespace prop = vtn::prop;

// The operations: GET_PROPERTY, SET_PROPERTY, GETPROPERTYkey, SETPROPERTYkey; BLOB_SIZE,
// BLOB_YIELD, BLOB_TAKE, BLOB_GET_PROP (sets a blob property), BLOB_SET_PROP (reads one).
int32_t op_property(TableInstance& t, FileCall& call);
int32_t op_key_property(TableInstance& t, FileCall& call);
int32_t op_blob(TableInstance& t, FileCall& call);

}  // namespace vtn::tarnwell
