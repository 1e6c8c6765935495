// Writes a record as one line of a comma-delimited file.
//
// The values follow the field table's order, separated by the field delimiter (none after the
// last), and the end-of-record sequence closes the line:
//   BYTE, USHORT, ULONG, DATE, TIME   unsigned decimal      SHORT, LONG   signed decimal
//   SREAL, REAL, BFLOAT4, BFLOAT8     6 significant digits  ("1.5", "-0.001", "1E+20")
//   DECIMAL, PDECIMAL                 the field's picture, leading blanks removed ("-12.50")
//   STRING, CSTRING, PSTRING          the text without trailing blanks, each quote doubled
// A text is written between quotes while ALWAYSQUOTE is on, and always when it holds the quote
// character, the delimiter or the end of record, or begins with a blank, tab or CR: a bare text
// like that would not read back as written (a line break splits the record, leading blanks are
// passed over). Numbers are never quoted.
#pragma once

#include <string>

#include "runtime/files/basic/field_table.hpp"
#include "runtime/files/basic/line_syntax.hpp"

namespace vtn::basic {

// Appends the line of `record` to `out`.
void write_line(const FieldTable& table, const LineSyntax& syntax, bool always_quote,
                const char* record, std::string& out);

// A REAL with 6 significant digits, as written to a line.
std::string short_real_text(double value);

}  // namespace vtn::basic
