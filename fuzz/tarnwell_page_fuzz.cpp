// Page images on arbitrary bytes: decoding must give a page or fail with one of the page checks,
// never read outside the image or hang. A decoded page must decode the same after re-encoding.
//
// Input: byte 0 chooses the unit size (1..59) of the zone the image is read from; the rest is the
// image, cut or padded with 0xB0 to that size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_image.hpp"

namespace {
void check(bool condition) {
  if (!condition) std::abort();
}

bool is_page_check(int32_t check) {
  switch (check) {
    case 522:
    case 530:
    case 1477:
    case 1602:
    case 1659:
      return true;
    default:
      return false;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vtn::tarnwell;
  if (size == 0) return 0;
  const int units = 1 + data[0] % kMaxUnits;
  std::vector<uint8_t> image(data + 1, data + size);
  image.resize(static_cast<size_t>(units) * kUnitSize, kPagePadding);

  PageContents page;
  try {
    page = decode_page(image, units);
  } catch (const InternalError& e) {
    check(is_page_check(e.check()));
    return 0;
  }
  check(!page.is_index() || page.children.size() == page.records.size());
  for (const Record& r : page.records) check(r.key_length <= r.bytes.size());

  try {
    const std::vector<uint8_t> again = encode_page(5, page);
    check(again.size() % kUnitSize == 0 && again.size() <= kMaxPageImage);
    check(decode_page(again, static_cast<int>(again.size() / kUnitSize)) == page);
  } catch (const InternalError& e) {
    check(e.check() == 1678);  // a crafted page may pack tighter than the writer does
  }
  return 0;
}
