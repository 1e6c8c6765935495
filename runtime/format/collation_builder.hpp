// Collation tables built from a collation sequence (the VTNCOLSEQ setting).
//
// A sequence of exactly 222 distinct characters is the complete order of the printable
// characters: its first 95 characters take the places of 20h-7Eh and its last 127 those of
// 80h-FEh; the controls, 7Fh and FFh keep their own ranks. Any other sequence only exchanges ranks
// among its own characters: the smallest code that occurs in it goes to its first character, the
// next smallest to its second, and so on ("ba" swaps a and b). Repeated characters count once,
// and the sequence ends at its first NUL.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/values/char_tables.hpp"

namespace vtn {

// The rank table (rank of each code) that a sequence gives.
std::array<uint8_t, 256> build_collation_table(std::string_view sequence);

// The platform's order of the characters 1 to 254: starting from character 1 alone, each next
// character is inserted after the last one that does not compare greater than it.
std::string windows_collation_sequence();

// Sets both collation tables of `tables` from a sequence: an empty one restores code order,
// "WINDOWS" (any case) turns the OEM flag off and takes the platform's order. The sequence is in
// the OEM code page when the OEM flag is on, else ANSI; the other table is built from it
// converted.
void apply_collation_sequence(CharTables& tables, std::string_view sequence);

}  // namespace vtn
