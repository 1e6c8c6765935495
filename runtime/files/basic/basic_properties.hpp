// The file properties of a comma-delimited FILE: what a program reads with GET_PROPERTY(file, n,
// element) and sets with SET_PROPERTY(file, n, value, element). Values and elements are text; a
// field is named by its number from 1. The numbers the record-file driver also answers mean the
// same there, so that a program asks both drivers alike.
//
//   property               read                                  set
//   0x7300 NAME            the file's name (its full path        the name the next OPEN uses:
//                          once it has been opened)              52 while open, 45 when empty
//   0x7301 LABEL           field n's label ("P:NAME")            -
//   0x7302 DRIVER          "BASIC"                               -
//   0x7303 DRIVEROPTIONS   the DRIVER options text               -
//   0x7305 RECORDSIZE      the record's length in bytes          -
//   0x7306 FIELDS          the number of fields                  -
//   0x7307..0x7309         keys, memos, blobs: "0"               -
//   0x730A TYPE            field n's type ("STRING")             -
//   0x730B SIZE            field n's size in bytes               -
//   0x730D PHYSICALFILE    the full path of the open file        -
//   0x7310 POINTER         the current record's pointer in       -
//                          decimal, beyond 4 GB as well; "0"
//                          without a current record
//   0x7340 OPTION          element = an option name as SEND      element = the option name: the
//                          takes it: the value SEND answers,     option takes the value as
//                          nothing changed (78 when unknown);    SEND("NAME=value") would give
//                          no element: every option as an        it (78 when unknown)
//                          options text
//   0x7341 FILESIZE        the size of the file in decimal       -
//
// A field number out of range reads as an empty text. PHYSICALFILE, POINTER and FILESIZE answer
// 37 on a closed file. Other numbers, and setting what is only read, answer 80. A file of this
// driver has no keys, so the key forms of the two operations never reach it (38 comes first).
#pragma once

#include <cstdint>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/file_properties.hpp"

namespace vtn::basic {

// The numbers, shared with the other drivers.
namespace prop = vtn::prop;

// GET_PROPERTY (72): operand 0 the property, strings[0] the element.
int32_t get_property(FileCall& call);
// SET_PROPERTY (71): operand 0 the property, strings[0] the value, strings[1] the element.
int32_t set_property(FileCall& call);

}  // namespace vtn::basic
