// The access locks of a record file: how processes sharing a file keep out of each other's way.
//
// Every lock is a byte-range lock far beyond the data, at offsets from 0x80000000:
//
//   0x80000000 + 0 .. 1,022     reader slots: a reading access holds its handle's slot
//   0x80000000 + 0, 1,023 long  the exclusive reader lock: a flush holds every slot at once, so
//                               no reader is inside an access while pages are written
//   0x80000000 + 1,023          the writer byte: at most one writing access at a time
//   0x80000000 + 1,024 + n + 1  the lock of table n and the hold of record n (one byte each;
//                               tables and records share the number counter, so never clash)
//
// Locks never wait inside the system call; waiting is retrying. A waiting caller yields the
// processor between tries, and after 64 tries in a row sleeps a millisecond between tries, so a
// long wait neither spins a core nor reacts late. A reader slot starts at the tick clock modulo
// 1,023; every failure to take it moves the handle to the next slot, so a waiting reader finds a
// free one. A file opened exclusively takes no locks at all: nobody else can open it.
#pragma once

#include <cstdint>

#include "runtime/platform/file_handle.hpp"

namespace vtn::tarnwell {

inline constexpr uint64_t kLockRegion = 0x8000'0000;
inline constexpr uint32_t kReaderSlots = 1023;
inline constexpr uint64_t kWriterByte = kLockRegion + kReaderSlots;

inline uint64_t reader_slot_byte(uint16_t slot) {
  return kLockRegion + slot;
}
// Above the reader slots and the writer byte for every 32-bit n (offsets are 64-bit).
inline uint64_t number_byte(uint32_t n) {
  return kLockRegion + 1024 + uint64_t{n} + 1;
}

// What an access code asks for (0x142, 0x42, 0x22, 0x40, a program's OPEN mode, ...).
struct AccessBits {
  bool write = false;        // (mode & 3) != 0
  bool shared = false;       // (mode & 0x30) == 0: others read and write
  bool deny_write = false;   // (mode & 0x30) == 0x20: others only read
  bool exclusive = false;    // 0x10 or 0x30: nobody else
  bool create = false;       // 0x100: created when missing
  bool create_anew = false;  // 0x100 | 0x200: emptied
};
AccessBits decode_access_bits(uint32_t access_mode);

// The run-time's tick clock: hundredths of a second since the program started.
uint32_t tick_clock();

class AccessLocks {
 public:
  // `file` must outlive this object. No lock is ever taken when `exclusive`.
  AccessLocks(platform::FileHandle& file, bool exclusive)
      : file_(file),
        exclusive_(exclusive),
        slot_(tick_clock() % kReaderSlots),
        reader_(reader_slot_byte(slot_), 1) {}

  // Each returns 0, or 5 when the lock is held elsewhere and `wait` is false, or the system's
  // error when locking itself failed (a dead handle, ...).
  // The reader slot is taken at every access of a shared file: one system call when it is free.
  int32_t lock_reader(bool wait) {
    if (exclusive_ || file_.lock_prepared(reader_)) return 0;
    return lock_reader_after_failure(wait);
  }
  int32_t lock_writer(bool wait);
  // Waits until no reader is inside an access.
  int32_t lock_all_readers();
  void unlock_reader() {
    if (!exclusive_) file_.unlock_prepared(reader_);
  }
  void unlock_writer();
  void unlock_all_readers();

  // Never waits: 0, 33 when held elsewhere, or the system's error.
  int32_t lock_number(uint32_t n);
  int32_t unlock_number(uint32_t n);

  uint16_t slot() const { return slot_; }
  bool exclusive() const { return exclusive_; }

 private:
  int32_t lock_reader_after_failure(bool wait);

  platform::FileHandle& file_;
  bool exclusive_;
  uint16_t slot_;
  // The reader slot's lock, prepared once. It never overlaps another lock of the handle while
  // held: a flush locks every slot only inside a write access, which a read access gives way to.
  platform::PreparedByteLock reader_;
};

}  // namespace vtn::tarnwell
