// Bringing the header up to date at the start of an access, and recovering the page log.
//
// The header at offset 0 is looked at in every access of a shared file (only while the copy in
// memory is invalid for an exclusively opened one). While its bytes are the ones this process last
// read or wrote, or its change counter and page log are still the ones it knows, the cached pages
// are current and nothing else happens. Otherwise the cache goes,
// and if the header names a non-empty page log, a flush was interrupted after its log became
// durable: the log is walked (each image's own offset and rounded length), and the header image
// found in it for offset 0 becomes the current header.
//
//   log start                                                      log end
//   | page image | page image | ... | header image (own offset 0) |
//
// The log is abandoned (the file keeps its old state) when it cannot be walked (an image running
// past the log's end, an image aimed into the log itself or at no page, no header image, an
// unreadable block), or when the state it describes holds a pending-transaction record whose
// transaction the installed check says is still listed in its control file. Otherwise a reader
// reads through it (pages found in the mapping come from the log) and a writer applies it: every
// image is copied to its own offset, the copies are made durable, and the log is emptied (log
// start = log end = end of used space, change counter + 1, header written and made durable). An
// abandoned log is emptied the same way by the next writer.
#pragma once

#include <cstdint>

#include "runtime/files/tarnwell/page_store.hpp"

namespace vtn::tarnwell {

// Returns 0, 36 (the header on disk is not a record file's) or a system error.
int32_t bring_header_up_to_date(PageStore& s, AccessMode mode);
// The same, once the caller found the header invalid or its bytes on disk changed: reads and
// decodes the header, and keeps the cache only when the counter and the log are still the ones
// this process knows.
int32_t reread_header(PageStore& s, AccessMode mode);

// Walks the log that `h` names. false when it cannot be walked (see above); otherwise fills
// s.log_images and s.log_map and reads the header image of the log into `logged`.
bool walk_page_log(PageStore& s, const FileHeader& h, FileHeader& logged);

}  // namespace vtn::tarnwell
