// Reads one line of a comma-delimited file into a record buffer.
//
// The values are taken in the order of the field table (field_table.hpp). At each value:
// the end of the record (its sequence, a Ctrl-Z when CTRLZISEOF is on, the end of the file or of
// the window) leaves this and every later value as the cleared record has it; before every value
// but the first, the text up to and past the next delimiter is passed over (a closing quote,
// blanks, the rest of a number); a delimiter right away is an empty value; blanks, tabs and CRs
// are skipped; then the value is converted:
//   integers, DATE, TIME  decimal digits (a sign for the signed types), up to the first other
//                         character; more digits than the field holds keep the low bytes
//   reals, decimals       a decimal number with an optional fraction and exponent; decimals are
//                         read exactly and rounded to the field's places
//   texts                 up to the field's capacity (one less for CSTRING and PSTRING); a text
//                         that begins with the quote character ends at the closing quote, holds
//                         delimiters, a doubled quote stands for one, and the end of record is
//                         data in it while ENDOFRECORDINQUOTE is on; a quoted text cut at the
//                         capacity has the rest of its quoted text passed over
// A number written between quotes (as spreadsheets write every value) reads as the number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/files/basic/buffered_text_file.hpp"
#include "runtime/files/basic/field_table.hpp"
#include "runtime/files/basic/line_syntax.hpp"

namespace vtn::basic {

struct ParsedLine {
  size_t used = 0;            // bytes from the start of the line to where parsing stopped
  bool end_consumed = false;  // the end-of-record sequence was passed: the line is complete
};

// Parses the line at text.data[0]. Values are taken from the first `window` bytes (the window
// of the record); sequences that begin inside it may reach beyond it, up to text.size. After the
// last value the rest of the line is passed over as far as text.size reaches.
// REQUIRES: `record` holds the cleared record; text.data[text.size] is readable.
ParsedLine parse_line(const FieldTable& table, const LineSyntax& syntax, const TextView& text,
                      size_t window, char* record);

// Where the line that parsing left at `used` ends: past its end-of-record sequence, at the end
// of the file or at a Ctrl-Z (CTRLZISEOF on). `from` is the file offset of `used`. Returns false
// when the file cannot be read.
bool find_line_end(BufferedTextFile& file, const LineSyntax& syntax, uint64_t from, uint64_t& end);

}  // namespace vtn::basic
