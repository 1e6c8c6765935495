// Code pages: Windows-1251 (the ANSI code page) and 866 (the OEM code page), and the conversions
// between them, Unicode and UTF-8.
//
// Conversion between the two code pages goes through Unicode. A character with no partner in the
// other code page becomes the partner's best fit where one is obvious (the same letter without its
// accent, a similar box-drawing or quotation mark), otherwise "?" (the Windows default character).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn::platform {

// The Unicode character of a byte (U+FFFD for the one undefined 1251 byte, 98h).
char16_t ansi_to_unicode(uint8_t c);
char16_t oem_to_unicode(uint8_t c);

// The byte of a Unicode character, or 0 when the code page has none.
uint8_t unicode_to_ansi_exact(char32_t u);
uint8_t unicode_to_oem_exact(char32_t u);

// Wide text to 1251 ("?" for characters that 1251 lacks).
std::string wide_to_ansi(std::u16string_view text);

}  // namespace vtn::platform
