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

#include "runtime/files/tarnwell/table_block.hpp"

namespace vtn {
struct FileCall;
}

namespace vtn::tarnwell {

namespace prop {
//                                       file                  key              blob
inline constexpr int32_t kName = 0x7300;           // declared name      external name    ext. name
inline constexpr int32_t kLabel = 0x7301;          // field n's label    label            label
inline constexpr int32_t kDriver = 0x7302;         // "TARNWELL"
inline constexpr int32_t kDriverOptions = 0x7303;  // DRIVER options
inline constexpr int32_t kRecords = 0x7304;        // RECORDS            entries
inline constexpr int32_t kRecordSize = 0x7305;     // record length
inline constexpr int32_t kFields = 0x7306;         // field count
inline constexpr int32_t kKeys = 0x7307;           // key count
inline constexpr int32_t kMemos = 0x7308;          // memo and blob count
inline constexpr int32_t kBlobs = 0x7309;          // blob count
inline constexpr int32_t kType = 0x730A;           // field n's type
inline constexpr int32_t kSize = 0x730B;          // field n's size                       size (set)
inline constexpr int32_t kTable = 0x730C;         // table name in the file
inline constexpr int32_t kPhysicalFile = 0x730D;  // full path of the file
inline constexpr int32_t kFullBuild = 0x730E;     // "ON"/"OFF" (set)
inline constexpr int32_t kFlags = 0x730F;         // FLAGS value (set)
inline constexpr int32_t kPointer = 0x7310;       // current record number, 0 when none
inline constexpr int32_t kComponents = 0x7311;    //                    component count
inline constexpr int32_t kComponent = 0x7312;     //                    component n's field
inline constexpr int32_t kDuplicates = 0x7313;    //                    flag
inline constexpr int32_t kNoCase = 0x7314;        //                    flag
inline constexpr int32_t kPrimary = 0x7315;       //                    flag
inline constexpr int32_t kDynamic = 0x7316;       //                    flag
inline constexpr int32_t kReady = 0x7317;         //                    index built
inline constexpr int32_t kStaleMark = 0x7318;     //                    lowest stale record
inline constexpr int32_t kContents = 0x7319;      //                                     bytes (set)
inline constexpr int32_t kBinary = 0x731A;        //                                     flag
}  // namespace prop

// The operations: GET_PROPERTY, SET_PROPERTY, GETPROPERTYkey, SETPROPERTYkey; BLOB_SIZE,
// BLOB_YIELD, BLOB_TAKE, BLOB_GET_PROP (sets a blob property), BLOB_SET_PROP (reads one).
int32_t op_property(TableInstance& t, FileCall& call);
int32_t op_key_property(TableInstance& t, FileCall& call);
int32_t op_blob(TableInstance& t, FileCall& call);

}  // namespace vtn::tarnwell
