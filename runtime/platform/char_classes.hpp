// Character classes and case of the ANSI code page (1251), as the platform reports them: the
// stand-ins for IsCharAlphaA, IsCharUpperA, CharUpperA and CharLowerA. The table is generated from
// the Unicode properties of each character (tools/collation/gen_platform_tables.sh).
//
// Letters are A-Z, a-z, the Cyrillic letters of the page (А-я, Ё ё, Ђ Ѓ Љ Њ Ќ Ћ Џ Ў Ј Ґ Є Ї І Ѕ
// and their lower-case forms) and µ, which has no upper case in 1251. Case mapping stays inside
// the code page: a character whose partner 1251 lacks maps to itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtn::platform {

bool is_char_alpha(uint8_t c);
bool is_char_upper(uint8_t c);
bool is_char_lower(uint8_t c);
uint8_t char_upper(uint8_t c);
uint8_t char_lower(uint8_t c);

// Buffers in place (CharUpperBuffA, CharLowerBuffA).
void char_upper_buffer(char* text, size_t length);
void char_lower_buffer(char* text, size_t length);

}  // namespace vtn::platform
