// The 512-byte header at the start of every record file, and the page space it describes.
//
//   offset  width  field
//   0x000   4      own offset: 0 (the header has the shape of a page image)
//   0x004   2      size of this image: 0x200
//   0x006   4      log start: file offset of the first image in the page log
//   0x00A   4      log end: just past the last image of the log (== log start: empty)
//   0x00E   4      signature "tArN" (0x4E724174 little-endian)
//   0x012   2      zero in a new file; carried unchanged
//   0x014   4      last number given out, big-endian (tables and records share it)
//   0x018   4      change counter: +1 at every completed flush
//   0x01C   4      root page number (-1: not placed yet; 0 in a header never written)
//   0x020   60x4   zone start[i], i = 1..59 (entry 0 unused)
//   0x110   60x4   zone end[i]
//   0x200          (end)
// All integers little-endian except the last number given out.
//
// Page number p lies at file offset 0x200 + p * 0x100. A page of zone i is i units of 256 bytes
// long; the pages of zone i fill [start[i], end[i]) in steps of i, and zones lie in the file in
// increasing order of i, possibly with free gaps between them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vtn::tarnwell {

inline constexpr uint32_t kHeaderSize = 0x200;
inline constexpr uint32_t kUnitSize = 0x100;
inline constexpr int kMaxUnits = 59;
inline constexpr uint32_t kMaxPageImage = kMaxUnits * kUnitSize;  // 15,104 bytes
inline constexpr uint32_t kSignature = 0x4E724174;                // "tArN"
inline constexpr int32_t kNotAFile = 36;                          // error: Invalid Data File

using Number = std::array<uint8_t, 4>;  // a table or record number, as stored (big-endian)

struct FileHeader {
  uint32_t own_offset = 0;
  uint16_t image_size = kHeaderSize;
  uint32_t log_start = 0;
  uint32_t log_end = 0;
  uint32_t signature = kSignature;
  uint16_t reserved = 0;
  Number last_number = {};
  uint32_t change_counter = 0;
  int32_t root_page = 0;
  std::array<int32_t, kMaxUnits + 1> zone_start = {};
  std::array<int32_t, kMaxUnits + 1> zone_end = {};

  bool operator==(const FileHeader&) const = default;
};

// The header of a new, empty file: signature and own size set, everything else zero.
inline FileHeader new_file_header() {
  return FileHeader{};
}

void encode_header(const FileHeader& header, std::span<uint8_t, kHeaderSize> out);

// Reads the header from the first bytes of a file. No bytes at all make a new file. Returns 0,
// or kNotAFile (36) when there are fewer than 512 bytes or the signature differs.
int32_t decode_header(std::span<const uint8_t> file_start, FileHeader& out);

inline int64_t page_offset(int32_t page) {
  return int64_t{kHeaderSize} + int64_t{page} * kUnitSize;
}

// The unit size (1..59) of the zone holding `page`. Check 1735 when no zone holds it.
int unit_size_of_page(const FileHeader& header, int32_t page);

// Whether the zone table can describe a file: every zone i starts at or after the end of zone
// i - 1 (zone 1 at or after page 0) and holds a whole number of i-unit pages. A header read from
// a damaged file may fail this; the zone questions below still answer without harm.
bool zones_well_formed(const FileHeader& header);

// 0x200 + end[k] * 0x100 for the highest k whose zone is not empty; 0x200 (page 0) when every
// zone is empty. Entry 0 of the zone tables is never read: the format leaves it unused, and a
// damaged or foreign header may hold anything there.
int64_t end_of_used_space(const FileHeader& header);

// Whether a header read from disk describes something the page store can work on in a file of
// `file_size` bytes: zones well formed and ending within the file; a root page at the start of a
// page of some zone (or no tree yet: root 0 in a file never written, or -1); a page log, when not
// empty, in whole 64-byte blocks within the file and at or beyond the end of used space.
bool header_well_formed(const FileHeader& header, uint64_t file_size);

// Increments the big-endian number (byte 3 first, carrying upward) and returns the new value.
// Check 1173, leaving `number` unchanged, when the first byte would reach 0xFE: those first bytes
// belong to the table-name and pending-transaction records.
Number next_number(Number& number);

inline uint32_t number_value(const Number& n) {
  return (uint32_t{n[0]} << 24) | (uint32_t{n[1]} << 16) | (uint32_t{n[2]} << 8) | n[3];
}
inline Number number_from_value(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

}  // namespace vtn::tarnwell
