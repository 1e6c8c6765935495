#include "runtime/files/tarnwell/record_stream.hpp"

#include <algorithm>
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

}  // namespace

void RecordStreamWriter::add(std::span<const uint8_t> bytes, uint16_t key_length) {
  assert(key_length <= bytes.size() && bytes.size() <= 0xFFFF);
  const uint16_t length = static_cast<uint16_t>(bytes.size());
  uint8_t flag = 0;
  size_t shared = 0;
  if (first_) {
    flag = kHasRecordLength | kHasKeyLength;
  } else {
    const size_t limit = std::min({previous_.size(), bytes.size(), kMaxSharedPrefix});
    while (shared < limit && previous_[shared] == bytes[shared]) ++shared;
    if (length != previous_.size()) flag |= kHasRecordLength;
    if (key_length != previous_key_length_) flag |= kHasKeyLength;
  }
  out_.push_back(static_cast<uint8_t>(flag | shared));
  uint8_t word[2];
  if (flag & kHasRecordLength) {
    store_le16(word, length);
    out_.insert(out_.end(), word, word + 2);
  }
  if (flag & kHasKeyLength) {
    store_le16(word, key_length);
    out_.insert(out_.end(), word, word + 2);
  }
  out_.insert(out_.end(), bytes.begin() + static_cast<ptrdiff_t>(shared), bytes.end());
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
