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
// in place, without a call, as big-endian words (which order as their bytes do). The common
// bytes are read eight at a time, the last word overlapping the one before it; fewer than eight
// as two overlapping four-byte halves (or three single bytes), so that no key is read byte by
// byte. Overlapping reads keep the order: the first differing byte is the first one they see.
inline int compare_keys(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const uint8_t* p = a.data();
  const uint8_t* q = b.data();
  auto be64 = [](const uint8_t* at) {
    uint64_t v;
    std::memcpy(&v, at, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  };
  auto be32 = [](const uint8_t* at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return uint64_t{v};
  };
  uint64_t x = 0, y = 0;
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) {
      x = be64(p + i);
      y = be64(q + i);
      if (x != y) return x < y ? -1 : 1;
    }
    x = be64(p + n - 8);
    y = be64(q + n - 8);
  } else if (n >= 4) {
    x = be32(p) << 32 | be32(p + n - 4);
    y = be32(q) << 32 | be32(q + n - 4);
  } else if (n > 0) {
    x = uint64_t{p[0]} << 16 | uint64_t{p[n / 2]} << 8 | p[n - 1];
    y = uint64_t{q[0]} << 16 | uint64_t{q[n / 2]} << 8 | q[n - 1];
  }
  if (x != y) return x < y ? -1 : 1;
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

class PageRecords;

// Writes `records` (in key order) at `out` as one stream, each as put_record writes it after the
// one before, and returns the end: at most live_bytes() + kMaxRecordOverhead per record.
uint8_t* put_records(uint8_t* out, const PageRecords& records);

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
// otherwise, and for any length that runs outside the stream or a key longer than its record),
// replacing the contents of `out`. `bytes_hint`: the records' total length, if known.
void decode_record_stream(std::span<const uint8_t> stream, size_t count, PageRecords& out,
                          size_t bytes_hint = 0);
// The same, one Record each.
std::vector<Record> decode_record_stream(std::span<const uint8_t> stream, size_t count);

}  // namespace vtn::tarnwell
