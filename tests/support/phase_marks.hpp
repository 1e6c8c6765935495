// Init and term routines for process-frame tests that leave a trail on standard error: routine
// X writes "X+ " when called at start-up and "X- " when called at the end, so a death test can
// match the order in which they ran.
#pragma once

#include <cstdint>
#include <cstdio>

#include "runtime/core/module_init.hpp"

namespace vtn::testing_support {

inline void mark(const char* text) {
  std::fputs(text, stderr);
}

template <char Name>
void phase_mark(int32_t phase) {
  const char text[] = {Name, phase == kModuleEnding ? '-' : '+', ' ', '\0'};
  mark(text);
}

}  // namespace vtn::testing_support
