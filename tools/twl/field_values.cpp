#include "tools/twl/field_values.hpp"

#include <cstdio>
#include <cstring>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"
#include "runtime/values/value_type.hpp"

namespace twl {

namespace tw = vtn::tarnwell;
using vtn::ValueType;

namespace {

template <typename T>
T load(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

FieldValue integer(int64_t n) {
  return {FieldValue::Kind::integer, n, 0, {}};
}
FieldValue real(double r) {
  return {FieldValue::Kind::real, 0, r, {}};
}
FieldValue text(std::string t) {
  return {FieldValue::Kind::text, 0, 0, std::move(t)};
}

std::string clip(std::string_view bytes) {
  size_t n = bytes.size();
  while (n > 0 && bytes[n - 1] == ' ') --n;
  return std::string(bytes.substr(0, n));
}

std::string to_utf8(const std::string& stored, bool oem) {
  return oem ? vtn::platform::oem_to_utf8(stored) : vtn::platform::ansi_to_utf8(stored);
}

}  // namespace

std::vector<Column> columns_of(const tw::TableDefinition& definition) {
  std::vector<Column> columns;
  for (size_t i = 0; i < definition.fields.size(); ++i) {
    const tw::FieldDefinition& f = definition.fields[i];
    if (f.type == static_cast<uint8_t>(ValueType::GROUP)) continue;
    columns.push_back(
        {vtn::platform::ansi_to_utf8(f.name.value_or("")), Column::Source::field, i, f.type});
  }
  for (size_t i = 0; i < definition.memos.size(); ++i) {
    columns.push_back({vtn::platform::ansi_to_utf8(definition.memos[i].label.value_or("")),
                       Column::Source::memo, i, 0});
  }
  return columns;
}

std::string iso_date(std::span<const uint8_t, 4> stored) {
  const int day = stored[0], month = stored[1], year = stored[2] | stored[3] << 8;
  if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1) return "";
  char out[16];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d", year, month, day);
  return out;
}

std::string iso_time(std::span<const uint8_t, 4> stored) {
  const int hundredths = stored[0], seconds = stored[1], minutes = stored[2], hours = stored[3];
  if (hundredths > 99 || seconds > 59 || minutes > 59 || hours > 23) return "";
  char out[16];
  std::snprintf(out, sizeof out, "%02d:%02d:%02d.%02d", hours, minutes, seconds, hundredths);
  return out;
}

FieldValue field_value(const tw::FieldDefinition& field, std::span<const uint8_t> buffer,
                       bool oem) {
  if (field.offset > buffer.size() || field.size > buffer.size() - field.offset) return {};
  const uint8_t* p = buffer.data() + field.offset;
  const std::string_view bytes(reinterpret_cast<const char*>(p), field.size);
  switch (static_cast<ValueType>(field.type)) {
    case ValueType::BYTE:
      return integer(p[0]);
    case ValueType::SHORT:
      return integer(load<int16_t>(p));
    case ValueType::USHORT:
      return integer(load<uint16_t>(p));
    case ValueType::LONG:
      return integer(load<int32_t>(p));
    case ValueType::ULONG:
      return integer(load<uint32_t>(p));
    case ValueType::SREAL:
      return real(load<float>(p));
    case ValueType::REAL:
      return real(load<double>(p));
    case ValueType::BFLOAT4:
      return real(vtn::bfloat4_to_real(p));
    case ValueType::BFLOAT8:
      return real(vtn::bfloat8_to_real(p));
    case ValueType::DATE: {
      std::string iso = iso_date(std::span<const uint8_t, 4>(p, 4));
      return iso.empty() ? FieldValue{} : text(iso);
    }
    case ValueType::TIME: {
      std::string iso = iso_time(std::span<const uint8_t, 4>(p, 4));
      return iso.empty() ? FieldValue{} : text(iso);
    }
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL: {
      vtn::DecimalStack& decimals = vtn::decimal_stack();
      if (field.type == static_cast<uint8_t>(ValueType::DECIMAL)) {
        decimals.push_decimal(p, field.size, field.places);
      } else {
        decimals.push_pdecimal(p, field.size, field.places);
      }
      return {FieldValue::Kind::exact, 0, 0, decimals.pop_text()};
    }
    case ValueType::STRING:
      return text(to_utf8(clip(bytes), oem));
    case ValueType::CSTRING:
      return text(to_utf8(std::string(bytes.substr(0, bytes.find('\0'))), oem));
    case ValueType::PSTRING: {
      const size_t length = std::min<size_t>(p[0], field.size > 0 ? field.size - 1 : 0);
      return text(to_utf8(std::string(bytes.substr(1, length)), oem));
    }
    default:
      return {};
  }
}

FieldValue memo_value(const tw::MemoDefinition& memo, const std::vector<uint8_t>& contents,
                      bool oem) {
  std::string bytes(contents.begin(), contents.end());
  if (memo.is_blob() || (memo.flags & tw::kMemoBinary)) {
    return {FieldValue::Kind::blob, 0, 0, std::move(bytes)};
  }
  return text(to_utf8(bytes, oem));
}

}  // namespace twl
