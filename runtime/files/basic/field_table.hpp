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

struct FieldTable {
  std::vector<TableField> fields;
  uint32_t value_count = 0;   // values in a line
  uint64_t longest_text = 0;  // the longest text a record can be written as (delimiters aside)
};

// Builds the table of `type` for a record of `record_length` bytes. Returns 0, 75 or 79.
int32_t build_field_table(const RecordType* type, uint32_t record_length, FieldTable& out);

// Calls visit(field, byte offset) for every value of a line, in order.
template <typename Visit>
void for_each_value(const FieldTable& table, Visit&& visit);

namespace detail {
template <typename Visit>
void visit_range(const std::vector<TableField>& fields, size_t first, size_t last, uint64_t delta,
                 Visit& visit) {
  for (size_t i = first; i < last; ++i) {
    const TableField& f = fields[i];
    const size_t end = f.type == ValueType::GROUP ? i + 1 + f.members : i + 1;
    if (!f.over) {
      for (uint32_t e = 0; e < f.elements; ++e) {
        const uint64_t at = delta + uint64_t{e} * f.size;
        if (f.type == ValueType::GROUP)
          visit_range(fields, i + 1, end, at, visit);
        else
          visit(f, static_cast<uint32_t>(f.offset + at));
      }
    }
    i = end - 1;
  }
}
}  // namespace detail

template <typename Visit>
void for_each_value(const FieldTable& table, Visit&& visit) {
  detail::visit_range(table.fields, 0, table.fields.size(), 0, visit);
}

}  // namespace vtn::basic
