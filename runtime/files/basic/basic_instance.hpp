// The comma-delimited driver's state for one FILE: the common header of every driver, then the
// open text file, where the current record lies, the options and the field table.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/files/basic/basic_options.hpp"
#include "runtime/files/basic/buffered_text_file.hpp"
#include "runtime/files/basic/field_table.hpp"
#include "runtime/files/basic/line_syntax.hpp"
#include "runtime/files/file_block.hpp"

namespace vtn::basic {

// BasicInstance::flags.
inline constexpr uint8_t BF_CURRENT = 0x1;    // a current record exists
inline constexpr uint8_t BF_SHARED = 0x2;     // opened deny-none
inline constexpr uint8_t BF_READ_ONLY = 0x4;  // opened for reading only

struct BasicInstance : DriverInstance {
  uint8_t flags = 0;
  uint8_t lock_depth = 0;  // nesting of the driver's one-byte lock at offset 0
  BufferedTextFile text;
  uint64_t record_offset = 0;  // of the current record
  uint64_t line_length = 0;    // its bytes, end of record and anything passed over included
  uint64_t file_size = 0;      // as last read
  uint64_t next_pointer = 0;   // the pointer NEXT reads (offset + 1)
  BasicOptions options;
  FieldTable table;
  std::vector<char> conversion_record;  // OEM files: the record as written
  std::vector<char> cleared_record;     // the RECORD after CLEAR, taken at OPEN

  bool shared() const { return (flags & BF_SHARED) != 0; }
  // The syntax of the current options, kept ready for every record.
  const LineSyntax& syntax() const { return syntax_; }
  // REQUIRES: called after every change of `options` (the syntax views its texts).
  void options_changed() { syntax_ = LineSyntax::of(options); }
  // Writes may wait in the write buffer when no other handle can write the file.
  bool may_hold_back_writes() const { return (open_mode & 0x30) != 0; }

 private:
  LineSyntax syntax_;
};

}  // namespace vtn::basic
