// The fields of a stored record as values for other tools: numbers as numbers, texts in UTF-8
// without their trailing blanks, dates ("2026-12-07") and times ("13:45:07.25") as ISO text,
// decimals as exact text ("-12.50"), memos as text and blobs as bytes. GROUPs carry no value of
// their own (their members follow as fields).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/files/tarnwell/definition_stream.hpp"

namespace twl {

struct FieldValue {
  enum class Kind { null, integer, real, text, exact, blob };  // exact: a decimal's text
  Kind kind = Kind::null;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // text and exact (UTF-8), blob (raw bytes)
};

// One value of a record as the tools show it: a field that is not a GROUP, one element of a
// dimensioned field, or a memo. A dimensioned field (or a member of a dimensioned GROUP) gives
// one column per element, in the order the elements lie in the record, labelled "NAME[1]",
// "NAME[2]", ...; elements of nested dimensions are numbered through, the outer ones first.
struct Column {
  std::string label;     // UTF-8: the field's label, with "[n]" for an element
  std::string name;      // the field's label without the element number
  uint32_t element = 0;  // from 1 for an element of a dimensioned field, else 0
  enum class Source { field, memo } source = Source::field;
  size_t index = 0;     // in the definition's fields or memos
  uint8_t type = 0;     // the field's type code
  uint32_t offset = 0;  // a field: where the element lies in the record buffer ...
  uint32_t size = 0;    // ... and its bytes
  uint8_t places = 0;   // DECIMAL and PDECIMAL
};

// The columns of a table: its fields but GROUPs, element by element, then its memos. Throws
// std::invalid_argument when the definition would give more than kMaxColumns.
inline constexpr size_t kMaxColumns = 100'000;
std::vector<Column> columns_of(const vtn::tarnwell::TableDefinition& definition);

// The value of a field column in a record buffer into `out`, whose text storage is reused;
// `oem`: the table keeps its text in the OEM code page. A column that does not lie within the
// buffer is null.
void read_field(const Column& column, std::span<const uint8_t> buffer, bool oem, FieldValue& out);

// A memo's contents (as read_memo_contents gives them) as a value.
FieldValue memo_value(const vtn::tarnwell::MemoDefinition& memo,
                      const std::vector<uint8_t>& contents, bool oem);

// Appends code-page text as UTF-8.
void append_utf8(std::string& out, std::string_view stored, bool oem);

// ISO texts of the stored DATE (day, month, year16) and TIME (hundredths, seconds, minutes,
// hours); empty for 0 (no date or time) and for a value that is not a date or a time.
std::string iso_date(std::span<const uint8_t, 4> stored);
std::string iso_time(std::span<const uint8_t, 4> stored);

}  // namespace twl
