#include "runtime/platform/collation_order.hpp"

namespace vtn::platform {
namespace {

#include "runtime/platform/collation_order_table.inc"

}  // namespace

int compare_one_character_texts(uint8_t a, uint8_t b) {
  return static_cast<int>(kOneCharacterKey[a]) - static_cast<int>(kOneCharacterKey[b]);
}

}  // namespace vtn::platform
