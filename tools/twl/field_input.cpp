#include "tools/twl/field_input.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"
#include "runtime/values/value_type.hpp"

namespace twl {

namespace tw = vtn::tarnwell;
using vtn::ValueType;

namespace {

template <typename T>
void put(uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

std::string store_integer(ValueType type, std::string_view text, uint8_t* p) {
  int64_t value = 0;
  if (!text.empty()) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return "not a whole number";
  }
  const auto fits = [&](auto lowest) {
    using T = decltype(lowest);
    return value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max();
  };
  switch (type) {
    case ValueType::BYTE:
      if (!fits(uint8_t{})) return "out of the range of a BYTE";
      put(p, static_cast<uint8_t>(value));
      break;
    case ValueType::SHORT:
      if (!fits(int16_t{})) return "out of the range of a SHORT";
      put(p, static_cast<int16_t>(value));
      break;
    case ValueType::USHORT:
      if (!fits(uint16_t{})) return "out of the range of a USHORT";
      put(p, static_cast<uint16_t>(value));
      break;
    case ValueType::LONG:
      if (!fits(int32_t{})) return "out of the range of a LONG";
      put(p, static_cast<int32_t>(value));
      break;
    default:  // ULONG
      if (!fits(uint32_t{})) return "out of the range of a ULONG";
      put(p, static_cast<uint32_t>(value));
      break;
  }
  return "";
}

std::string store_real(ValueType type, std::string_view text, uint8_t* p) {
  double value = 0;
  if (!text.empty()) {
    const std::string copy(text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return "not a number";
  }
  switch (type) {
    case ValueType::SREAL:
      if (std::fabs(value) > std::numeric_limits<float>::max())
        return "out of the range of an SREAL";
      put(p, static_cast<float>(value));
      break;
    case ValueType::REAL:
      put(p, value);
      break;
    case ValueType::BFLOAT4:
      vtn::real_to_bfloat4(value, p);
      break;
    default:
      vtn::real_to_bfloat8(value, p);
      break;
  }
  return "";
}

std::string store_decimal(const Column& f, std::string_view text, uint8_t* p) {
  static const std::regex number(R"(-?(\d*)(\.\d*)?)");
  std::match_results<std::string_view::const_iterator> m;
  if (!std::regex_match(text.begin(), text.end(), m, number) ||
      (m[1].length() == 0 && m[2].length() <= 1 && !text.empty())) {
    return "not a decimal number";
  }
  std::string_view whole(m[1].first, m[1].second);
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  const uint32_t digits = 2 * f.size - 1;
  if (whole != "0" && whole.size() > digits - f.places) {
    return "more digits before the point than DECIMAL(" + std::to_string(digits) + "," +
           std::to_string(f.places) + ") holds";
  }
  vtn::DecimalStack& decimals = vtn::decimal_stack();
  decimals.push_text(text.empty() ? "0" : text);
  if (f.type == static_cast<uint8_t>(ValueType::DECIMAL)) {
    decimals.pop_decimal(p, f.size, f.places);
  } else {
    decimals.pop_pdecimal(p, f.size, f.places);
  }
  return "";
}

std::string store_date(std::string_view text, uint8_t* p) {
  std::memset(p, 0, 4);
  if (text.empty()) return "";
  int year = 0, month = 0, day = 0;
  char tail = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3 ||
      copy.size() != 10 ||
      !vtn::is_valid_date({year, static_cast<uint8_t>(day), static_cast<uint8_t>(month)}) ||
      year < 1801) {
    return "not a date (YYYY-MM-DD, from 1801 on)";
  }
  p[0] = static_cast<uint8_t>(day);
  p[1] = static_cast<uint8_t>(month);
  put(p + 2, static_cast<uint16_t>(year));
  return "";
}

std::string store_time(std::string_view text, uint8_t* p) {
  std::memset(p, 0, 4);
  if (text.empty()) return "";
  int hours = 0, minutes = 0, seconds = 0, hundredths = 0;
  char tail = 0;
  const std::string copy(text);
  const int n = std::sscanf(copy.c_str(), "%2d:%2d:%2d.%2d%c", &hours, &minutes, &seconds,
                            &hundredths, &tail);
  if ((n != 3 && n != 4) || (n == 3 && copy.size() != 8) || (n == 4 && copy.size() != 11) ||
      hours > 23 || minutes > 59 || seconds > 59 || hours < 0 || minutes < 0 || seconds < 0 ||
      hundredths < 0) {
    return "not a time (HH:MM:SS or HH:MM:SS.hh)";
  }
  p[0] = static_cast<uint8_t>(hundredths);
  p[1] = static_cast<uint8_t>(seconds);
  p[2] = static_cast<uint8_t>(minutes);
  p[3] = static_cast<uint8_t>(hours);
  return "";
}

std::string store_text(const Column& f, std::string_view text, uint8_t* p) {
  std::string ansi;
  if (!utf8_to_ansi_exactly(text, ansi)) return "a character the code page 1251 lacks";
  const auto type = static_cast<ValueType>(f.type);
  const size_t room = type == ValueType::STRING ? f.size : f.size - 1;
  if (ansi.size() > room) {
    return "longer than the field's " + std::to_string(room) + " characters";
  }
  switch (type) {
    case ValueType::STRING:
      std::memset(p, ' ', f.size);
      std::memcpy(p, ansi.data(), ansi.size());
      break;
    case ValueType::CSTRING:
      std::memset(p, 0, f.size);
      std::memcpy(p, ansi.data(), ansi.size());
      break;
    default:  // PSTRING
      std::memset(p, 0, f.size);
      p[0] = static_cast<uint8_t>(ansi.size());
      std::memcpy(p + 1, ansi.data(), ansi.size());
      break;
  }
  return "";
}

// The bytes a field of the type needs at least.
uint32_t smallest_size(ValueType type) {
  switch (type) {
    case ValueType::SHORT:
    case ValueType::USHORT:
      return 2;
    case ValueType::LONG:
    case ValueType::ULONG:
    case ValueType::SREAL:
    case ValueType::BFLOAT4:
    case ValueType::DATE:
    case ValueType::TIME:
      return 4;
    case ValueType::REAL:
    case ValueType::BFLOAT8:
      return 8;
    default:
      return 1;
  }
}

}  // namespace

bool utf8_to_ansi_exactly(std::string_view utf8, std::string& ansi) {
  ansi = vtn::platform::utf8_to_ansi(utf8);
  return vtn::platform::ansi_to_utf8(ansi) == utf8;
}

bool hex_to_bytes(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  bytes.clear();
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high << 4 | low);
  }
  return true;
}

std::string store_field_text(const Column& field, std::string_view text,
                             std::span<uint8_t> buffer) {
  if (field.offset > buffer.size() || field.size > buffer.size() - field.offset) {
    return "the field lies outside the record";
  }
  if (field.size < smallest_size(static_cast<ValueType>(field.type))) {
    return "the stored definition gives the field too few bytes";
  }
  uint8_t* p = buffer.data() + field.offset;
  switch (static_cast<ValueType>(field.type)) {
    case ValueType::BYTE:
    case ValueType::SHORT:
    case ValueType::USHORT:
    case ValueType::LONG:
    case ValueType::ULONG:
      return store_integer(static_cast<ValueType>(field.type), text, p);
    case ValueType::SREAL:
    case ValueType::REAL:
    case ValueType::BFLOAT4:
    case ValueType::BFLOAT8:
      return store_real(static_cast<ValueType>(field.type), text, p);
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL:
      return store_decimal(field, text, p);
    case ValueType::DATE:
      return store_date(text, p);
    case ValueType::TIME:
      return store_time(text, p);
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      return store_text(field, text, p);
    default:
      return "a field of type " + std::string(vtn::value_type_name(field.type)) +
             " cannot be imported";
  }
}

}  // namespace twl
