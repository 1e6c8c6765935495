#include "runtime/platform/char_classes.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vtn::platform {
namespace {

TEST(CharClasses, SelectedCharacters) {
  struct Case {
    uint8_t c;
    bool alpha, upper, lower;
    uint8_t to_upper, to_lower;
  };
  const Case cases[] = {
      {'A', true, true, false, 'A', 'a'},      {'z', true, false, true, 'Z', 'z'},
      {'5', false, false, false, '5', '5'},    {' ', false, false, false, ' ', ' '},
      {0xC0, true, true, false, 0xC0, 0xE0},    // А
      {0xFF, true, false, true, 0xDF, 0xFF},    // я
      {0xA8, true, true, false, 0xA8, 0xB8},    // Ё
      {0xB8, true, false, true, 0xA8, 0xB8},    // ё
      {0x80, true, true, false, 0x80, 0x90},    // Ђ
      {0x81, true, true, false, 0x81, 0x83},    // Ѓ (its lower case is not next to it)
      {0xB2, true, true, false, 0xB2, 0xB3},    // І
      {0xA5, true, true, false, 0xA5, 0xB4},    // Ґ
      {0xB5, true, false, true, 0xB5, 0xB5},    // µ: no upper case in 1251
      {0xB9, false, false, false, 0xB9, 0xB9},  // №
      {0xA0, false, false, false, 0xA0, 0xA0},  // no-break space
      {0x98, false, false, false, 0x98, 0x98},  // undefined
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(int(t.c));
    EXPECT_EQ(is_char_alpha(t.c), t.alpha);
    EXPECT_EQ(is_char_upper(t.c), t.upper);
    EXPECT_EQ(is_char_lower(t.c), t.lower);
    EXPECT_EQ(char_upper(t.c), t.to_upper);
    EXPECT_EQ(char_lower(t.c), t.to_lower);
  }
}

TEST(CharClasses, CasePartnersAreConsistent) {
  int letters = 0, pairs = 0;
  for (int i = 0; i < 256; ++i) {
    const auto c = static_cast<uint8_t>(i);
    letters += is_char_alpha(c);
    if (is_char_upper(c)) {
      EXPECT_TRUE(is_char_alpha(c)) << i;
      EXPECT_TRUE(is_char_lower(char_lower(c))) << i;
      EXPECT_EQ(char_upper(char_lower(c)), c) << i;
      ++pairs;
    }
    if (!is_char_alpha(c)) {
      EXPECT_EQ(char_upper(c), c) << i;
      EXPECT_EQ(char_lower(c), c) << i;
    }
  }
  // A-Z, А-Я, Ё and the 14 other Cyrillic capitals; the letters add their partners and µ.
  EXPECT_EQ(pairs, 26 + 32 + 1 + 14);
  EXPECT_EQ(letters, 2 * pairs + 1);
}

TEST(CharClasses, Buffers) {
  std::string text = "\xB8\xEB\xEA\xE0 Tree 1";  // ёлка
  char_upper_buffer(text.data(), text.size());
  EXPECT_EQ(text, "\xA8\xCB\xCA\xC0 TREE 1");
  char_lower_buffer(text.data(), 3);
  EXPECT_EQ(text, "\xB8\xEB\xEA\xC0 TREE 1");
}

}  // namespace
}  // namespace vtn::platform
