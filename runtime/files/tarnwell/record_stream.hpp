// Records and the in-page record stream.
//
// A record is a byte string: a key part followed by a data part. Records are ordered by their
// key parts alone (compare_keys); no two records of a file have equal key parts.
//
// In a page the records follow each other in key order, each stored as
//   flag byte   0x80: a record length follows; 0x40: a key length follows;
//               0x3F: bytes shared with the previous record (0..63)
//   [u16 LE]    record length (key part + data part), when 0x80; else the previous record's
//   [u16 LE]    key length, when 0x40; else the previous record's
//   bytes       the record after the shared bytes
// The first record of a page carries both lengths and shares nothing.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace vtn::tarnwell {

inline constexpr size_t kMaxSharedPrefix = 63;

struct Record {
  std::vector<uint8_t> bytes;  // key part, then data part
  uint16_t key_length = 0;

  std::span<const uint8_t> key() const { return std::span(bytes).first(key_length); }
  std::span<const uint8_t> data() const { return std::span(bytes).subspan(key_length); }
  bool operator==(const Record&) const = default;
};

// A record seen where it is stored (a page's buffer): key part, then data part.
struct RecordRef {
  std::span<const uint8_t> bytes;
  uint16_t key_length = 0;

  std::span<const uint8_t> key() const { return bytes.first(key_length); }
  std::span<const uint8_t> data() const { return bytes.subspan(key_length); }
};

// Unsigned bytes over the shorter key; on a tie the shorter key first. <0, 0 or >0.
// Keys are mostly a dozen bytes or so and every search compares many of them: they are compared
// eight bytes at a time in place, without a call.
inline int compare_keys(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);  // as big-endian numbers, words order as their bytes do
        y = __builtin_bswap64(y);
      }
      return x < y ? -1 : 1;
    }
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Whether `key` begins with `prefix`. The keys that do follow each other in key order, from
// the first at or after `prefix`.
inline bool key_starts_with(std::span<const uint8_t> key, std::span<const uint8_t> prefix) {
  return key.size() >= prefix.size() &&
         (prefix.empty() || std::memcmp(key.data(), prefix.data(), prefix.size()) == 0);
}

// The most bytes one record of `length` bytes takes in a stream: flag, two lengths, the bytes.
inline constexpr size_t kMaxRecordOverhead = 5;

// Writes the record `bytes` (key part `key_length` bytes) at `out` as it follows `previous` in a
// stream (nullptr: it is the first of its page) and returns the end of what it wrote, at most
// bytes.size() + kMaxRecordOverhead bytes. REQUIRES: key_length <= bytes.size() <= 0xFFFF.
uint8_t* put_record(uint8_t* out, std::span<const uint8_t> bytes, uint16_t key_length,
                    const RecordRef* previous);

// Builds a record stream. The caller adds records in key order.
class RecordStreamWriter {
 public:
  explicit RecordStreamWriter(std::vector<uint8_t>& out) : out_(out) {}
  RecordStreamWriter(const RecordStreamWriter&) = delete;
  RecordStreamWriter& operator=(const RecordStreamWriter&) = delete;

  // REQUIRES: key_length <= bytes.size() <= 0xFFFF.
  void add(std::span<const uint8_t> bytes, uint16_t key_length);

 private:
  std::vector<uint8_t>& out_;
  std::vector<uint8_t> previous_;
  uint16_t previous_key_length_ = 0;
  bool first_ = true;
};

class PageRecords;

// Decodes exactly `count` records that must fill `stream` to its last byte (check 1602
// otherwise, and for any length that runs outside the stream or a key longer than its record),
// replacing the contents of `out`. `bytes_hint`: the records' total length, if known.
void decode_record_stream(std::span<const uint8_t> stream, size_t count, PageRecords& out,
                          size_t bytes_hint = 0);
// The same, one Record each.
std::vector<Record> decode_record_stream(std::span<const uint8_t> stream, size_t count);

}  // namespace vtn::tarnwell
