// The record-file header on arbitrary bytes: decoding must accept or refuse with 36, and every
// question asked of an accepted header (a page's zone, the end of used space, the next number)
// must answer or fail with its check number. An accepted header must survive re-encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"

namespace {
void check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vtn::tarnwell;
  FileHeader header;
  const int32_t result = decode_header(std::span(data, size), header);
  check(result == 0 || result == kNotAFile);
  if (result != 0) return 0;

  std::array<uint8_t, kHeaderSize> bytes{};
  encode_header(header, bytes);
  FileHeader again;
  check(decode_header(bytes, again) == 0 && again == header);

  (void)end_of_used_space(header);
  // The last page number of zone 59, wrapping as the 32-bit page numbers of a damaged file may.
  const int32_t last_of_top_zone =
      static_cast<int32_t>(static_cast<uint32_t>(header.zone_end[59]) - 1u);
  for (int32_t page : {0, 1, header.root_page, header.zone_start[7], last_of_top_zone}) {
    try {
      const int units = unit_size_of_page(header, page);
      check(units >= 1 && units <= kMaxUnits);
    } catch (const InternalError& e) {
      check(e.check() == 1735);
    }
  }
  if (header_well_formed(header, size + (uint64_t{1} << 40))) {
    check(zones_well_formed(header));
    check(header.log_start == header.log_end ||
          int64_t{header.log_start} >= end_of_used_space(header));
  }
  if (zones_well_formed(header)) {
    check(end_of_used_space(header) >= kHeaderSize);
    for (int i = 1; i <= kMaxUnits; ++i) {
      if (header.zone_start[i] != header.zone_end[i]) {
        check(unit_size_of_page(header, header.zone_start[i]) == i);
        check(unit_size_of_page(header, header.zone_end[i] - 1) == i);
      }
    }
  }
  try {
    Number n = header.last_number;
    next_number(n);
    check(n[0] < 0xFE);
  } catch (const InternalError& e) {
    check(e.check() == 1173);
  }
  return 0;
}
