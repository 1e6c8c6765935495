#include "runtime/files/tarnwell/page_image.hpp"

#include <algorithm>
#include <cassert>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/run_length.hpp"

namespace vtn::tarnwell {
namespace {

constexpr size_t kOwnOffsetAt = 0;
constexpr size_t kStoredLengthAt = 4;
constexpr size_t kExpandedLengthAt = 6;
constexpr size_t kCapacityAt = 8;
constexpr size_t kCountAt = 10;
constexpr size_t kLevelAt = 12;

constexpr int32_t kCheckWrongUnitSize = 1477;
constexpr int32_t kCheckRecordsMisfit = 1602;
constexpr int32_t kCheckOverCapacity = 1659;
constexpr int32_t kCheckImageTooLong = 1678;

size_t round_up_unit(size_t n) {
  return (n + kUnitSize - 1) / kUnitSize * kUnitSize;
}

}  // namespace

size_t page_capacity(const PackedPage& page) {
  const size_t n = page.records.size();
  return kPageHeaderSize + (page.is_index() ? 4 * n : 0) + 5 * n + page.records.live_bytes();
}

size_t page_capacity(const PageContents& page) {
  size_t capacity = kPageHeaderSize;
  if (page.is_index()) capacity += 4 * page.records.size();
  for (const Record& r : page.records) capacity += r.bytes.size() + 5;
  return capacity;
}

std::vector<uint8_t> encode_page(int32_t page_number, const PackedPage& page) {
  const PageRecords& records = page.records;
  assert(!page.is_index() || page.children.size() == records.size());
  const size_t capacity = page_capacity(page);
  if (capacity > 0xFFFF || records.size() > 0xFFFF) raise_internal_error(kCheckImageTooLong);
  const size_t header = kPageHeaderSize + (page.is_index() ? 4 * records.size() : 0);

  // The plain page and its compressed body are built in buffers kept per thread (a page is at
  // most 64 KiB expanded, its records at most 5 bytes longer in the stream than in memory, as the
  // capacity counts them); only the image returned is allocated, once, at its final length.
  thread_local std::vector<uint8_t> plain(0x10000);
  thread_local std::vector<uint8_t> packed(rle_compress_bound(0x10000));
  uint8_t* const p = plain.data();
  for (size_t i = 0; page.is_index() && i < page.children.size(); ++i) {
    store_le32(p + kPageHeaderSize + 4 * i, static_cast<uint32_t>(page.children[i]));
  }
  const uint8_t* end = put_records(p + header, records);
  const size_t expanded = static_cast<size_t>(end - p);
  assert(expanded <= capacity);

  // A page of one unit cannot get shorter.
  const size_t packed_length =
      round_up_unit(expanded) > kUnitSize
          ? rle_compress_into({p + header, expanded - header}, packed.data())
          : 0;
  const bool compressed =
      packed_length != 0 && round_up_unit(header + packed_length) < round_up_unit(expanded);
  const size_t stored = compressed ? header + packed_length : expanded;
  const size_t rounded = round_up_unit(stored);
  if (rounded > kMaxPageImage) raise_internal_error(kCheckImageTooLong);

  std::vector<uint8_t> image;
  image.reserve(rounded);
  image.insert(image.end(), p, p + header);
  const uint8_t* body = compressed ? packed.data() : p + header;
  image.insert(image.end(), body, body + (stored - header));
  image.resize(rounded, kPagePadding);

  set_page_number(image, page_number);
  store_le16(image.data() + kStoredLengthAt, static_cast<uint16_t>(stored));
  store_le16(image.data() + kExpandedLengthAt, static_cast<uint16_t>(expanded));
  store_le16(image.data() + kCapacityAt, static_cast<uint16_t>(capacity));
  store_le16(image.data() + kCountAt, static_cast<uint16_t>(records.size()));
  image[kLevelAt] = page.level;
  return image;
}

std::vector<uint8_t> encode_page(int32_t page_number, const PageContents& page) {
  PackedPage packed;
  packed.level = page.level;
  packed.children = page.children;
  for (const Record& r : page.records) packed.records.append(RecordRef{r.bytes, r.key_length});
  return encode_page(page_number, packed);
}

void set_page_number(std::span<uint8_t> image, int32_t page_number) {
  assert(image.size() >= 4);
  store_le32(image.data() + kOwnOffsetAt, static_cast<uint32_t>(page_offset(page_number)));
}

size_t rounded_stored_length(std::span<const uint8_t> image_start) {
  if (image_start.size() < kStoredLengthAt + 2) return 0;
  return round_up_unit(load_le16(image_start.data() + kStoredLengthAt));
}

void decode_page(std::span<const uint8_t> image, int unit_size, PackedPage& page) {
  const size_t expected = static_cast<size_t>(unit_size) * kUnitSize;
  if (unit_size < 1 || unit_size > kMaxUnits || image.size() != expected ||
      rounded_stored_length(image) != expected) {
    raise_internal_error(kCheckWrongUnitSize);
  }
  const uint8_t* p = image.data();
  const size_t stored = load_le16(p + kStoredLengthAt);
  const size_t expanded = load_le16(p + kExpandedLengthAt);
  const size_t capacity = load_le16(p + kCapacityAt);
  const size_t count = load_le16(p + kCountAt);
  page.level = p[kLevelAt];
  page.children.clear();
  if (expanded > capacity) raise_internal_error(kCheckOverCapacity);
  const size_t header = kPageHeaderSize + (page.is_index() ? 4 * count : 0);
  if (stored < header || expanded < stored) raise_internal_error(kCheckRecordsMisfit);

  if (page.is_index()) {
    page.children.resize(count);
    for (size_t i = 0; i < count; ++i) {
      page.children[i] = static_cast<int32_t>(load_le32(p + kPageHeaderSize + 4 * i));
    }
  }
  std::span<const uint8_t> body = image.subspan(header, stored - header);
  // Expanded pages are at most 64 KiB: the buffer for one is kept per thread, not made per page.
  thread_local std::vector<uint8_t> expanded_body;
  if (stored < expanded) {
    expanded_body.resize(expanded - header);
    rle_expand(body, expanded_body);
    body = expanded_body;
  }
  // What the records occupy follows from the capacity (13, + 4 and + 5 per record): the buffer
  // is allocated once. A capacity that does not add up only costs a reallocation.
  const size_t overhead = header + 5 * count;
  decode_record_stream(body, count, page.records, capacity > overhead ? capacity - overhead : 0);
}

PageContents decode_page(std::span<const uint8_t> image, int unit_size) {
  PackedPage packed;
  decode_page(image, unit_size, packed);
  PageContents page;
  page.level = packed.level;
  page.children = std::move(packed.children);
  page.records.resize(packed.records.size());
  for (size_t i = 0; i < packed.records.size(); ++i) {
    page.records[i].bytes.assign(packed.records[i].bytes.begin(), packed.records[i].bytes.end());
    page.records[i].key_length = packed.records[i].key_length;
  }
  return page;
}

}  // namespace vtn::tarnwell
