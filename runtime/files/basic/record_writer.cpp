#include "runtime/files/basic/record_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "runtime/format/picture_format.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"

namespace vtn::basic {
namespace {

template <typename T>
T load(const char* storage) {
  T v;
  std::memcpy(&v, storage, sizeof v);
  return v;
}

template <typename T>
void append_integer(std::string& out, T value) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

std::string_view text_of(const TableField& f, const char* storage) {
  std::string_view text;
  switch (f.type) {
    case ValueType::CSTRING:
      text = std::string_view(storage, strnlen(storage, f.size));
      break;
    case ValueType::PSTRING:
      text = std::string_view(storage + 1,
                              std::min<uint32_t>(static_cast<uint8_t>(storage[0]), f.size - 1));
      break;
    default:
      text = std::string_view(storage, f.size);
      break;
  }
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool needs_quotes(std::string_view text, const LineSyntax& syntax) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  // Reading passes over blanks, tabs and CRs before a bare value.
  if (!text.empty() && (text[0] == ' ' || text[0] == '\t' || text[0] == '\r')) return true;
  if (text.find(static_cast<char>(syntax.quote)) != std::string_view::npos) return true;
  if (text.find(syntax.delimiter) != std::string_view::npos) return true;
  const StopBytes& line_end = syntax.stops_at_line_end();
  for (size_t i = 0; (i = line_end.find(p, i, text.size())) < text.size(); ++i)
    if (syntax.end_of_record_at(p, text.size(), i) != 0) return true;
  return false;
}

void append_text(std::string& out, std::string_view text, const LineSyntax& syntax,
                 bool always_quote) {
  const char quote = static_cast<char>(syntax.quote);
  const bool quoted = always_quote || needs_quotes(text, syntax);
  if (quoted) out.push_back(quote);
  // Each quote character is doubled: the text goes in as the runs between them.
  size_t from = 0;
  for (size_t q; (q = text.find(quote, from)) != std::string_view::npos; from = q + 1) {
    out.append(text.substr(from, q + 1 - from));
    out.push_back(quote);
  }
  out.append(text.substr(from));
  if (quoted) out.push_back(quote);
}

void append_decimal(std::string& out, const TableField& f, const char* storage) {
  DecimalStack& stack = decimal_stack();
  const auto* bytes = reinterpret_cast<const uint8_t*>(storage);
  if (f.type == ValueType::DECIMAL)
    stack.push_decimal(bytes, f.size, f.places);
  else
    stack.push_pdecimal(bytes, f.size, f.places);
  const std::string text = format_number(stack.pop_digits(), f.picture->compiled);
  out.append(text, std::min(text.find_first_not_of(' '), text.size()));
}

void append_value(std::string& out, const TableField& f, const char* storage,
                  const LineSyntax& syntax, bool always_quote) {
  switch (f.type) {
    case ValueType::BYTE:
      append_integer(out, load<uint8_t>(storage));
      break;
    case ValueType::SHORT:
      append_integer(out, load<int16_t>(storage));
      break;
    case ValueType::USHORT:
      append_integer(out, load<uint16_t>(storage));
      break;
    case ValueType::LONG:
      append_integer(out, load<int32_t>(storage));
      break;
    case ValueType::ULONG:
    case ValueType::DATE:
    case ValueType::TIME:
      append_integer(out, load<uint32_t>(storage));
      break;
    case ValueType::SREAL:
      out += short_real_text(load<float>(storage));
      break;
    case ValueType::REAL:
      out += short_real_text(load<double>(storage));
      break;
    case ValueType::BFLOAT4:
      out += short_real_text(bfloat4_to_real(reinterpret_cast<const uint8_t*>(storage)));
      break;
    case ValueType::BFLOAT8:
      out += short_real_text(bfloat8_to_real(reinterpret_cast<const uint8_t*>(storage)));
      break;
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL:
      append_decimal(out, f, storage);
      break;
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      append_text(out, text_of(f, storage), syntax, always_quote);
      break;
    default:
      break;
  }
}

}  // namespace

std::string short_real_text(double value) {
  char buffer[32];
  const auto r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  std::string text(buffer, r.ptr);
  for (char& c : text)
    if (c == 'e') c = 'E';
  return text;
}

void write_line(const FieldTable& table, const LineSyntax& syntax, bool always_quote,
                const char* record, std::string& out) {
  bool first = true;
  for_each_value(table, [&](const TableField& f, uint32_t offset) {
    if (!first) out.append(syntax.delimiter);
    first = false;
    append_value(out, f, record + offset, syntax, always_quote);
  });
  out.append(syntax.end_of_record);
}

}  // namespace vtn::basic
