// Key values: how the fields of a record become the bytes of a key entry.
//
// Each component field's bytes are turned into bytes that compare, unsigned and byte by byte, in
// the order of the field's values:
//   STRING, GROUP      the bytes; upper-cased for a case-insensitive key; then each byte mapped
//                      to its rank in the table's collation (the OEM ranks of the OEM byte when
//                      the table keeps text in OEM)
//   CSTRING            the bytes up to the zero, zero-filled to the field's size; then as STRING
//   PSTRING            the counted bytes, zero-filled to the field's size; then as STRING
//   USHORT ULONG DATE TIME   most significant byte first
//   SHORT LONG         most significant byte first, sign bit inverted
//   SREAL REAL         most significant byte first; positive: sign bit set; negative: every byte
//                      complemented (the component's direction is inverted for the value)
//   DECIMAL            the packed bytes; a sign nibble clears and inverts the direction; then the
//                      first byte's top bit inverted
//   anything else      the bytes as they stand
// A descending component (after the inversions) has every byte b replaced by 255 - b. The value's
// length is the sum of the component fields' sizes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/files/tarnwell/record_kinds.hpp"

namespace vtn {
struct CharTables;
}

namespace vtn::tarnwell {

// The 1,152 bytes of a table's collation record, in the run-time's layout:
//   0     256  collation ranks of ANSI text
//   256   256  collation ranks of OEM text
//   512   256  case partner of each code (0: none)
//   768   256  case class of each code (1 upper, 2 lower, 4 digit)
//   1024  48   digraphs of ANSI text (16 x character, first, second)
//   1072  48   digraphs of OEM text
//   1120  32   zero
struct TableCollation {
  std::array<uint8_t, kCollationTablesSize> bytes{};
  bool oem = false;  // the table keeps its text in the OEM code page

  const uint8_t* ranks() const { return bytes.data() + (oem ? 256 : 0); }
  uint8_t upper(uint8_t c) const {
    return bytes[768 + c] == 2 && bytes[512 + c] != 0 ? bytes[512 + c] : c;
  }
};

// The run-time's current tables, as a new table stores them.
TableCollation collation_from(const CharTables& tables, bool oem);
// Byte order with ASCII case pairs: the tables of a run-time that no locale has touched.
TableCollation default_collation(bool oem);

struct KeyComponent {
  uint8_t type = 0;  // ValueType code of the field
  uint32_t offset = 0;
  uint32_t size = 0;
  bool descending = false;
};

struct KeyShape {
  std::vector<KeyComponent> components;
  bool case_insensitive = false;
  uint32_t value_length = 0;  // the sum of the component sizes
};

// Encodes the key value of `record` into `out` (value_length bytes).
// REQUIRES: every component lies within `record`; out.size() >= shape.value_length.
void encode_key_value(const KeyShape& shape, std::span<const uint8_t> record,
                      const TableCollation& collation, std::span<uint8_t> out);

// The same for many records of one shape and collation (a key build): the case and collation
// mapping of text is made once, as one table of the 256 bytes. The shape must outlive it; the
// collation is read only here.
class KeyEncoder {
 public:
  KeyEncoder(const KeyShape& shape, const TableCollation& collation);
  void encode(std::span<const uint8_t> record, std::span<uint8_t> out) const;

 private:
  const KeyShape& shape_;
  std::array<uint8_t, 256> text_map_;
};

}  // namespace vtn::tarnwell
