// The field table of a comma-delimited file: the RECORD as the driver reads and writes it, one
// entry per field in definition order, GROUP members included.
//
// A line of the file holds one value per element of every field that owns its storage: a GROUP
// is no value, its members are (once per element of a dimensioned GROUP), and a field declared
// OVER another shares storage that is already written, so it is left out. A field counts as OVER
// when it is not the first, starts at or before the previous field and is not nested deeper than
// it, or lies inside a GROUP that is OVER.
//
// Only types that have a text form are accepted (79 otherwise); a field whose description does
// not fit the record, or GROUPs nested more than 100 deep, fail with 75.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/files/field_info.hpp"
#include "runtime/format/picture.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::basic {

inline constexpr uint32_t kMaxGroupDepth = 100;

// The picture that writes a DECIMAL or PDECIMAL field, compiled once ("@N-_11.2" for
// DECIMAL(9,2)). It lives on the heap because a compiled picture views its text.
struct DecimalPicture {
  std::string text;
  CompiledPicture compiled;
};

struct TableField {
  ValueType type = ValueType::END;
  uint32_t offset = 0;    // in the record buffer
  uint32_t size = 0;      // one element
  uint32_t elements = 1;  // product of the dimensions
  uint32_t members = 0;   // GROUP: the fields that follow as its members
  bool over = false;
  uint8_t places = 0;                             // DECIMAL, PDECIMAL
  std::shared_ptr<const DecimalPicture> picture;  // DECIMAL, PDECIMAL
  uint32_t depth = 0;                             // GROUP nesting

  uint32_t total_size() const { return size * elements; }
};

// One run of values of a line: `count` values of field `field`, the first at byte `offset` of
// the record, each `stride` bytes after the one before. A dimensioned field is one run; the
// members of a dimensioned GROUP get a run per element of the GROUP.
struct ValueRun {
  uint32_t field = 0;
  uint32_t offset = 0;
  uint32_t count = 0;
  uint32_t stride = 0;
};

struct FieldTable {
  std::vector<TableField> fields;
  std::vector<ValueRun> runs;  // the values of a line, in order
  uint32_t value_count = 0;    // values in a line
  uint64_t longest_text = 0;   // the longest text a record can be written as (delimiters aside)
};

// Builds the table of `type` for a record of `record_length` bytes. Returns 0, 75 or 79.
int32_t build_field_table(const RecordType* type, uint32_t record_length, FieldTable& out);

// Calls visit(field, byte offset) for every value of a line, in order.
template <typename Visit>
void for_each_value(const FieldTable& table, Visit&& visit) {
  for (const ValueRun& run : table.runs) {
    const TableField& f = table.fields[run.field];
    for (uint32_t e = 0, at = run.offset; e < run.count; ++e, at += run.stride) visit(f, at);
  }
}

}  // namespace vtn::basic
