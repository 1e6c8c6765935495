// The run-time version check: a program states the run-time version it was built for, and a
// run-time that cannot serve it refuses to run it.
#pragma once

#include <cstdint>
#include <string>

namespace vtn {

struct VersionNumbers {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  bool operator==(const VersionNumbers&) const = default;
};

// What this run-time is, and the major number (105h) a program must ask for.
inline constexpr VersionNumbers kRuntimeVersion{5, 2, 0};
inline constexpr uint32_t kRequiredMajor = 0x105;

// True when the run-time serves a program that asks for `wanted`: major 105h with a minor
// number of at most 2.
bool runtime_version_accepts(VersionNumbers wanted);

// The text of the refusal box.
std::string version_mismatch_text(VersionNumbers wanted);
inline constexpr const char* kVersionCaption = "Vortane 5 Runtime Library";

// Accepts and remembers `wanted`, or shows the refusal box (stop icon) and ends the process with
// exit code 0 without returning.
void check_runtime_version(VersionNumbers wanted);
// The numbers the program asked for (all zero before the check).
VersionNumbers requested_version();

}  // namespace vtn
