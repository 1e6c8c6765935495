#include "runtime/platform/collation_order.hpp"

#include <gtest/gtest.h>

namespace vtn::platform {
namespace {

int sign(int v) {
  return (v > 0) - (v < 0);
}

TEST(CollationOrder, OneCharacterComparisons) {
  struct Case {
    uint8_t a, b;
    int expected;
  };
  const Case cases[] = {
      {'a', 'A', -1},    // lower case first
      {'A', 'b', -1},    // then the next letter
      {'Z', 'a', 1},     //
      {'9', 'a', -1},    // digits before letters
      {' ', '0', -1},    // blanks and punctuation before digits
      {'z', 0xE0, -1},   // Latin before Cyrillic
      {0xE5, 0xC5, -1},  // е < Е
      {0xC5, 0xB8, -1},  // Е < ё
      {0xA8, 0xE6, -1},  // Ё < ж
      {0xDF, 0xE0, 1},   // Я after а
      {0x01, 0x02, 0},   // controls are not told apart
      {0x01, 0x7F, 0},   //
      {0x01, ' ', -1},   //
      {'q', 'q', 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sign(compare_one_character_texts(c.a, c.b)), c.expected)
        << int(c.a) << " vs " << int(c.b);
    EXPECT_EQ(sign(compare_one_character_texts(c.b, c.a)), -c.expected);
  }
}

}  // namespace
}  // namespace vtn::platform
