// The fields of a stored record as values for other tools: numbers as numbers, texts in UTF-8
// without their trailing blanks, dates ("2026-12-07") and times ("13:45:07.25") as ISO text,
// decimals as exact text ("-12.50"), memos as text and blobs as bytes. GROUPs carry no value of
// their own (their members follow as fields).
#pragma once

#include <cstdint>
#include <span>
#include <string>
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

struct Column {
  std::string label;  // UTF-8
  enum class Source { field, memo } source = Source::field;
  size_t index = 0;  // in the definition's fields or memos
  uint8_t type = 0;  // the field's type code
};

// The columns of a table: every field but GROUPs, then every memo.
std::vector<Column> columns_of(const vtn::tarnwell::TableDefinition& definition);

// The value of a field of a record buffer; `oem`: the table keeps its text in the OEM code page.
// A field that does not lie within the buffer is null.
FieldValue field_value(const vtn::tarnwell::FieldDefinition& field, std::span<const uint8_t> buffer,
                       bool oem);

// A memo's contents (as read_memo_contents gives them) as a value.
FieldValue memo_value(const vtn::tarnwell::MemoDefinition& memo,
                      const std::vector<uint8_t>& contents, bool oem);

// ISO texts of the stored DATE (day, month, year16) and TIME (hundredths, seconds, minutes,
// hours); empty for 0 (no date or time) and for a value that is not a date or a time.
std::string iso_date(std::span<const uint8_t, 4> stored);
std::string iso_time(std::span<const uint8_t, 4> stored);

}  // namespace twl
