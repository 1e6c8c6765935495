#include "runtime/values/value_hash.hpp"

#include <bit>

namespace vtn {

uint32_t value_hash(std::span<const uint8_t> bytes) {
  uint32_t h = kValueHashSeed;
  uint32_t still_to_come = static_cast<uint32_t>(bytes.size());
  for (const uint8_t b : bytes) {
    --still_to_come;
    h = (h & 0xFFFFFF00u) | static_cast<uint8_t>((h & 0xFF) + b);
    h = std::rotl(h, 3);
    h = h + still_to_come + (h & 1u);
  }
  return h;
}

}  // namespace vtn
