// The header at offset 0 of a record file: read as it stands on disk, checked for change, written.
#include <array>

#include "runtime/files/tarnwell/block_io.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {

int32_t PageStore::read_disk_header(FileHeader& out) {
  uint64_t size = 0;
  if (!file.size(size)) return static_cast<int32_t>(platform::last_error());
  if (size == 0) {
    out = new_file_header();
    return 0;
  }
  if (size < kHeaderSize) return kNotAFile;
  std::array<uint8_t, kHeaderSize> bytes{};
  size_t got = 0;
  if (!read_blocks(file, cipher ? &*cipher : nullptr, 0, bytes, got)) {
    return static_cast<int32_t>(platform::last_error());
  }
  if (got != bytes.size()) return kNotAFile;
  if (const int32_t result = decode_header(bytes, out)) return result;
  if (!header_well_formed(out, size)) return kNotAFile;
  seen_header_bytes = bytes;
  seen_header_valid = true;
  return 0;
}

bool PageStore::disk_header_unchanged() {
  if (!seen_header_valid) return false;
  std::array<uint8_t, kHeaderSize> bytes;
  size_t got = 0;
  return read_blocks(file, cipher ? &*cipher : nullptr, 0, bytes, got) && got == bytes.size() &&
         bytes == seen_header_bytes;
}

int32_t PageStore::write_header(const FileHeader& h) {
  std::array<uint8_t, kHeaderSize> bytes{};
  encode_header(h, bytes);
  if (!write_header_image(bytes)) return static_cast<int32_t>(last_error);
  disk_header = h;
  return 0;
}

bool PageStore::write_header_image(std::span<uint8_t, kHeaderSize> image) {
  if (write(0, image)) return true;
  // The write may have stored part of the header (a short write): put back the header the disk
  // held, so that the file stays as a crash before this write would have left it.
  const uint32_t error = last_error;
  std::array<uint8_t, kHeaderSize> before{};
  encode_header(disk_header, before);
  write(0, before);
  last_error = error;
  return false;
}

}  // namespace vtn::tarnwell
