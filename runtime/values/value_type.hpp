// ValueType: the one-byte type code of every run-time value, with the names that traces and dumps
// print and the natural kind through which values of a type convert.
#pragma once

#include <cstdint>
#include <string_view>

namespace vtn {

enum class ValueType : uint8_t {
  END = 0,  // ends a list of field descriptors
  BYTE = 1,
  SHORT = 2,
  USHORT = 3,
  DATE = 4,
  TIME = 5,
  LONG = 6,
  ULONG = 7,
  SREAL = 8,
  REAL = 9,
  DECIMAL = 10,
  PDECIMAL = 11,
  DUM1 = 12,
  BFLOAT4 = 13,
  BFLOAT8 = 14,
  ANY = 15,
  TEMPUFO = 16,
  // 17 is reserved and has no name.
  STRING = 18,
  CSTRING = 19,
  PSTRING = 20,
  MEMO = 21,
  GROUP = 22,
  CLASS = 23,
  ARRAY = 24,
  FIELD = 25,
  QUEUE = 26,
  BLOB = 27,
  STACKSTR = 28,
  PICTURE = 29,
  STDNUM = 30,

  // Internal codes that only typed references use; they have no printable name.
  // An ANY reached by reference (an ANY field of a group or queue): the class and behaviour of ANY.
  ANY_REFERENCE = 31,
  // Temporaries that own their storage (the typed-reference factory allocates it): a text of the
  // given size, a LONG and a REAL. Their type code is that of their storage (STRING, LONG, REAL).
  TEMP_STRING = 42,
  TEMP_LONG = 43,
  TEMP_REAL = 45,
};

// The name of a type code for traces: "BYTE", "STRING", ...; "(17)" for the reserved code 17 and
// "UNKNOWN" for every code outside 0 to 30.
std::string_view value_type_name(uint8_t code);
inline std::string_view value_type_name(ValueType type) {
  return value_type_name(static_cast<uint8_t>(type));
}

// The natural kind of a storage type: LONG for the integers, DATE and TIME; REAL for the floating
// types; STRING for the text types (and GROUP); DECIMAL for the packed decimals. END for types
// that have no value of their own.
ValueType natural_kind_of(ValueType type);

// The size in bytes of a type whose size the type fixes (BYTE 1, LONG 4, REAL 8, ...); 0 for the
// types whose size the declaration gives (text, decimals) and for those without storage rules.
uint32_t fixed_size_of(ValueType type);

}  // namespace vtn
