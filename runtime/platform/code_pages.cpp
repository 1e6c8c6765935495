#include "runtime/platform/code_pages.hpp"

#include <array>

namespace vtn::platform {
namespace {

using detail::kAnsiToUnicode;
using detail::kOemToUnicode;

// The best fits for characters that one of the two code pages lacks: the character to try
// instead. Box drawing and blocks are handled as ranges in best_fit().
struct Fallback {
  char32_t from;
  char32_t to;
};

constexpr Fallback kFallbacks[] = {
    // Cyrillic letters without a partner: the base letter.
    {0x0403, 0x0413},  // Ѓ -> Г
    {0x0453, 0x0433},  // ѓ -> г
    {0x0490, 0x0413},  // Ґ -> Г
    {0x0491, 0x0433},  // ґ -> г
    {0x040C, 0x041A},  // Ќ -> К
    {0x045C, 0x043A},  // ќ -> к
    {0x0408, 'J'},     // Ј
    {0x0458, 'j'},     // ј
    {0x0406, 'I'},     // І
    {0x0456, 'i'},     // і
    {0x0405, 'S'},     // Ѕ
    {0x0455, 's'},     // ѕ
    // Punctuation and signs.
    {0x201A, ','},     // ‚
    {0x201E, '"'},     // „
    {0x201C, '"'},     // “
    {0x201D, '"'},     // ”
    {0x2018, '\''},    // ‘
    {0x2019, '\''},    // ’
    {0x2039, '<'},     // ‹
    {0x203A, '>'},     // ›
    {0x00AB, '<'},     // «
    {0x00BB, '>'},     // »
    {0x2013, '-'},     // –
    {0x2014, '-'},     // —
    {0x00AD, '-'},     // soft hyphen
    {0x00AC, '-'},     // ¬
    {0x2026, '.'},     // …
    {0x2020, '+'},     // †
    {0x2021, '+'},     // ‡
    {0x00B1, '+'},     // ±
    {0x2030, '%'},     // ‰
    {0x20AC, 'E'},     // €
    {0x00A9, 'c'},     // ©
    {0x00AE, 'R'},     // ®
    {0x00B5, 'u'},     // µ
    {0x00A6, '|'},     // ¦
    {0x2022, 0x2219},  // • -> ∙
    {0x2219, 0x2022},  // ∙ -> •
    {0x2502, '|'},     // │
    {0x2551, '|'},     // ║
    {0x2500, '-'},     // ─
    {0x2550, '-'},     // ═
};

constexpr char32_t best_fit(char32_t u) {
  for (const Fallback& f : kFallbacks) {
    if (f.from == u) return f.to;
  }
  if (u >= 0x2500 && u <= 0x257F) return '+';  // corners, tees and crosses
  if (u >= 0x2580 && u <= 0x259F) return '#';  // blocks and shades
  return '?';
}

constexpr uint8_t find_byte(const char16_t (&table)[256], char32_t u) {
  if (u < 0x80) return static_cast<uint8_t>(u);
  if (u == 0xFFFD) return 0;
  for (int b = 0x80; b < 256; ++b) {
    if (table[b] == u) return static_cast<uint8_t>(b);
  }
  return 0;
}

constexpr uint8_t find_with_fallback(const char16_t (&table)[256], char32_t u) {
  if (u == 0) return 0;
  if (const uint8_t b = find_byte(table, u)) return b;
  const char32_t fit = best_fit(u);
  if (const uint8_t b = find_byte(table, fit)) return b;
  return '?';
}

constexpr std::array<uint8_t, 256> make_cross_table(const char16_t (&from)[256],
                                                    const char16_t (&to)[256]) {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = find_with_fallback(to, from[c]);
  return table;
}

constexpr std::array<uint8_t, 256> kAnsiToOem = make_cross_table(kAnsiToUnicode, kOemToUnicode);
constexpr std::array<uint8_t, 256> kOemToAnsi = make_cross_table(kOemToUnicode, kAnsiToUnicode);

void append_utf8(std::string& out, char32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

std::string to_utf8(std::string_view text, const char16_t (&table)[256]) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) append_utf8(out, table[static_cast<uint8_t>(c)]);
  return out;
}

// Decodes one UTF-8 character at `i`, advancing `i`. Returns U+FFFD for a malformed sequence
// (then only its first byte is consumed), an overlong form or a surrogate.
char32_t decode_utf8(std::string_view text, size_t& i) {
  const auto b = static_cast<uint8_t>(text[i++]);
  if (b < 0x80) return b;
  int extra = 0;
  char32_t u = 0;
  char32_t minimum = 0;
  if ((b & 0xE0) == 0xC0) {
    extra = 1, u = b & 0x1F, minimum = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, u = b & 0x0F, minimum = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, u = b & 0x07, minimum = 0x10000;
  } else {
    return 0xFFFD;
  }
  if (i + extra > text.size()) return 0xFFFD;
  for (int k = 0; k < extra; ++k) {
    const auto c = static_cast<uint8_t>(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0xFFFD;
    u = (u << 6) | (c & 0x3F);
  }
  i += extra;
  if (u < minimum || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return 0xFFFD;
  return u;
}

}  // namespace

char16_t ansi_to_unicode(uint8_t c) {
  return kAnsiToUnicode[c];
}

char16_t oem_to_unicode(uint8_t c) {
  return kOemToUnicode[c];
}

uint8_t unicode_to_ansi_exact(char32_t u) {
  return find_byte(kAnsiToUnicode, u);
}

uint8_t unicode_to_oem_exact(char32_t u) {
  return find_byte(kOemToUnicode, u);
}

uint8_t unicode_to_ansi(char32_t u) {
  return find_with_fallback(kAnsiToUnicode, u);
}

uint8_t unicode_to_oem(char32_t u) {
  return find_with_fallback(kOemToUnicode, u);
}

std::string wide_to_ansi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t u : text) {
    const uint8_t b = unicode_to_ansi_exact(u);
    out += (b == 0 && u != 0) ? '?' : static_cast<char>(b);
  }
  return out;
}

uint8_t ansi_to_oem_char(uint8_t c) {
  return kAnsiToOem[c];
}

uint8_t oem_to_ansi_char(uint8_t c) {
  return kOemToAnsi[c];
}

void ansi_to_oem(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(kAnsiToOem[static_cast<uint8_t>(text[i])]);
  }
}

void oem_to_ansi(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(kOemToAnsi[static_cast<uint8_t>(text[i])]);
  }
}

std::string ansi_to_oem(std::string_view text) {
  std::string out(text);
  ansi_to_oem(out.data(), out.size());
  return out;
}

std::string oem_to_ansi(std::string_view text) {
  std::string out(text);
  oem_to_ansi(out.data(), out.size());
  return out;
}

std::string ansi_to_utf8(std::string_view ansi) {
  return to_utf8(ansi, kAnsiToUnicode);
}

std::string oem_to_utf8(std::string_view oem) {
  return to_utf8(oem, kOemToUnicode);
}

std::string utf8_to_ansi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t u = decode_utf8(utf8, i);
    out += static_cast<char>(u == 0xFFFD ? '?' : unicode_to_ansi(u));
  }
  return out;
}

}  // namespace vtn::platform
