#include "runtime/files/tarnwell/record_stream.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_records.hpp"

namespace vtn::tarnwell {
namespace {

constexpr uint8_t kHasRecordLength = 0x80;
constexpr uint8_t kHasKeyLength = 0x40;
constexpr uint8_t kSharedMask = 0x3F;
constexpr int32_t kCheckRecordsMisfit = 1602;

// Bytes `a` and `b` have in common from their start, at most `limit`: eight at a time, the first
// differing byte found as the lowest set bit of the two words' difference.
size_t shared_prefix(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t shared = 0;
  for (; shared + 8 <= limit; shared += 8) {
    const uint64_t differ = load_le64(a + shared) ^ load_le64(b + shared);
    if (differ == 0) continue;
    return shared + static_cast<size_t>(std::countr_zero(differ)) / 8;
  }
  while (shared < limit && a[shared] == b[shared]) ++shared;
  return shared;
}

[[gnu::always_inline]] inline uint8_t* put_one(uint8_t* out, std::span<const uint8_t> bytes,
                                               uint16_t key_length, const RecordRef* previous) {
  assert(key_length <= bytes.size() && bytes.size() <= 0xFFFF);
  const uint16_t length = static_cast<uint16_t>(bytes.size());
  uint8_t flag = kHasRecordLength | kHasKeyLength;
  size_t shared = 0;
  if (previous != nullptr) {
    const size_t limit = std::min({previous->bytes.size(), bytes.size(), kMaxSharedPrefix});
    shared = shared_prefix(previous->bytes.data(), bytes.data(), limit);
    flag = 0;
    if (length != previous->bytes.size()) flag |= kHasRecordLength;
    if (key_length != previous->key_length) flag |= kHasKeyLength;
  }
  *out++ = static_cast<uint8_t>(flag | shared);
  if (flag & kHasRecordLength) {
    store_le16(out, length);
    out += 2;
  }
  if (flag & kHasKeyLength) {
    store_le16(out, key_length);
    out += 2;
  }
  const size_t rest = bytes.size() - shared;
  if (rest) std::memcpy(out, bytes.data() + shared, rest);
  return out + rest;
}

}  // namespace

uint8_t* put_record(uint8_t* out, std::span<const uint8_t> bytes, uint16_t key_length,
                    const RecordRef* previous) {
  return put_one(out, bytes, key_length, previous);
}

uint8_t* put_records(uint8_t* out, const PageRecords& records) {
  RecordRef previous;
  for (size_t i = 0; i < records.size(); ++i) {
    const RecordRef record = records[i];
    out = put_one(out, record.bytes, record.key_length, i ? &previous : nullptr);
    previous = record;
  }
  return out;
}

void RecordStreamWriter::add(std::span<const uint8_t> bytes, uint16_t key_length) {
  const size_t at = out_.size();
  out_.resize(at + bytes.size() + kMaxRecordOverhead);
  const RecordRef previous{previous_, previous_key_length_};
  const uint8_t* end =
      put_record(out_.data() + at, bytes, key_length, first_ ? nullptr : &previous);
  out_.resize(static_cast<size_t>(end - out_.data()));
  previous_.assign(bytes.begin(), bytes.end());
  previous_key_length_ = key_length;
  first_ = false;
}

void decode_record_stream(std::span<const uint8_t> in, size_t count, PageRecords& out,
                          size_t bytes_hint) {
  out.clear();
  // Every record takes at least its flag byte: a count beyond that cannot fit.
  if (count > in.size()) raise_internal_error(kCheckRecordsMisfit);
  out.reserve(count, std::min<size_t>(bytes_hint, 0xFFFF));
  size_t pos = 0;
  uint16_t length = 0;
  uint16_t key_length = 0;
  for (size_t r = 0; r < count; ++r) {
    if (pos >= in.size()) raise_internal_error(kCheckRecordsMisfit);
    const uint8_t flag = in[pos++];
    const size_t shared = flag & kSharedMask;
    const bool has_length = flag & kHasRecordLength;
    const bool has_key_length = flag & kHasKeyLength;
    if (r == 0 && (!has_length || !has_key_length || shared != 0)) {
      raise_internal_error(kCheckRecordsMisfit);
    }
    if (has_length) {
      if (in.size() - pos < 2) raise_internal_error(kCheckRecordsMisfit);
      length = load_le16(in.data() + pos);
      pos += 2;
    }
    if (has_key_length) {
      if (in.size() - pos < 2) raise_internal_error(kCheckRecordsMisfit);
      key_length = load_le16(in.data() + pos);
      pos += 2;
    }
    if (key_length > length || shared > length || (r != 0 && shared > out[r - 1].bytes.size())) {
      raise_internal_error(kCheckRecordsMisfit);
    }
    const size_t rest = length - shared;
    if (in.size() - pos < rest) raise_internal_error(kCheckRecordsMisfit);
    uint8_t* record = out.append_uninitialised(length, key_length);
    // The record before is found again: appending may have moved the buffer.
    if (shared) std::memcpy(record, out[r - 1].bytes.data(), shared);
    if (rest) std::memcpy(record + shared, in.data() + pos, rest);
    pos += rest;
  }
  if (pos != in.size()) raise_internal_error(kCheckRecordsMisfit);
}

std::vector<Record> decode_record_stream(std::span<const uint8_t> in, size_t count) {
  PageRecords packed;
  decode_record_stream(in, count, packed);
  std::vector<Record> records(packed.size());
  for (size_t i = 0; i < packed.size(); ++i) {
    records[i].bytes.assign(packed[i].bytes.begin(), packed[i].bytes.end());
    records[i].key_length = packed[i].key_length;
  }
  return records;
}

}  // namespace vtn::tarnwell
