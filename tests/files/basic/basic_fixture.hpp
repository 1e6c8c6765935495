// What the comma-delimited driver's tests share: a scratch directory with files written and read
// byte for byte, and a field's value in the record buffer as text.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/field_info.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/mbf.hpp"
#include "support/scratch_directory.hpp"

namespace vtn::basic_testing {

inline void write_bytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The value of field `number` (element `element`) of the file's record, as text: integers and
// serials in decimal, reals through %g, decimals as the decimal stack writes them, texts as
// stored (a STRING with its trailing blanks removed, "|" marking an embedded NUL is not needed).
inline std::string field_text(File& file, int32_t number, uint32_t element = 0) {
  const FieldDescriptor* f = field_info(&file.record_type(), number);
  const char* p = file.record() + f->offset + element * f->size;
  auto load = [&](auto v) {
    std::memcpy(&v, p, sizeof v);
    return v;
  };
  char buffer[64];
  switch (f->value_type()) {
    case ValueType::BYTE:
      return std::to_string(load(uint8_t{}));
    case ValueType::SHORT:
      return std::to_string(load(int16_t{}));
    case ValueType::USHORT:
      return std::to_string(load(uint16_t{}));
    case ValueType::LONG:
      return std::to_string(load(int32_t{}));
    case ValueType::ULONG:
    case ValueType::DATE:
    case ValueType::TIME:
      return std::to_string(load(uint32_t{}));
    case ValueType::SREAL:
      std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(load(float{})));
      return buffer;
    case ValueType::REAL:
      std::snprintf(buffer, sizeof buffer, "%.15g", load(double{}));
      return buffer;
    case ValueType::BFLOAT4:
      std::snprintf(buffer, sizeof buffer, "%g",
                    bfloat4_to_real(reinterpret_cast<const uint8_t*>(p)));
      return buffer;
    case ValueType::BFLOAT8:
      std::snprintf(buffer, sizeof buffer, "%.15g",
                    bfloat8_to_real(reinterpret_cast<const uint8_t*>(p)));
      return buffer;
    case ValueType::DECIMAL:
      decimal_stack().push_decimal(reinterpret_cast<const uint8_t*>(p), f->size, f->places);
      return decimal_stack().pop_text();
    case ValueType::PDECIMAL:
      decimal_stack().push_pdecimal(reinterpret_cast<const uint8_t*>(p), f->size, f->places);
      return decimal_stack().pop_text();
    case ValueType::STRING: {
      std::string s(p, f->size);
      return s.substr(0, s.find_last_not_of(' ') + 1);
    }
    case ValueType::CSTRING:
      return std::string(p, strnlen(p, f->size));
    case ValueType::PSTRING:
      return std::string(p + 1, static_cast<uint8_t>(p[0]));
    default:
      return "?";
  }
}

class BasicTest : public testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override { clear_error(); }
};

}  // namespace vtn::basic_testing
