#include "runtime/values/value_type.hpp"

#include <array>

namespace vtn {
namespace {

struct TypeInfo {
  std::string_view name;
  ValueType natural;
  uint8_t fixed_size;
};

// Indexed by the type code, 0 to 30.
constexpr std::array<TypeInfo, 31> kTypes = {{
    {"END", ValueType::END, 0},         {"BYTE", ValueType::LONG, 1},
    {"SHORT", ValueType::LONG, 2},      {"USHORT", ValueType::LONG, 2},
    {"DATE", ValueType::LONG, 4},       {"TIME", ValueType::LONG, 4},
    {"LONG", ValueType::LONG, 4},       {"ULONG", ValueType::LONG, 4},
    {"SREAL", ValueType::REAL, 4},      {"REAL", ValueType::REAL, 8},
    {"DECIMAL", ValueType::DECIMAL, 0}, {"PDECIMAL", ValueType::DECIMAL, 0},
    {"DUM1", ValueType::END, 0},        {"BFLOAT4", ValueType::REAL, 4},
    {"BFLOAT8", ValueType::REAL, 8},    {"ANY", ValueType::END, 0},
    {"TEMPUFO", ValueType::END, 0},     {"(17)", ValueType::END, 0},
    {"STRING", ValueType::STRING, 0},   {"CSTRING", ValueType::STRING, 0},
    {"PSTRING", ValueType::STRING, 0},  {"MEMO", ValueType::STRING, 0},
    {"GROUP", ValueType::STRING, 0},    {"CLASS", ValueType::END, 0},
    {"ARRAY", ValueType::END, 0},       {"FIELD", ValueType::END, 0},
    {"QUEUE", ValueType::END, 0},       {"BLOB", ValueType::END, 0},
    {"STACKSTR", ValueType::STRING, 0}, {"PICTURE", ValueType::END, 0},
    {"STDNUM", ValueType::END, 0},
}};

}  // namespace

std::string_view value_type_name(uint8_t code) {
  return code < kTypes.size() ? kTypes[code].name : std::string_view("UNKNOWN");
}

ValueType natural_kind_of(ValueType type) {
  const auto code = static_cast<uint8_t>(type);
  switch (type) {
    case ValueType::TEMP_STRING:
      return ValueType::STRING;
    case ValueType::TEMP_LONG:
      return ValueType::LONG;
    case ValueType::TEMP_REAL:
      return ValueType::REAL;
    default:
      return code < kTypes.size() ? kTypes[code].natural : ValueType::END;
  }
}

uint32_t fixed_size_of(ValueType type) {
  const auto code = static_cast<uint8_t>(type);
  switch (type) {
    case ValueType::TEMP_LONG:
      return 4;
    case ValueType::TEMP_REAL:
      return 8;
    default:
      return code < kTypes.size() ? kTypes[code].fixed_size : 0;
  }
}

}  // namespace vtn
