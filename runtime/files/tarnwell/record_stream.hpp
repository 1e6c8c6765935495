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

#include <cstdint>
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

// Unsigned bytes over the shorter key; on a tie the shorter key first. <0, 0 or >0.
int compare_keys(std::span<const uint8_t> a, std::span<const uint8_t> b);

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

// Decodes exactly `count` records that must fill `stream` to its last byte (check 1602
// otherwise, and for any length that runs outside the stream or a key longer than its record).
std::vector<Record> decode_record_stream(std::span<const uint8_t> stream, size_t count);

}  // namespace vtn::tarnwell
