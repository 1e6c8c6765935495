#include "runtime/files/tarnwell/page_log.hpp"

#include <array>
#include <mutex>
#include <vector>

#include "runtime/files/tarnwell/block_io.hpp"
#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_tree.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

std::mutex g_check_mutex;
PendingTransactionCheck g_pending_check;

// Reads exactly buffer.size() bytes; false on any failure.
bool read_all(PageStore& s, uint64_t offset, std::span<uint8_t> buffer) {
  size_t got = 0;
  return read_blocks(s.file, s.cipher ? &*s.cipher : nullptr, offset, buffer, got) &&
         got == buffer.size();
}

// Whether the state the log describes belongs to a transaction still listed as in progress.
bool transaction_still_listed(PageStore& s) {
  PendingTransactionCheck check;
  {
    std::lock_guard lock(g_check_mutex);
    check = g_pending_check;
  }
  if (!check) return false;
  static constexpr uint8_t kPendingKey[] = {kPendingTransactionByte};
  const std::optional<RecordRef> found = PageTree(s).find_exact(kPendingKey);
  if (!found) return false;
  const Record record{{found->bytes.begin(), found->bytes.end()}, found->key_length};
  const auto pending = read_pending_transaction(record);
  s.end_operation();
  if (!pending) return false;
  return check(s.full_name, pending->transaction, pending->control_file);
}

// Empties the log named by s.header and makes that durable. 0 or the error.
int32_t reset_log(PageStore& s) {
  FileHeader h = s.header;
  h.log_start = h.log_end = static_cast<uint32_t>(end_of_used_space(h));
  ++h.change_counter;
  s.last_error = 0;
  if (s.write_header(h) != 0 || !s.flush_buffers()) return static_cast<int32_t>(s.last_error);
  s.header = h;
  return 0;
}

// Copies every image of the log to its own offset, makes the copies durable, empties the log.
int32_t apply_log(PageStore& s) {
  std::vector<uint8_t> buffer(kMaxPageImage);
  s.last_error = 0;
  for (const PageStore::LogImage& image : s.log_images) {
    const std::span<uint8_t> bytes(buffer.data(), image.length);
    if (!read_all(s, image.at, bytes)) {
      s.last_error = platform::kErrorReadFault;
      return static_cast<int32_t>(s.last_error);
    }
    const bool written = image.own_offset == 0 ? s.write_header_image(bytes.first<kHeaderSize>())
                                               : s.write(image.own_offset, bytes);
    if (!written) return static_cast<int32_t>(s.last_error);
    if (image.own_offset == 0) s.disk_header = s.header;  // the log's header, now at offset 0
  }
  if (!s.flush_buffers()) return static_cast<int32_t>(s.last_error);
  return reset_log(s);
}

void forget_log(PageStore& s) {
  s.log_map.clear();
  s.log_images.clear();
}

}  // namespace

void set_pending_transaction_check(PendingTransactionCheck check) {
  std::lock_guard lock(g_check_mutex);
  g_pending_check = std::move(check);
}

bool walk_page_log(PageStore& s, const FileHeader& h, FileHeader& logged) {
  forget_log(s);
  std::array<uint8_t, kUnitSize> start{};
  uint64_t at = h.log_start;
  bool header_seen = false;
  uint32_t header_at = 0;
  while (at < h.log_end) {
    if (!read_all(s, at, start)) return false;
    const uint32_t own = load_le32(start.data());
    const size_t length = rounded_stored_length(start);
    if (length == 0 || length > kMaxPageImage || at + length > h.log_end) return false;
    if (own == 0) {
      if (length != kHeaderSize) return false;
      header_seen = true;
      header_at = static_cast<uint32_t>(at);
    } else if (own < kHeaderSize || (own - kHeaderSize) % kUnitSize != 0 ||
               uint64_t{own} + length > h.log_start) {
      return false;
    }
    s.log_map[own] = static_cast<uint32_t>(at);
    s.log_images.push_back({own, static_cast<uint32_t>(at), static_cast<uint32_t>(length)});
    at += length;
  }
  if (!header_seen) return false;
  std::array<uint8_t, kHeaderSize> bytes{};
  uint64_t size = 0;
  if (!read_all(s, header_at, bytes) || !s.file.size(size)) return false;
  return decode_header(bytes, logged) == 0 && header_well_formed(logged, size) &&
         logged.log_start == h.log_start && logged.log_end == h.log_end;
}

namespace {

// Whether the header just read from disk still describes the state this process holds: the same
// change counter (a flush elsewhere advances it; a file emptied or created anew elsewhere starts
// it again from 0 or 1) and the same page log (a flush that failed or was cut off after its log
// became durable leaves a header naming the log under the old counter).
bool same_state(const FileHeader& disk, const FileHeader& known) {
  return disk.change_counter == known.change_counter && disk.log_start == known.log_start &&
         disk.log_end == known.log_end;
}

// A writer completes or abandons a page log that readers read through.
int32_t settle_log(PageStore& s, AccessMode mode) {
  if (!s.log_pending || mode != AccessMode::write) return 0;
  const int32_t error = s.log_abandoned ? reset_log(s) : apply_log(s);
  if (error != 0) {
    s.discard();
    return error;
  }
  forget_log(s);
  s.log_pending = false;
  s.log_abandoned = false;
  return 0;
}

}  // namespace

int32_t reread_header(PageStore& s, AccessMode mode) {
  FileHeader disk;
  if (const int32_t error = s.read_disk_header(disk)) {
    s.header_valid = false;
    return error;
  }
  if (!(s.header_valid && same_state(disk, s.disk_header))) {
    s.discard();
    s.header = disk;
    s.disk_header = disk;
    s.header_valid = true;
    forget_log(s);
    s.log_pending = disk.log_start != disk.log_end;
    s.log_abandoned = false;
    if (s.log_pending) {
      FileHeader logged;
      bool usable = walk_page_log(s, disk, logged);
      if (usable) {
        s.header = logged;
        try {
          usable = !transaction_still_listed(s);
        } catch (const InternalError&) {
          usable = false;  // the state the log describes is damaged: keep the old one
        }
        s.end_operation();
      }
      if (!usable) {
        s.tree_changed();
        s.cache.clear();
        forget_log(s);
        s.header = disk;
        s.log_abandoned = true;
      }
    }
  }
  return settle_log(s, mode);
}

int32_t bring_header_up_to_date(PageStore& s, AccessMode mode) {
  // An exclusively opened file keeps its header while it is valid; a shared one compares the
  // header's bytes on disk, and decodes them only when they changed.
  if (s.header_valid &&
      (s.bits.exclusive || s.disk_header_unchanged(/*through_mapping=*/mode == AccessMode::read))) {
    return settle_log(s, mode);
  }
  return reread_header(s, mode);
}

}  // namespace vtn::tarnwell
