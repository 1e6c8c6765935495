// The inverse of field_values: a value's text, as twl export writes it, stored into a field of a
// record buffer, or the reason it cannot be (a number out of the field's range, a text too long
// or with characters the code page lacks, a date that does not exist, ...).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "tools/twl/field_values.hpp"

namespace twl {

// Stores into the column's place in `buffer` (a field column, or one element of it). Returns
// empty on success, else the reason. An empty text stores zero (blanks for a STRING).
std::string store_field_text(const Column& column, std::string_view text,
                             std::span<uint8_t> buffer);

// The bytes of a blob or binary memo from the hexadecimal text export writes (two digits a byte,
// either case); false when the text is not that.
bool hex_to_bytes(std::string_view hex, std::string& bytes);

// A text in UTF-8 as Windows-1251 bytes; false when a character has no place in 1251.
bool utf8_to_ansi_exactly(std::string_view utf8, std::string& ansi);

}  // namespace twl
