#include "runtime/files/tarnwell/table_lock.hpp"

#include "runtime/files/tarnwell/access_locks.hpp"
#include "runtime/files/tarnwell/lock_retry.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kAlreadyLocked = 32;
constexpr uint32_t kTicksPerSecond = 100;

// One try: 0, 32 while another holder has the byte, or the system's error.
int32_t try_lock(RecordFile& file, uint32_t table) {
  const int32_t result = file.lock_number_byte(table);
  return result == static_cast<int32_t>(platform::kErrorLockViolation) ? kAlreadyLocked : result;
}

// Waits until the tick clock reaches `until` (wrapping like the clock itself).
void wait_for_tick(uint32_t until) {
  for (uint32_t tries = 0; static_cast<int32_t>(tick_clock() - until) < 0; ++tries) {
    pause_before_retry(tries + kYieldingTries);  // a second is long: sleep from the start
  }
}

}  // namespace

int32_t lock_table(RecordFile& file, uint32_t table, int32_t seconds) {
  int32_t result = try_lock(file, table);
  if (seconds < 0) {
    for (uint32_t tries = 0; result == kAlreadyLocked; ++tries) {
      pause_before_retry(tries);
      result = try_lock(file, table);
    }
    return result;
  }
  const uint32_t deadline = tick_clock() + static_cast<uint32_t>(seconds) * kTicksPerSecond;
  while (result == kAlreadyLocked && static_cast<int32_t>(tick_clock() - deadline) < 0) {
    const uint32_t next = tick_clock() + kTicksPerSecond;
    wait_for_tick(static_cast<int32_t>(next - deadline) < 0 ? next : deadline);
    result = try_lock(file, table);
  }
  return result;
}

int32_t unlock_table(RecordFile& file, uint32_t table) {
  return file.unlock_number_byte(table);
}

}  // namespace vtn::tarnwell
