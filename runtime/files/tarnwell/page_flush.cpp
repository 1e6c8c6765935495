#include "runtime/files/tarnwell/page_flush.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_tree.hpp"
#include "runtime/files/tarnwell/zones.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

int units_of(const RecordPage& page) {
  return static_cast<int>(page.image.size() / kUnitSize);
}

// Encodes every dirty page that has no image yet and gives every dirty page a place in the zone
// of its size, then compacts the zones. Moving pages makes more pages dirty (the moved pages and
// their parents): they are placed in turn, until every dirty page sits in the zone of its image.
void place_pages(PageStore& s) {
  auto mover = [&s](int32_t from, int32_t to) { PageTree(s).move_page(from, to); };
  Zones zones(s.header, mover);
  for (;;) {
    const auto& dirty = s.cache.dirty_pages();
    for (size_t k = 0; k < dirty.size(); ++k) {
      RecordPage* page = dirty[k];
      if (page->image.empty()) page->image = encode_page(page->number, page->contents);
      const int units = units_of(*page);
      if (page->number >= 0 && page->unit_size == units) continue;
      const int old_units = page->unit_size;
      const int32_t to = zones.allocate(units);
      const int32_t from = page->number;  // allocating may have moved the page within its zone
      PageTree(s).move_page(from, to);
      page->unit_size = units;
      if (from >= 0 && old_units != 0) zones.free(old_units, from);
    }
    zones.compact();
    const bool settled = std::all_of(dirty.begin(), dirty.end(), [](const RecordPage* p) {
      return !p->image.empty() && p->number >= 0 && p->unit_size == units_of(*p);
    });
    if (settled) return;
  }
}

// The image as it goes to disk: the page's current number and children.
std::span<uint8_t> final_image(RecordPage& page) {
  set_page_number(page.image, page.number);
  if (page.is_index()) {
    for (size_t i = 0; i < page.size(); ++i) {
      store_le32(page.image.data() + kPageHeaderSize + 4 * i,
                 static_cast<uint32_t>(page.contents.children[i]));
    }
  }
  return page.image;
}

// Writes page images at their offsets, in ascending order; images that continue one another go
// out together, in writes of at most kWriteBatchBytes (an image is never cut), so that a flush of
// thousands of pages makes a few dozen system calls instead of one per page. Within a phase the
// order of the writes does not matter: nothing written there is live before the flush that ends
// the phase, and a crash may keep any subset of them anyway.
constexpr size_t kWriteBatchBytes = 256 * 1024;
using PendingWrite = std::pair<uint64_t, std::span<uint8_t>>;

bool write_images(PageStore& s, std::vector<PendingWrite>& writes) {
  std::sort(writes.begin(), writes.end(),
            [](const PendingWrite& a, const PendingWrite& b) { return a.first < b.first; });
  std::vector<uint8_t> batch;
  uint64_t batch_at = 0;
  for (size_t i = 0; i < writes.size(); ++i) {
    const auto& [at, image] = writes[i];
    const bool joins_next =
        i + 1 < writes.size() && writes[i + 1].first == at + image.size() &&
        batch.size() + image.size() + writes[i + 1].second.size() <= kWriteBatchBytes;
    if (batch.empty() && !joins_next) {
      if (!s.write(at, image)) return false;
      continue;
    }
    if (batch.empty()) {
      batch_at = at;
      batch.reserve(kWriteBatchBytes);
    }
    batch.insert(batch.end(), image.begin(), image.end());
    if (joins_next) continue;
    if (!s.write(batch_at, batch)) return false;
    batch.clear();
  }
  return true;
}

void release_readers(PageStore& s) {
  if (s.all_readers_locked) s.locks.unlock_all_readers();
  s.all_readers_locked = false;
}

int32_t fail(PageStore& s) {
  const int32_t error = static_cast<int32_t>(s.last_error);
  s.discard();
  s.phase0_done = false;
  release_readers(s);
  return error;
}

}  // namespace

int32_t flush_phase0(PageStore& s) {
  s.ensure_tree();
  if (const int32_t error = s.locks.lock_all_readers()) return error;
  s.all_readers_locked = true;
  // A file that has never been written gets its empty header first, durably: otherwise a crash
  // before step 7 would leave pages behind a header of zeros, a file no longer recognised.
  uint64_t size = 0;
  if (s.file.size(size) && size < kHeaderSize) {
    s.last_error = 0;
    if (s.write_header(s.disk_header) != 0 || !s.flush_buffers()) return fail(s);
  }
  s.old_header = s.disk_header;
  const int64_t old_end = end_of_used_space(s.old_header);
  try {
    place_pages(s);
  } catch (const InternalError&) {
    s.discard();
    release_readers(s);
    throw;
  }

  FileHeader& h = s.header;
  h.log_start = static_cast<uint32_t>(std::max(end_of_used_space(h), old_end));
  uint64_t log_length = kHeaderSize;
  for (RecordPage* page : s.cache.dirty_pages()) {
    if (page_offset(page->number) < old_end) log_length += page->image.size();
  }
  h.log_end = static_cast<uint32_t>(h.log_start + log_length);
  ++h.change_counter;
  s.last_error = 0;

  uint64_t log_at = h.log_start;
  std::vector<PendingWrite> writes;
  writes.reserve(s.cache.dirty_pages().size() + 1);
  for (RecordPage* page : s.cache.dirty_pages()) {
    const int64_t own = page_offset(page->number);
    const std::span<uint8_t> image = final_image(*page);
    const uint64_t at = own < old_end ? log_at : static_cast<uint64_t>(own);
    writes.emplace_back(at, image);
    if (own < old_end) log_at += image.size();
  }
  std::array<uint8_t, kHeaderSize> header_image{};
  encode_header(h, header_image);
  writes.emplace_back(log_at, header_image);
  if (!write_images(s, writes)) return fail(s);

  if (!s.flush_buffers()) return fail(s);
  FileHeader pointing = s.old_header;
  pointing.log_start = h.log_start;
  pointing.log_end = h.log_end;
  if (s.write_header(pointing) != 0) return fail(s);  // the old header is put back
  if (!s.flush_buffers()) {
    // The header pointing at the log may reach the disk later: put the old one back, so that a
    // phase 0 reported as failed leaves the old state (a commit relies on it to change no file).
    const uint32_t error = s.last_error;
    if (s.write_header(s.old_header) == 0) s.flush_buffers();
    s.last_error = error;
    return fail(s);
  }
  s.phase0_done = true;
  return 0;
}

int32_t flush_phase1(PageStore& s) {
  if (!s.phase0_done) return 0;
  s.phase0_done = false;
  // The pages at or beyond the old end went to their places in phase 0 already, and were made
  // durable before the header pointed at the log: only those in the log are written again.
  const int64_t old_end = end_of_used_space(s.old_header);
  std::vector<PendingWrite> writes;
  writes.reserve(s.cache.dirty_pages().size());
  for (RecordPage* page : s.cache.dirty_pages()) {
    const int64_t own = page_offset(page->number);
    if (own < old_end) writes.emplace_back(static_cast<uint64_t>(own), final_image(*page));
  }
  if (!write_images(s, writes)) return fail(s);
  if (s.write_header(s.header) != 0 || !s.flush_buffers()) return fail(s);
  FileHeader done;
  if (const int32_t error = s.read_disk_header(done)) {
    s.last_error = static_cast<uint32_t>(error);
    return fail(s);
  }
  done.log_start = done.log_end = static_cast<uint32_t>(end_of_used_space(done));
  ++done.change_counter;
  if (s.write_header(done) != 0 || !s.flush_buffers()) return fail(s);
  s.header = done;
  s.cache.mark_all_clean();
  s.dirty = false;
  release_readers(s);
  return 0;
}

int32_t abandon_flush(PageStore& s) {
  if (!s.phase0_done) return 0;
  s.last_error = 0;
  if (s.write_header(s.old_header) == 0) s.flush_buffers();
  const int32_t error = static_cast<int32_t>(s.last_error);
  s.discard();
  s.phase0_done = false;
  release_readers(s);
  return error;
}

int32_t cut_unused_space(PageStore& s) {
  if (s.phase0_done) return 0;
  const bool lock_here = !s.all_readers_locked;
  if (lock_here) {
    if (const int32_t error = s.locks.lock_all_readers()) return error;
    s.all_readers_locked = true;
  }
  auto done = [&s, lock_here](int32_t result) {
    if (lock_here) release_readers(s);
    return result;
  };
  // Read under the locks: the header on disk is the one every other process goes by.
  FileHeader on_disk;
  if (const int32_t error = s.read_disk_header(on_disk)) return done(error);
  uint64_t size = 0;
  if (!s.file.size(size)) return done(static_cast<int32_t>(platform::last_error()));
  if (on_disk.log_start != on_disk.log_end) return done(0);
  const auto used_end = static_cast<uint64_t>(end_of_used_space(on_disk));
  if (size <= used_end) return done(0);
  if (!s.file.set_size(used_end) || !s.flush_buffers()) {
    s.last_error = platform::last_error();
    if (s.last_error == 0) s.last_error = platform::kErrorGeneralFailure;
    return done(static_cast<int32_t>(s.last_error));
  }
  return done(0);
}

int32_t flush_file(PageStore& s) {
  if (!s.dirty) return 0;
  if (const int32_t error = flush_phase0(s)) return error;
  return flush_phase1(s);
}

}  // namespace vtn::tarnwell
