// PageStore: the state behind one RecordFile, and how it reads pages.
//
// It holds the handle object (file handle, last system error of a write, cipher schedule,
// reader slot through the access locks), the copy of the header, the header as it was last seen
// on disk, the page cache, the mapping of the page log, and the flags of the current access.
//
// Reading page p: a cached page is used as it stands, and so is a page the cache's reserve still
// keeps (both are forgotten together whenever the file changed under them); a page with a negative
// number (created in memory, not placed yet) that is not cached is a new, empty leaf; otherwise the
// page is read at its offset, or at the place of its newest image in the page log when the mapping
// holds one, with the length of its zone's unit size, and decoded (checks 1477, 1602, ... of
// page_image).
//
// Every operation that takes pages ends with end_operation(), which releases them to the cache.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

#include "runtime/files/tarnwell/access_locks.hpp"
#include "runtime/files/tarnwell/block_cipher.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/page_cache.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_store.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/mapped_view.hpp"

namespace vtn::tarnwell {

// The first 8 bytes of a key, for telling the fingers' last answers apart at a glance (equal or
// not; no order).
inline uint64_t key_head(std::span<const uint8_t> key) {
  uint64_t head = 0;
  if (key.size() >= 8) {
    std::memcpy(&head, key.data(), 8);
  } else {
    for (size_t i = 0; i < key.size(); ++i) head = head << 8 | key[i];
  }
  return head;
}

// The first 16 bytes of a key as two big-endian words, zero-padded, and its length: two keys
// order as their words do when these differ, and as their lengths do when both are at most 16
// bytes long; only longer keys that tie need their bytes (compare_key_orders).
struct KeyOrder {
  uint64_t high = 0;
  uint64_t low = 0;
  size_t length = 0;
};

inline KeyOrder key_order(std::span<const uint8_t> key) {
  const size_t n = key.size();
  const uint8_t* p = key.data();
  auto be64 = [](const uint8_t* q) {
    uint64_t v;
    std::memcpy(&v, q, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  };
  KeyOrder o;
  o.length = n;
  if (n >= 16) {
    o.high = be64(p);
    o.low = be64(p + 8);
  } else if (n >= 8) {
    o.high = be64(p);
    if (n > 8) o.low = be64(p + n - 8) << (8 * (16 - n));
  } else {
    for (size_t i = 0; i < n; ++i) o.high |= uint64_t{p[i]} << (56 - 8 * i);
  }
  return o;
}

// compare_keys(a, b) for keys whose orders are `ao` and `bo`.
inline int compare_key_orders(const KeyOrder& ao, std::span<const uint8_t> a, const KeyOrder& bo,
                              std::span<const uint8_t> b) {
  if (ao.high != bo.high) return ao.high < bo.high ? -1 : 1;
  if (ao.low != bo.low) return ao.low < bo.low ? -1 : 1;
  if (ao.length > 16 && bo.length > 16) return compare_keys(a, b);
  if (ao.length == bo.length) return 0;
  return ao.length < bo.length ? -1 : 1;
}

struct PageStore {
  explicit PageStore(const AccessBits& bits) : bits(bits), locks(file, bits.exclusive) {
    cache.spill_to(&reserve);
  }
  PageStore(const PageStore&) = delete;
  PageStore& operator=(const PageStore&) = delete;

  // ---- the handle object ----
  platform::FileHandle file;
  std::string full_name;
  std::optional<BlockCipher> cipher;
  uint32_t last_error = 0;  // of the last failed write (5 for a short one)
  AccessBits bits;
  AccessLocks locks;

  // ---- access ----
  bool in_access = false;
  AccessMode mode = AccessMode::read;
  bool all_readers_locked = false;
  bool in_transaction = false;

  // ---- header and pages ----
  FileHeader header;          // as this process knows it, changes included
  bool header_valid = false;  // false: the next access rereads everything
  FileHeader disk_header;     // as it stands at offset 0 on disk
  // The 512 bytes at offset 0 as the disk holds them (enciphered when the file is) after the last
  // header read_disk_header() accepted or write_header() wrote: while the header is valid and the
  // disk still holds exactly these bytes, nothing changed and an access needs no more.
  std::array<uint8_t, kHeaderSize> seen_header_bytes{};
  bool seen_header_valid = false;
  // The file's first page, mapped where the file system allows (mapped_view.hpp): a read access
  // compares the header there instead of reading it. Mapped at the first such access.
  platform::MappedView header_view;
  bool header_view_tried = false;
  bool dirty = false;  // pages or header changed since the last flush
  // Advanced (next_change_number) by every change of a record and every forgetting of the pages.
  uint64_t change_count = next_change_number();
  void records_changed() { change_count = next_change_number(); }
  int32_t next_temporary = -1;  // the number of the next page created in memory
  PageReserve reserve;          // clean pages the cache let go, still decoded
  PageCache cache;
  // Page log mapping while reading through an unresolved log: own offset -> offset of the
  // newest image of that page in the log.
  std::unordered_map<uint32_t, uint32_t> log_map;
  bool log_pending = false;    // the header on disk names a page log not yet applied or reset
  bool log_abandoned = false;  // ...which is to be reset, not applied
  struct LogImage {
    uint32_t own_offset, at, length;
  };
  std::vector<LogImage> log_images;  // the images of that log, in log order

  // ---- a flush between its two phases ----
  bool phase0_done = false;
  FileHeader old_header;                // the header on disk before the flush
  std::vector<TreeStep> path;           // scratch of the tree operations, kept to spare allocations
  std::vector<uint8_t> record_scratch;  // the record an insert or replace stores, copied
  std::vector<uint8_t> page_buffer;     // the image of the page being read

  // ---- the leaves where recent searches ended ----
  // A search whose key lies within the keys of one of these leaves is answered there without
  // descending from the root; so is an insert or a replace whose key lies between the leaf's first
  // key and the first key of the leaf after it (its upper fence). Both are the keys of the index
  // records the descent went through, so noting a finger touches no record of the leaf; a search
  // for the first record after a key also needs the key before the leaf's live last key. They are
  // good only while the leaf still starts with the same first key, holds at least the keys it held
  // when noted and covers the same range: every new or freed page, every renumbering, every change
  // of a first key, every deletion and every forgetting of the pages advances tree_version, which
  // retires them all. Inserts behind the first key and replaces keep them.
  //
  // A finger also keeps the address of its leaf, good while no page object has been let go since
  // (cache.pages_destroyed()): a page trimmed from the cache or taken back from its reserve keeps
  // its address, and every other way a page leaves (freed, renumbered, forgotten) advances
  // tree_version as well. After a page was let go, a step looks the leaf up again by number, once
  // (not every finger at every loss: random reads would pay for fingers nobody steps from). While
  // both hold, a search from exactly the key of the last answer (reading on, reading back,
  // reading again, reading the record after it) is answered in that leaf with no lookup at all
  // (PageTree::step_from_finger); with the leaf's parent and its slot there, reading on past the
  // end of the leaf takes the neighbour from the parent instead of descending. A finger that
  // moved to a neighbour, or was noted there by a search that stepped over, knows no fences: it
  // serves such steps only.
  struct Finger {
    static constexpr size_t kNoSlot = SIZE_MAX;
    int32_t page = 0;
    uint64_t version = 0;  // 0: none
    KeyOrder first_order;            // of first_key
    KeyOrder fence_order;            // of upper_fence
    std::vector<uint8_t> first_key;    // kept only when longer than 16 bytes (see KeyOrder)
    std::vector<uint8_t> upper_fence;  // likewise
    bool has_upper_fence = false;      // false: the leaf is the last one
    bool fenced = true;                // first_key and upper_fence describe the leaf's range
    size_t slot = kNoSlot;             // of the last record a search answered in this leaf
    uint64_t head = 0;                 // the first 8 bytes of that record's key (key_head)
    const RecordPage* leaf = nullptr;  // the page, while cache.pages_destroyed() is still `lost`
    uint64_t lost = 0;
    bool has_parent = false;  // false: the leaf is the root, or its parent is not known
    int32_t parent = 0;       // the index page above the leaf, and the leaf's slot in it
    size_t parent_slot = 0;
  };
  static constexpr size_t kFingers = 4;
  std::array<Finger, kFingers> fingers;
  size_t next_finger = 0;              // the one noted over next
  // The fingers that gave the last two leaves to leaf_for, the last first (different, or both 0).
  std::array<uint8_t, 2> leaf_hints{};
  std::array<uint8_t, 4> step_hint{};  // per kind of step, the finger that answered the last one
  // Whether a finger's last answer has this head: only then may a step from a finger answer.
  bool finger_may_hold(uint64_t head) const {
    for (const Finger& f : fingers) {
      if (f.head == head && f.version == tree_version) return true;
    }
    return false;
  }
  uint64_t tree_version = 1;
  void tree_changed() { ++tree_version; }

  // ---- the leaves where recent inserts went at their ends ----
  // Records added in ascending key order (new record numbers, keys that grow with them) land one
  // behind the other in one leaf per key order, at its end or before the records of the next key
  // order. An insert finger keeps such a leaf, the slot of the last record inserted there and the
  // leaf's upper fence: a key between that record and the next (or the fence, at the leaf's end)
  // goes right behind it with no descent and no search. Trusted as the fingers above are: retired
  // by tree_version, the leaf's address good while cache.pages_destroyed() is still `lost` (else
  // looked up by number), except that a split carries them over to the half that holds their slot
  // (see PageTree::split_pages); the slot is checked against the keys around it.
  struct InsertFinger {
    int32_t page = 0;
    uint64_t version = 0;  // 0: none
    RecordPage* leaf = nullptr;
    uint64_t lost = 0;
    size_t slot = 0;
    std::vector<uint8_t> upper_fence;
    bool has_upper_fence = false;  // false: the leaf is the last one
  };
  static constexpr size_t kInsertFingers = 4;
  std::array<InsertFinger, kInsertFingers> insert_fingers;
  size_t next_insert_finger = 0;  // the one noted over next
  // The one tried first: the one after the last that took an insert, as records of several key
  // orders (a record and its keys) are added in turn.
  size_t insert_finger_hint = 0;

  // ---- pages ----

  // The page numbered `number`, pinned until end_operation(). Check 1735 when no zone holds it.
  RecordPage* page(int32_t number) {
    if (RecordPage* held = cache.fetch(number)) return held;
    return load(number);
  }
  // A page neither cached nor spare: created (a negative number) or read and decoded.
  RecordPage* load(int32_t number);
  // A new, empty, dirty page of `level` with the next temporary number.
  RecordPage* new_page(uint8_t level);
  // Changes of a page's records that keep its first key and its place in the tree; the tree's
  // own changes advance tree_version themselves (see the fingers).
  void mark_dirty(RecordPage* page) {
    cache.mark_dirty(page);
    dirty = true;
  }
  void end_operation() { cache.release_all(); }
  // Forgets every page and the header: the next access rereads the file.
  void discard();

  // Whether a tree exists yet (a new file has none until its first change).
  bool has_tree() const { return header.root_page != 0 || header.change_counter != 0; }
  // Builds the empty tree of a new file: change counter 1, root -1 (a page in memory).
  void ensure_tree();

  // ---- raw input and output, in 64-byte blocks through the cipher ----

  // Reads exactly buffer.size() bytes. Check 2277 when the system fails, 2172 on a short read.
  void read_exact(uint64_t offset, std::span<uint8_t> buffer);
  // false, with last_error set (5 for a short write), when the write fails.
  bool write(uint64_t offset, std::span<uint8_t> buffer);
  bool flush_buffers();

  // Reads the header at offset 0: 0 (a 0-byte file gives a new header), 36 (fewer than 512
  // bytes, another signature, or a header the store cannot trust for a file of this size) or a
  // system error.
  int32_t read_disk_header(FileHeader& out);
  // Whether the disk still holds the header last read or written (a compare of its bytes, no
  // decoding). false also when the read fails: the caller then reads the header in full and
  // reports what went wrong. `through_mapping`: look through header_view when the file system
  // allows (a read access); else, and when the mapped bytes are gone, read them.
  bool disk_header_unchanged(bool through_mapping);
  // Writes the header at offset 0 (0 or the error, as write()); it is then the disk's header.
  // A failed header write puts back the header the disk held before, so that no part of a header
  // stays behind.
  int32_t write_header(const FileHeader& h);
  bool write_header_image(std::span<uint8_t, kHeaderSize> image);
};

}  // namespace vtn::tarnwell
