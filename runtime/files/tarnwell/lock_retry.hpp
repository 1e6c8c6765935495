// How the driver's waiting loops give the processor away between tries.
//
// Locks never wait inside the system call; a caller that must wait tries again. The first tries
// of a wait only yield the processor (a lock held for one short access is usually free again
// within microseconds); after that every try sleeps a millisecond first, so that a long wait (a
// record held for minutes, HOLDfile or LOCKfile without a limit) neither spins a core nor reacts
// late.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace vtn::tarnwell {

inline constexpr uint32_t kYieldingTries = 64;

// REQUIRES: `tries` counts the failed tries of this wait so far, from 0.
inline void pause_before_retry(uint32_t tries) {
  if (tries < kYieldingTries) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace vtn::tarnwell
