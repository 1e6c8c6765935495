// The stored definition of a table: its fields, memos and keys as one byte stream, kept in
// 512-byte chunks (kind 0xFA records, sequence 0, 1, 2, ...).
//
//   u16 version (1; 2 when a memo is a blob)   u16 record length
//   u16 field count   u16 memo count   u16 key count
//   per field: u8 type, u16 offset, str name, u16 member, u16 size, u16 member, u16 member,
//              [DECIMAL 10, PDECIMAL 11: u8 digits, u8 places]
//              [STRING 18, CSTRING 19, PSTRING 20: u16 member, str picture]
//   per memo:  str name, str label, u16 size, u8 flags (0x04 blob, 0x02 binary)
//   per key:   str name, str label, u8 flags, u16 component count,
//              per component: u16 field index (from 0), u8 flags (descending)
// Numbers are little-endian; a 32-bit value is written as its low 16 bits. A string is its bytes
// and a zero; an empty string is 00 00 and an absent one 00 01. Every count and size is a
// 16-bit number; only the type code, the flags, digits and places are single bytes.
//
// The three 16-bit members around a field's size and the one before a picture are whatever the
// field descriptor holds there; the stream only carries and compares them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace vtn::tarnwell {

using DefinitionText = std::optional<std::string>;  // nullopt: absent

struct FieldDefinition {
  uint8_t type = 0;
  uint32_t offset = 0;
  DefinitionText name;
  uint16_t member_before_size = 0;
  uint32_t size = 0;
  uint16_t members_after_size[2] = {0, 0};
  uint8_t digits = 0;  // DECIMAL and PDECIMAL only
  uint8_t places = 0;
  uint16_t member_before_picture = 0;  // STRING, CSTRING and PSTRING only
  DefinitionText picture;

  bool operator==(const FieldDefinition&) const = default;
};

inline constexpr uint8_t kMemoBinary = 0x02;
inline constexpr uint8_t kMemoBlob = 0x04;

struct MemoDefinition {
  DefinitionText name;
  DefinitionText label;
  uint32_t size = 0;
  uint8_t flags = 0;

  bool is_blob() const { return flags & kMemoBlob; }
  bool operator==(const MemoDefinition&) const = default;
};

struct KeyComponentDefinition {
  uint16_t field = 0;  // index in the field list, from 0
  uint8_t flags = 0;   // descending
  bool operator==(const KeyComponentDefinition&) const = default;
};

struct KeyDefinition {
  DefinitionText name;
  DefinitionText label;
  uint8_t flags = 0;
  std::vector<KeyComponentDefinition> components;
  bool operator==(const KeyDefinition&) const = default;
};

struct TableDefinition {
  uint32_t record_length = 0;
  std::vector<FieldDefinition> fields;
  std::vector<MemoDefinition> memos;
  std::vector<KeyDefinition> keys;

  // 2 when any memo is a blob, else 1.
  uint16_t version() const;
  bool operator==(const TableDefinition&) const = default;
};

struct StoredDefinition {
  uint16_t version = 0;
  TableDefinition definition;
};

std::vector<uint8_t> write_definition(const TableDefinition& definition);

// Reads a stream; nothing when it is malformed (cut short, a bad string marker, an unknown
// version, bytes left over).
std::optional<StoredDefinition> read_definition(std::span<const uint8_t> stream);

// Whether the stored definition matches the declared one, member by member, as the stream
// would hold them, except that a key's flags are compared without bit 0x10, a blob's size may
// differ and memo flags are not compared.
bool definitions_match(const StoredDefinition& stored, const TableDefinition& declared);

// The stream cut into kind 0xFA records of at most 512 bytes.
std::vector<Record> definition_chunks(const Number& table, std::span<const uint8_t> stream);

// The stream put back together from a table's chunk records, in any order; nothing when a chunk
// is missing, malformed, of another table, or short before the last.
std::optional<std::vector<uint8_t>> join_definition_chunks(const Number& table,
                                                           std::span<const Record> chunks);

}  // namespace vtn::tarnwell
