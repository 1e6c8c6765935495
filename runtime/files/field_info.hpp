// The field-information service: what the file layer, the drivers and the trace learn about each
// field of a FILE's record. A RecordType is the compiled description of a RECORD; its fields are
// numbered from 1 in the order of definition, GROUP members included.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/values/value_type.hpp"

namespace vtn {

struct FieldDescriptor {
  static constexpr size_t kMaxDimensions = 4;

  std::string label;    // "PNM:NUMBER"
  uint8_t type = 0;     // the ValueType code
  uint32_t offset = 0;  // within the record buffer
  uint32_t size = 0;    // bytes of one element (a GROUP: its whole size)
  uint8_t places = 0;   // DECIMAL, PDECIMAL
  std::string picture;  // STRING, CSTRING, PSTRING: display picture, or empty
  std::array<uint32_t, kMaxDimensions> dimensions{};  // DIM, listed until the first zero
  std::string external_name;   // NAME when it differs from the label, else empty
  uint32_t group_members = 0;  // GROUP: number of fields that follow as its members (nested too)

  ValueType value_type() const { return static_cast<ValueType>(type); }
  // DECIMAL and PDECIMAL: the number of digits the size holds.
  uint32_t digits() const { return size * 2 - 1; }
  // The product of the dimensions (1 when not dimensioned).
  uint32_t element_count() const;
  uint32_t total_size() const { return size * element_count(); }
};

struct RecordType {
  std::vector<FieldDescriptor> fields;  // field number n is fields[n - 1]
  uint32_t size = 0;                    // bytes of the whole record
};

// Number of fields of a record type (0 for none).
uint32_t field_count(const RecordType* type);

// The descriptor of field `number` (from 1); null when there is no such field.
const FieldDescriptor* field_info(const RecordType* type, int32_t number);

// The number of the field with this label (compared without regard to case; a label without its
// prefix matches too), or 0.
int32_t field_number(const RecordType* type, std::string_view label);

// Clears a record buffer as the program's initialisation does: text fields to blanks (CSTRING
// and PSTRING to empty), everything else to zero bytes. `size` bytes are cleared in all; bytes
// outside every field become zero.
void clear_record(const RecordType* type, char* record, uint32_t size);

}  // namespace vtn
