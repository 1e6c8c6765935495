// The header at offset 0 of a record file: read as it stands on disk, checked for change, written.
//
// The check compares the header's bytes as the disk holds them with the bytes this process last
// read or wrote there. A read access looks at them through a shared mapping of the file's first
// page where the file system keeps one coherent (mapped_view.hpp), so that an access whose header
// did not change makes no system call for it: the access lock taken just before orders the look
// after every write of a process that held the file before. When the mapped bytes are gone (the
// file was emptied meanwhile) the bytes are read as everywhere else, and that read reports what
// became of the file. A write access always reads: a look at a page cannot tell a file that
// another program cut short within its header (what is left of the page still shows the old
// bytes) from an unchanged one, and such a file must be refused (36) before anything is written
// to it. A read access that meets such a file answers from the pages it holds and reports the
// damage at the first page it has to read (check 2172), where a read of the header would have
// refused the access.
#include <algorithm>
#include <array>

#include "runtime/files/tarnwell/block_io.hpp"
#include "runtime/files/tarnwell/page_store.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

using HeaderBytes = std::array<uint8_t, kHeaderSize>;

// The check compares the header's first 64 bytes (one cipher block): they hold the change counter
// and the page log's bounds, and every write of a header moves one of them (a flush's header
// pointing at its log, the header after it with the counter advanced, an emptied log with the
// counter advanced), so the rest of the header cannot change without them.
constexpr size_t kCheckedBytes = kCipherBlockSize;
static_assert(kCheckedBytes >= 0x1C, "the counter lies within the checked bytes");

// The mapping of the file's first page, made at the first call; nullptr where there is none.
const platform::MappedView* header_mapping(PageStore& s) {
  if (!s.header_view_tried) {
    s.header_view_tried = true;
    s.file.map_start(s.header_view, kHeaderSize);
  }
  return s.header_view.mapped() ? &s.header_view : nullptr;
}

// Reads the header's bytes as the disk holds them: false on a system failure, `got` short at the
// end of the file. Through the mapping when a read access made one (this makes none: an
// exclusively opened file never needs one).
bool read_raw_header(PageStore& s, HeaderBytes& raw, size_t& got) {
  if (s.header_view.mapped()) {
    if (s.header_view.read(0, raw)) {
      got = raw.size();
      return true;
    }
  }
  return s.file.read_at(0, raw, got);
}

// The check by a read. Read whole: a file cut short within its header has changed, whatever its
// first bytes say.
[[gnu::noinline]] bool read_header_unchanged(PageStore& s,
                                             std::span<const uint8_t, kCheckedBytes> seen) {
  HeaderBytes bytes;
  size_t got = 0;
  return s.file.read_at(0, bytes, got) && got == bytes.size() &&
         std::equal(seen.begin(), seen.end(), bytes.begin());
}

// Notes `plain` (deciphered) as the bytes the disk now holds at offset 0.
void note_seen(PageStore& s, std::span<const uint8_t, kHeaderSize> plain) {
  std::copy(plain.begin(), plain.end(), s.seen_header_bytes.begin());
  if (s.cipher) s.cipher->encipher(s.seen_header_bytes);
  s.seen_header_valid = true;
}

}  // namespace

int32_t PageStore::read_disk_header(FileHeader& out) {
  seen_header_valid = false;
  uint64_t size = 0;
  if (!file.size(size)) return static_cast<int32_t>(platform::last_error());
  if (size == 0) {
    out = new_file_header();
    return 0;
  }
  if (size < kHeaderSize) return kNotAFile;
  HeaderBytes raw{};
  size_t got = 0;
  if (!read_raw_header(*this, raw, got)) return static_cast<int32_t>(platform::last_error());
  if (got != raw.size()) return kNotAFile;
  HeaderBytes bytes = raw;
  if (cipher) cipher->decipher(bytes);
  if (const int32_t result = decode_header(bytes, out)) return result;
  if (!header_well_formed(out, size)) return kNotAFile;
  seen_header_bytes = raw;
  seen_header_valid = true;
  return 0;
}

bool PageStore::disk_header_unchanged(bool through_mapping) {
  if (!seen_header_valid) return false;
  const std::span<const uint8_t, kCheckedBytes> seen(seen_header_bytes.data(), kCheckedBytes);
  if (through_mapping && (header_view.mapped() || header_mapping(*this) != nullptr)) {
    const auto now = header_view.compare(0, seen);
    if (now != platform::MappedView::Compare::kUnreadable) {
      return now == platform::MappedView::Compare::kSame;
    }
  }
  return read_header_unchanged(*this, seen);
}

int32_t PageStore::write_header(const FileHeader& h) {
  HeaderBytes bytes{};
  encode_header(h, bytes);
  if (!write_header_image(bytes)) return static_cast<int32_t>(last_error);
  disk_header = h;
  return 0;
}

bool PageStore::write_header_image(std::span<uint8_t, kHeaderSize> image) {
  if (write(0, image)) {
    note_seen(*this, image);
    return true;
  }
  // The write may have stored part of the header (a short write): put back the header the disk
  // held, so that the file stays as a crash before this write would have left it.
  seen_header_valid = false;
  const uint32_t error = last_error;
  HeaderBytes before{};
  encode_header(disk_header, before);
  write(0, before);
  last_error = error;
  return false;
}

}  // namespace vtn::tarnwell
