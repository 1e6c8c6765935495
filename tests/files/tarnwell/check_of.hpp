// The check number an action fails with (0 when it completes).
#pragma once

#include <cstdint>

#include "runtime/files/tarnwell/internal_error.hpp"

namespace vtn::tarnwell {

template <typename Action>
int32_t check_of(Action&& action) {
  try {
    action();
  } catch (const InternalError& e) {
    return e.check();
  }
  return 0;
}

}  // namespace vtn::tarnwell
