// The two detailed parts of a driver trace entry: the structure of a file, written once per run
// in the form of its source definition, and the contents of the record (memos as hex dumps, then
// every field by number) after a data operation.
//
//   /data/people.csv  FILE,DRIVER('BASIC','/QUOTE=39'),NAME('/data/people.csv'),CREATE
//                       RECORD
//   PEO:ID                LONG
//   PEO:NAME              STRING(40)
//   PEO:PARTS             GROUP, DIM(2)
//   PEO:PART                STRING(10)
//                         END
//                       END
//                     END
//
//     PEO:ID            : 17
//     PEO:NAME          : 'Smith                                   '
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/files/file_block.hpp"

namespace vtn {

// The label in a column of `width`: padded with blanks, or followed by one blank when it is as
// long as the column or longer.
void append_label(std::string& out, std::string_view label, size_t width);

void append_structure_dump(std::string& out, const DriverInstance& instance);

void append_record_contents(std::string& out, const FileBlock& file);

// The value lines of the key's components (SET(key, key)), then a line end.
void append_key_values(std::string& out, const FileBlock& file, const KeyBlock& key);

}  // namespace vtn
