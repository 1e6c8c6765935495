#include "runtime/files/tarnwell/file_header.hpp"

#include <algorithm>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr size_t kOwnOffsetAt = 0x00;
constexpr size_t kImageSizeAt = 0x04;
constexpr size_t kLogStartAt = 0x06;
constexpr size_t kLogEndAt = 0x0A;
constexpr size_t kSignatureAt = 0x0E;
constexpr size_t kReservedAt = 0x12;
constexpr size_t kLastNumberAt = 0x14;
constexpr size_t kChangeCounterAt = 0x18;
constexpr size_t kRootPageAt = 0x1C;
constexpr size_t kZoneStartAt = 0x20;
constexpr size_t kZoneEndAt = 0x110;
static_assert(kZoneEndAt + 4 * (kMaxUnits + 1) == kHeaderSize);

constexpr int32_t kCheckNoZone = 1735;
constexpr int32_t kCheckNumbersExhausted = 1173;

}  // namespace

void encode_header(const FileHeader& h, std::span<uint8_t, kHeaderSize> out) {
  uint8_t* p = out.data();
  std::fill(out.begin(), out.end(), uint8_t{0});
  store_le32(p + kOwnOffsetAt, h.own_offset);
  store_le16(p + kImageSizeAt, h.image_size);
  store_le32(p + kLogStartAt, h.log_start);
  store_le32(p + kLogEndAt, h.log_end);
  store_le32(p + kSignatureAt, h.signature);
  store_le16(p + kReservedAt, h.reserved);
  std::copy(h.last_number.begin(), h.last_number.end(), p + kLastNumberAt);
  store_le32(p + kChangeCounterAt, h.change_counter);
  store_le32(p + kRootPageAt, static_cast<uint32_t>(h.root_page));
  for (int i = 0; i <= kMaxUnits; ++i) {
    store_le32(p + kZoneStartAt + 4 * i, static_cast<uint32_t>(h.zone_start[i]));
    store_le32(p + kZoneEndAt + 4 * i, static_cast<uint32_t>(h.zone_end[i]));
  }
}

int32_t decode_header(std::span<const uint8_t> bytes, FileHeader& h) {
  if (bytes.empty()) {
    h = new_file_header();
    return 0;
  }
  if (bytes.size() < kHeaderSize) return kNotAFile;
  const uint8_t* p = bytes.data();
  if (load_le32(p + kSignatureAt) != kSignature) return kNotAFile;
  h.own_offset = load_le32(p + kOwnOffsetAt);
  h.image_size = load_le16(p + kImageSizeAt);
  h.log_start = load_le32(p + kLogStartAt);
  h.log_end = load_le32(p + kLogEndAt);
  h.signature = kSignature;
  h.reserved = load_le16(p + kReservedAt);
  std::copy(p + kLastNumberAt, p + kLastNumberAt + 4, h.last_number.begin());
  h.change_counter = load_le32(p + kChangeCounterAt);
  h.root_page = static_cast<int32_t>(load_le32(p + kRootPageAt));
  for (int i = 0; i <= kMaxUnits; ++i) {
    h.zone_start[i] = static_cast<int32_t>(load_le32(p + kZoneStartAt + 4 * i));
    h.zone_end[i] = static_cast<int32_t>(load_le32(p + kZoneEndAt + 4 * i));
  }
  return 0;
}

int unit_size_of_page(const FileHeader& h, int32_t page) {
  for (int i = 1; i <= kMaxUnits; ++i) {
    if (page >= h.zone_start[i] && page < h.zone_end[i]) return i;
  }
  raise_internal_error(kCheckNoZone);
}

bool zones_well_formed(const FileHeader& h) {
  int32_t previous_end = 0;
  for (int i = 1; i <= kMaxUnits; ++i) {
    const int32_t start = h.zone_start[i];
    const int32_t end = h.zone_end[i];
    if (start < previous_end || end < start || (end - start) % i != 0) return false;
    previous_end = end;
  }
  return true;
}

int64_t end_of_used_space(const FileHeader& h) {
  for (int k = kMaxUnits; k >= 1; --k) {
    if (h.zone_start[k] != h.zone_end[k]) {
      return int64_t{kHeaderSize} + int64_t{h.zone_end[k]} * kUnitSize;
    }
  }
  return kHeaderSize;
}

bool header_well_formed(const FileHeader& h, uint64_t file_size) {
  if (!zones_well_formed(h)) return false;
  const int64_t used_end = end_of_used_space(h);
  if (static_cast<uint64_t>(used_end) > file_size) return false;
  const bool no_tree = h.root_page == -1 || (h.root_page == 0 && h.change_counter == 0);
  if (!no_tree) {
    int unit = 0;
    for (int i = 1; i <= kMaxUnits && unit == 0; ++i) {
      if (h.root_page >= h.zone_start[i] && h.root_page < h.zone_end[i]) unit = i;
    }
    if (unit == 0 || (h.root_page - h.zone_start[unit]) % unit != 0) return false;
  }
  if (h.log_start != h.log_end) {
    constexpr uint32_t kBlock = 64;
    if (h.log_start > h.log_end || h.log_end > file_size || h.log_start % kBlock != 0 ||
        h.log_end % kBlock != 0 || h.log_start < used_end) {
      return false;
    }
  }
  return true;
}

Number next_number(Number& number) {
  Number next = number;
  for (int i = 3; i >= 0; --i) {
    if (++next[i] != 0) break;
  }
  if (next[0] >= 0xFE) raise_internal_error(kCheckNumbersExhausted);
  number = next;
  return next;
}

}  // namespace vtn::tarnwell
