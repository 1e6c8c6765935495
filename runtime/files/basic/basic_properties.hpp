// The file properties of a comma-delimited FILE: what a program reads with GET_PROPERTY(file, n)
// and sets with SET_PROPERTY(file, n, value). Every value is text.
//
//   property          read                                    set
//   0x7300 DRIVER     "BASIC"                                 -
//   0x7301 NAME       the file's name (its full path once     the name the next OPEN uses;
//                     it has been opened)                     52 while open, 45 when empty
//   0x7302 OPTION     element = an option name (as SEND       element = the option name: the
//                     takes it): its value as SEND answers    option gets the value as
//                     it, nothing changed; no element: every  "NAME=value" would give it
//                     option as a driver options text         (unknown names: 78)
//   0x7303 POINTER    the current record's pointer in         -
//                     decimal, beyond 4 GB as well; 0
//                     without a current record
//   0x7304 FILESIZE   the size of the file in decimal         -
//                     (37 when the file is not open)
//
// Other property numbers, and setting what has no setter, are 80. A file of this driver has no
// keys, so that the key forms of the two operations never reach it (38 comes first).
#pragma once

#include <cstdint>

#include "runtime/files/call_sequence.hpp"

namespace vtn::basic {

inline constexpr int32_t kPropertyDriver = 0x7300;
inline constexpr int32_t kPropertyName = 0x7301;
inline constexpr int32_t kPropertyOption = 0x7302;
inline constexpr int32_t kPropertyPointer = 0x7303;
inline constexpr int32_t kPropertyFileSize = 0x7304;

// GET_PROPERTY (72): operand 0 the property, strings[0] the element.
int32_t get_property(FileCall& call);
// SET_PROPERTY (71): operand 0 the property, strings[0] the value, strings[1] the element.
int32_t set_property(FileCall& call);

}  // namespace vtn::basic
