#include "runtime/files/tarnwell/access_locks.hpp"

#include "runtime/files/tarnwell/lock_retry.hpp"
#include "runtime/platform/clock.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kAccessDenied = 5;

const uint32_t g_program_start = platform::tick_count();

// Goes on trying `attempt` (true: taken) after a try that failed, until one succeeds or a try
// fails for a reason other than another holder. Returns 0 or the error.
template <typename Attempt>
int32_t retry_after_failure(bool wait, Attempt&& attempt) {
  for (uint32_t tries = 0;; ++tries) {
    const uint32_t error = platform::last_error();
    if (error != platform::kErrorLockViolation) return static_cast<int32_t>(error);
    if (!wait) return kAccessDenied;
    pause_before_retry(tries);
    if (attempt()) return 0;
  }
}

template <typename Attempt>
int32_t retry(bool wait, Attempt&& attempt) {
  if (attempt()) return 0;
  return retry_after_failure(wait, attempt);
}

}  // namespace

AccessBits decode_access_bits(uint32_t mode) {
  AccessBits bits;
  bits.write = (mode & 3u) != 0;
  const uint32_t sharing = mode & 0x30u;
  bits.shared = sharing == 0;
  bits.deny_write = sharing == 0x20;
  bits.exclusive = sharing == 0x10 || sharing == 0x30;
  bits.create = (mode & 0x100u) != 0;
  bits.create_anew = bits.create && (mode & 0x200u) != 0;
  return bits;
}

uint32_t tick_clock() {
  return (platform::tick_count() - g_program_start) / 10;
}

int32_t AccessLocks::lock_reader_after_failure(bool wait) {
  const auto next_slot = [this] {
    slot_ = static_cast<uint16_t>((slot_ + 1) % kReaderSlots);
    reader_.move_to(reader_slot_byte(slot_));
  };
  next_slot();  // the first try failed
  return retry_after_failure(wait, [&] {
    if (file_.lock_prepared(reader_)) return true;
    next_slot();
    return false;
  });
}

int32_t AccessLocks::lock_writer(bool wait) {
  if (exclusive_) return 0;
  return retry(wait, [&] { return file_.lock(kWriterByte, 1); });
}

int32_t AccessLocks::lock_all_readers() {
  if (exclusive_) return 0;
  return retry(true, [&] { return file_.lock(kLockRegion, kReaderSlots); });
}

void AccessLocks::unlock_writer() {
  if (!exclusive_) file_.unlock(kWriterByte, 1);
}

void AccessLocks::unlock_all_readers() {
  if (!exclusive_) file_.unlock(kLockRegion, kReaderSlots);
}

int32_t AccessLocks::lock_number(uint32_t n) {
  if (exclusive_) return 0;
  if (file_.lock(number_byte(n), 1)) return 0;
  return static_cast<int32_t>(platform::last_error());
}

int32_t AccessLocks::unlock_number(uint32_t n) {
  if (exclusive_) return 0;
  if (file_.unlock(number_byte(n), 1)) return 0;
  return static_cast<int32_t>(platform::last_error());
}

}  // namespace vtn::tarnwell
