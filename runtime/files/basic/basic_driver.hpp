// The comma-delimited driver BASIC: FILEs whose data is a text file of records, one record per
// line, values separated by a delimiter, texts optionally in quotes (what spreadsheets call CSV).
// It has no keys, memos or transactions; a record is addressed by its byte position in the file
// (POINTER is the offset of its line plus 1).
//
// A program declares such a file like any other, naming basic_entry as its driver:
//
//   File request{FileDeclaration("NPK")
//                    .driver(basic_entry)              // or driver(basic_entry, "/QUOTE=39")
//                    .name("Mossgate.ini")
//                    .create().thread()
//                    .field("NAME", ftype::STRING(40))
//                    .field("PATH", ftype::STRING(120))};
//
//   SHARE(request);                 // or OPEN(request, access)
//   SET(request);
//   NEXT(request);                  // the first line; ERRORNUMBER() 33 when there is none
//   const auto& r = request.record_as<Request>();
//
// The operations, their options (basic_options.hpp) and the line format (record_parser.hpp,
// record_writer.hpp) are described beside their code. The driver runs the shared call sequence
// (call_sequence.hpp) and the driver trace (profile section XWBASIC, log BASIC.LOG).
#pragma once

#include <cstdint>

#include "runtime/files/file_block.hpp"

namespace vtn {

// The DriverEntry of BASIC.
int32_t basic_entry(int32_t code, FileBlock* file, const OperandWord* operands);

// The driver's registration record (SEND(file, 'REGISTER') answers its address).
const DriverRegistration& basic_registration();

}  // namespace vtn
