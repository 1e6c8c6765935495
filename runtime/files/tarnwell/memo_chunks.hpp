// Memo and blob contents, and the chunk records that hold them.
//
// Memo m of record r of table t is kept in kind 0xFC records keyed t, FC, r, m, sequence (high
// byte first), each holding up to 256 bytes. A text memo keeps its contents up to the last
// character that is not a space; an empty text memo has no chunk at all. A blob keeps its exact
// contents, its first chunk beginning with the total length (4 bytes, little-endian). When the
// file has the OEM attribute, text memos that are not binary are kept in the OEM code page.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

struct MemoFormat {
  bool blob = false;
  bool binary = false;
  bool oem_file = false;  // the file has the OEM attribute

  bool converts_text() const { return oem_file && !blob && !binary; }
};

// Chunk sequence numbers are 16-bit: a memo keeps at most 65,536 chunks of 256 bytes, 16 MiB of
// contents (a blob's first chunk carries the length besides its 256 bytes).
inline constexpr size_t kMaxMemoChunks = 0x10000;
inline constexpr size_t kMaxMemoContents = kMaxMemoChunks * kMemoChunkSize;

// Whether `contents` (as passed to memo_chunk_records) can be kept: a text memo's contents
// without trailing spaces, or a blob's contents, of at most kMaxMemoContents bytes. The driver
// refuses a memo that does not fit before it changes anything.
bool memo_fits(std::span<const uint8_t> contents, const MemoFormat& format);

// The chunk records for memo `memo_number` holding `contents` (the memo's buffer: for a text
// memo its whole declared size, for a blob its contents). Contents that do not fit (memo_fits)
// would need a sequence number twice: check 824, like any other record too long to keep.
std::vector<Record> memo_chunk_records(const Number& table, const Number& record,
                                       uint8_t memo_number, std::span<const uint8_t> contents,
                                       const MemoFormat& format);

// The contents back from a memo's chunk records, in any order: a text memo without its trailing
// spaces (the caller pads its buffer), a blob exactly. Nothing when a chunk is missing, of another
// memo, or too long, or when a blob's length disagrees with its chunks.
std::optional<std::vector<uint8_t>> read_memo_contents(std::span<const Record> chunks,
                                                       const MemoFormat& format);

}  // namespace vtn::tarnwell
