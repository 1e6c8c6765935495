#include "runtime/platform/code_pages.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vtn::platform {
namespace {

using namespace vtn::literals;

// Compile-time conversion: these fail to compile if the literal machinery is wrong.
static_assert(u8"Ёлка"_ansi == "\xA8\xEB\xEA\xE0");
static_assert("No. №5"_ansi ==
              "No. \xB9"
              "5");
static_assert(u8""_ansi.empty());

TEST(CodePages, CharactersSharedByBothPagesRoundTrip) {
  int shared = 0;
  for (int c = 0; c < 256; ++c) {
    const uint8_t oem = unicode_to_oem_exact(ansi_to_unicode(static_cast<uint8_t>(c)));
    if (oem == 0 && c != 0) continue;
    ++shared;
    EXPECT_EQ(ansi_to_oem_char(static_cast<uint8_t>(c)), oem) << c;
    EXPECT_EQ(oem_to_ansi_char(oem), c) << c;
  }
  // ASCII, А-я, Ёё Єє Її Ўў, ° · № ¤ and the no-break space.
  EXPECT_EQ(shared, 128 + 64 + 8 + 5);
}

TEST(CodePages, AnsiToOemBestFit) {
  struct Case {
    uint8_t ansi;
    uint8_t oem;
  };
  const Case cases[] = {
      {0xC0, 0x80},  // А
      {0xFF, 0xEF},  // я
      {0xE0, 0xA0},  // а
      {0xF0, 0xE0},  // р
      {0xA8, 0xF0},  // Ё
      {0xB8, 0xF1},  // ё
      {0xB9, 0xFC},  // №
      {0xA5, 0x83},  // Ґ -> Г
      {0xB4, 0xA3},  // ґ -> г
      {0x9D, 0xAA},  // ќ -> к
      {0xB3, 'i'},   // і
      {0xBD, 'S'},   // Ѕ
      {0xAB, '<'},   // «
      {0x93, '"'},   // “
      {0x97, '-'},   // —
      {0x95, 0xF9},  // • -> ∙
      {0x80, '?'},   // Ђ has no fit
      {0x99, '?'},   // ™
      {0x98, '?'},   // undefined in 1251
      {0x7F, 0x7F}, {0x00, 0x00},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ansi_to_oem_char(c.ansi), c.oem) << std::hex << int(c.ansi);
  }
}

TEST(CodePages, OemToAnsiBestFit) {
  struct Case {
    uint8_t oem;
    uint8_t ansi;
  };
  const Case cases[] = {
      {0x9F, 0xDF},  // Я
      {0xEF, 0xFF},  // я
      {0xB3, '|'},   // │
      {0xBA, '|'},   // ║
      {0xC4, '-'},   // ─
      {0xCD, '-'},   // ═
      {0xC5, '+'},   // ┼
      {0xC9, '+'},   // ╔
      {0xB0, '#'},   // ░
      {0xDB, '#'},   // █
      {0xF9, 0x95},  // ∙ -> •
      {0xFB, '?'},   // √
      {0xFE, '?'},   // ■
      {0xFF, 0xA0},  // no-break space
  };
  for (const Case& c : cases) {
    EXPECT_EQ(oem_to_ansi_char(c.oem), c.ansi) << std::hex << int(c.oem);
  }
}

TEST(CodePages, BufferConversionsInPlaceAndCopied) {
  std::string text = ansi(u8"Привет, мир!");
  const std::string original = text;
  const std::string oem = ansi_to_oem(text);
  EXPECT_EQ(oem, "\x8F\xE0\xA8\xA2\xA5\xE2, \xAC\xA8\xE0!");
  ansi_to_oem(text.data(), text.size());
  EXPECT_EQ(text, oem);
  oem_to_ansi(text.data(), text.size());
  EXPECT_EQ(text, original);
  EXPECT_EQ(oem_to_ansi(oem), original);
}

TEST(CodePages, EveryAnsiByteSurvivesUtf8) {
  for (int c = 1; c < 256; ++c) {
    const std::string one(1, static_cast<char>(c));
    const std::string back = utf8_to_ansi(ansi_to_utf8(one));
    // 98h is undefined in 1251: it is displayed as U+FFFD and cannot come back.
    EXPECT_EQ(back, c == 0x98 ? std::string("?") : one) << c;
  }
}

TEST(CodePages, Utf8ToAnsi) {
  struct Case {
    std::string utf8;
    std::string ansi;
  };
  const Case cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0", "\xA8\xEB\xEA\xE0"},  // Ёлка
      {"\xE2\x82\xAC", "\x88"},                                  // €
      {"\xE2\x94\x80", "-"},                                     // ─ best fit
      {"\xE2\x88\x9A", "?"},                                     // √ has none
      {"\xF0\x9F\x98\x80", "?"},                                 // outside the BMP
      {"\xC3", "?"},                                             // truncated
      {"a\xE2\x82", "a??"},                                      // truncated, then a stray byte
      {"\xC0\xAF", "?"},                                         // overlong "/"
      {"\xED\xA0\x80", "?"},                                     // surrogate
      {"\xFF"
       "x",
       "?x"},  // never valid
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_to_ansi(c.utf8), c.ansi) << c.utf8;
  }
}

TEST(CodePages, DisplayAsUtf8) {
  EXPECT_EQ(ansi_to_utf8("\xA8\xEB\xEA\xE0 \xB9"), "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 \xE2\x84\x96");
  EXPECT_EQ(oem_to_utf8("\xF0\xC4"), "\xD0\x81\xE2\x94\x80");  // Ё─
  EXPECT_EQ(ansi_to_utf8("\x98"), "\xEF\xBF\xBD");
}

TEST(CodePages, RuntimeAndCompileTimeLiteralsAgree) {
  EXPECT_EQ(ansi(u8"Файл не найден"), u8"Файл не найден"_ansi);
  EXPECT_EQ(ansi(u8"&OK,&Да,&Нет,Пре&рвать"), u8"&OK,&Да,&Нет,Пре&рвать"_ansi);
  EXPECT_EQ(ansi(u8"Длина ключа(индекса) превышает 245"),
            "Длина ключа(индекса) превышает 245"_ansi);
}

TEST(CodePages, WideToAnsiMarksMissingCharacters) {
  EXPECT_EQ(wide_to_ansi(u"\u0401\u2500x"), "\xA8?x");
}

}  // namespace
}  // namespace vtn::platform
