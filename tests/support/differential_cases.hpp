// How many random inputs a differential test (a rewritten routine against its former version,
// kept in the test) runs: millions in an optimised build, a tenth under AddressSanitizer so that
// each program stays within its time, and `VTN_DIFFERENTIAL_SCALE` times as many when that
// variable is set (the long mode, e.g. VTN_DIFFERENTIAL_SCALE=20).
#pragma once

#include <cstdint>
#include <cstdlib>

namespace vtn::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

#if defined(NDEBUG)
inline constexpr bool kOptimised = true;
#else
inline constexpr bool kOptimised = false;
#endif

// `full` cases in an optimised build; fewer in a sanitised or unoptimised one.
inline int64_t differential_cases(int64_t full) {
  int64_t cases = kSanitized ? full / 10 : (kOptimised ? full : full / 4);
  if (const char* scale = std::getenv("VTN_DIFFERENTIAL_SCALE")) {
    const long factor = std::strtol(scale, nullptr, 10);
    if (factor > 0) cases *= factor;
  }
  return cases;
}

}  // namespace vtn::testing
