// Code pages: Windows-1251 (the ANSI code page) and 866 (the OEM code page), and the conversions
// between them, Unicode and UTF-8.
//
// Everything the run-time stores, compares and writes is 1251. The program's own Russian texts
// are written in the source as UTF-8 and turned into 1251 by `vtn::ansi` (at run time) or by the
// literal suffix `_ansi` (at compile time); `ansi_to_utf8` turns 1251 back into UTF-8 for display.
//
// Conversion between the two code pages goes through Unicode, as CharToOemBuff and OemToCharBuff
// do. A character that the other code page lacks takes a best fit where one is obvious:
//   - a Cyrillic letter the other page lacks becomes its base letter (Ѓ Ґ -> Г, Ќ -> К, and the
//     lower-case forms); Ј І Ѕ and their lower-case forms become the Latin letters J I S;
//   - quotation marks become " or ' (« » ‹ › become < and >), dashes, soft hyphen and ¬ become -,
//     ‚ becomes a comma, … a full stop, † ‡ ± become +, ‰ %, € E, © c, ® R, µ u, ¦ |, • ∙;
//   - box drawing becomes | (vertical lines), - (horizontal lines) or + (corners, tees, crosses),
//     and the shades and blocks become #;
// everything else without a partner (Ђ Љ Њ Ћ Џ and their lower-case forms, §, ¶, ™, √, ■, the
// undefined 1251 byte 98h) becomes "?", the Windows default character. Codes below 80h are the
// same in both pages and never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/platform/code_page_tables.hpp"

namespace vtn::platform {

// The Unicode character of a byte (U+FFFD for the one undefined 1251 byte, 98h).
char16_t ansi_to_unicode(uint8_t c);
char16_t oem_to_unicode(uint8_t c);

// The byte of a Unicode character, or 0 when the code page has none.
uint8_t unicode_to_ansi_exact(char32_t u);
uint8_t unicode_to_oem_exact(char32_t u);

// The byte of a Unicode character with the best fit described above; "?" when there is none.
uint8_t unicode_to_ansi(char32_t u);
uint8_t unicode_to_oem(char32_t u);

// Wide text to 1251 ("?" for characters that 1251 lacks).
std::string wide_to_ansi(std::u16string_view text);

// ANSI <-> OEM, one character, a buffer in place, or a copy.
uint8_t ansi_to_oem_char(uint8_t c);
uint8_t oem_to_ansi_char(uint8_t c);
void ansi_to_oem(char* text, size_t length);
void oem_to_ansi(char* text, size_t length);
std::string ansi_to_oem(std::string_view text);
std::string oem_to_ansi(std::string_view text);

// Code-page text to UTF-8, for display and logs.
std::string ansi_to_utf8(std::string_view ansi);
std::string oem_to_utf8(std::string_view oem);

// UTF-8 to 1251. A character that 1251 lacks (after the best fit) and every byte of a malformed
// sequence become "?".
std::string utf8_to_ansi(std::string_view utf8);

}  // namespace vtn::platform

namespace vtn {

// A UTF-8 text of the source as 1251 bytes, converted at run time.
inline std::string ansi(std::u8string_view utf8) {
  return platform::utf8_to_ansi(
      std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}
inline std::string ansi(std::string_view utf8) {
  return platform::utf8_to_ansi(utf8);
}

namespace detail {

// A string literal as a template argument, so that `u8"Файл"_ansi` can be converted once, at
// compile time, into static storage.
template <typename Char, std::size_t N>
struct SourceLiteral {
  Char chars[N];
  consteval SourceLiteral(const Char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
};

template <std::size_t N>
struct AnsiLiteral {
  char bytes[N] = {};
  std::size_t size = 0;
};

// Fails to compile (throws in a constant expression) on malformed UTF-8 and on characters that
// 1251 does not have: a text of the program must be representable exactly.
template <typename Char, std::size_t N>
consteval AnsiLiteral<N> convert_literal(const SourceLiteral<Char, N>& source) {
  AnsiLiteral<N> out;
  std::size_t i = 0;
  const std::size_t end = N - 1;  // without the terminating NUL
  while (i < end) {
    const auto b = static_cast<unsigned char>(source.chars[i]);
    char32_t u = 0;
    int extra = 0;
    if (b < 0x80) {
      u = b;
    } else if ((b & 0xE0) == 0xC0) {
      u = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      u = b & 0x0F;
      extra = 2;
    } else {
      throw "only one- to three-byte UTF-8 characters exist in 1251";
    }
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= end) throw "truncated UTF-8 sequence";
      const auto c = static_cast<unsigned char>(source.chars[i]);
      if ((c & 0xC0) != 0x80) throw "malformed UTF-8 sequence";
      u = (u << 6) | (c & 0x3F);
    }
    char byte = 0;
    if (u < 0x80) {
      byte = static_cast<char>(u);
    } else {
      bool found = false;
      for (int c = 0x80; c < 256 && !found; ++c) {
        if (platform::detail::kAnsiToUnicode[c] == u && u != 0xFFFD) {
          byte = static_cast<char>(c);
          found = true;
        }
      }
      if (!found) throw "character not in code page 1251";
    }
    out.bytes[out.size++] = byte;
  }
  return out;
}

template <SourceLiteral S>
inline constexpr auto kAnsiLiteral = convert_literal(S);

}  // namespace detail

inline namespace literals {

// `u8"Файл не найден"_ansi` (or without the u8 prefix): the 1251 bytes of the text, converted
// at compile time, as a view of static storage. Outside namespace vtn: using namespace
// vtn::literals.
template <detail::SourceLiteral S>
constexpr std::string_view operator""_ansi() {
  return {detail::kAnsiLiteral<S>.bytes, detail::kAnsiLiteral<S>.size};
}

}  // namespace literals

}  // namespace vtn
