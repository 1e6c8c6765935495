// The page image: how one page of the record tree is stored.
//
//   offset  width  field
//   0       4      own file offset (0x200 + page number * 0x100); the page log finds images by it
//   4       2      stored length: bytes of the image that carry data, header included
//   6       2      expanded length: the page decompressed, header included
//   8       2      capacity: 13, + 4 per record on an index page, + (length + 5) per record
//   10      2      record count N
//   12      1      level: 0 leaf, > 0 index
//   13      4 x N  index pages only: each record's child page number, in record order
//   ...            the record stream, run-length compressed when stored < expanded
//   ...            0xB0 up to the next multiple of 256 (the page's unit size x 256)
// All integers little-endian.
//
// Invariants: expanded length <= capacity (check 1659); the records end exactly at the expanded
// length (1602); the rounded stored length is the unit size of the page's zone (1477); no image
// is longer than 15,104 bytes (1678).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/page_records.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

inline constexpr size_t kPageHeaderSize = 13;
inline constexpr uint8_t kPagePadding = 0xB0;

// A page as the page store holds it: its records packed into one buffer.
struct PackedPage {
  uint8_t level = 0;
  PageRecords records;            // in key order
  std::vector<int32_t> children;  // index pages: one per record

  bool is_index() const { return level > 0; }
  bool operator==(const PackedPage&) const = default;
};

// The same page with one Record each: the form for building pages by hand.
struct PageContents {
  uint8_t level = 0;
  std::vector<int32_t> children;  // index pages: one per record
  std::vector<Record> records;    // in key order

  bool is_index() const { return level > 0; }
  bool operator==(const PageContents&) const = default;
};

// 13, plus 4 per record of an index page, plus (record length + 5) per record.
size_t page_capacity(const PackedPage& page);
size_t page_capacity(const PageContents& page);

// Encodes the page: compressed when that makes its rounded length smaller, else plain, padded
// to a multiple of 256. Check 1678 when the image exceeds 15,104 bytes.
// REQUIRES: an index page has one child per record; records are in key order.
std::vector<uint8_t> encode_page(int32_t page_number, const PackedPage& page);
std::vector<uint8_t> encode_page(int32_t page_number, const PageContents& page);

// Writes a page's own offset into its image (a page moved to another number).
void set_page_number(std::span<uint8_t> image, int32_t page_number);

// Bytes of the image read so far that the page needs in all (its rounded stored length); 0 when
// `image_start` is shorter than the header's first 6 bytes.
size_t rounded_stored_length(std::span<const uint8_t> image_start);

// Decodes an image read at a page of `unit_size` units (image.size() == unit_size * 256) into
// `out`. Checks 1477, 1602, 1659, 522, 530 as above.
void decode_page(std::span<const uint8_t> image, int unit_size, PackedPage& out);
PageContents decode_page(std::span<const uint8_t> image, int unit_size);

}  // namespace vtn::tarnwell
