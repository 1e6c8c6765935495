// Fault injection for the file handles, for crash-safety tests.
//
// A test arms a plan: fail the n-th write, cut the n-th write short, fail the n-th flush. While
// armed, every handle opened also keeps a journal of its writes that no flush has made durable
// yet, so that simulate_crash() can put the files back as a power cut would leave them: every
// such write lost, or (kTear) a random subset of their 512-byte sectors kept, landed in a random
// order.
//
// Unarmed, the cost is one relaxed load of a flag per open, write and flush; handles opened
// before arming are not journalled.
//
// Writes and flushes are counted from 1 across all handles, from the moment of arming. A flush
// makes durable the pending writes of every handle on the same file, as fdatasync does.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

namespace vtn::platform::fault {

struct Plan {
  uint32_t fail_write = 0;    // the n-th write fails, writing nothing (0: never)
  uint32_t write_error = 39;  // ...with this Windows error (disk full)
  uint32_t short_write = 0;   // the n-th write stores only its first half and reports so
  uint32_t fail_flush = 0;    // the n-th flush fails and makes nothing durable
  uint32_t flush_error = 31;  // ...with this Windows error (general failure)
};

enum class CrashMode : uint8_t {
  kLoseAll,  // every write since the last flush of its file is lost
  kTear,     // a random subset of their sectors reaches the disk, in a random order
};

namespace detail {
inline std::atomic<bool> g_armed{false};
}

inline bool armed() {
  return detail::g_armed.load(std::memory_order_relaxed);
}

void arm(const Plan& plan);
// Stops injecting and forgets every journal. Live handles keep working normally; handles that
// died in a crash stay dead until they are closed.
void disarm();

// Writes and flushes seen since arming (including the failed ones).
uint32_t writes_seen();
uint32_t flushes_seen();

// Undoes the non-durable writes of every journalled handle as described above, then makes those
// handles dead: their locks and sharing are dropped as a dead process's would be, and every later
// call on them fails with error 6 (invalid handle) until they are closed. Returns the number of
// writes that were pending.
uint32_t simulate_crash(CrashMode mode, uint32_t seed = 1);

// ---- hooks for the file handle (called only while armed) ----

// Starts a journal for a handle just opened on `path`; returns its id (never 0).
uint64_t attach(int fd, std::string_view path);
// Ends a journal; its pending writes stay pending (the data sits in the system's cache).
void detach(uint64_t journal);
bool is_dead(uint64_t journal);

struct WriteDecision {
  uint32_t error = 0;  // non-zero: fail the write with this error, writing nothing
  size_t length = 0;   // otherwise: the number of bytes to write (less than asked: short)
};
// Called before a write of `data` at `offset`; journals the bytes the write will change.
WriteDecision before_write(uint64_t journal, int fd, uint64_t offset,
                           std::span<const uint8_t> data);
// Called before a change of the file's size.
void before_resize(uint64_t journal, int fd, uint64_t new_size);
// Called before a flush: 0 to go ahead, or the error to fail it with.
uint32_t before_flush();
// Called after a successful flush of `fd`: the pending writes of its file are now durable.
void after_flush(int fd);

}  // namespace vtn::platform::fault
