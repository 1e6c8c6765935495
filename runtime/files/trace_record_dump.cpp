// The record's contents in the trace: each memo as a hex dump, then one line per field.
#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/files/driver_trace.hpp"
#include "runtime/files/field_info.hpp"
#include "runtime/files/trace_dumps.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"

namespace vtn {
namespace {

constexpr size_t kMemoColumn = 18;
constexpr size_t kDumpWidth = 16;
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <typename T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void append_hex_dump(std::string& out, std::string_view bytes) {
  for (size_t line = 0; line < bytes.size(); line += kDumpWidth) {
    out += "  ";
    for (size_t i = line; i < line + kDumpWidth; ++i) {
      if (i < bytes.size())
        trace_print(out, "%02X ", static_cast<uint8_t>(bytes[i]));
      else
        out += "   ";
    }
    out += " | ";
    for (size_t i = line; i < std::min(bytes.size(), line + kDumpWidth); ++i) {
      const auto c = static_cast<uint8_t>(bytes[i]);
      out += c < 32 || c > 126 ? '.' : static_cast<char>(c);
    }
    out += "\r\n";
  }
  out += "\r\n";
}

void append_memo(std::string& out, const MemoBlock& memo) {
  append_label(out, std::string_view(memo.label != nullptr ? memo.label : "", memo.label_length),
               kMemoColumn);
  std::string_view text(memo.buffer != nullptr ? memo.buffer : "", memo.buffer ? memo.size : 0);
  const char pad = (memo.attributes & MA_BINARY) ? '\0' : ' ';
  while (!text.empty() && text.back() == pad) text.remove_suffix(1);
  if (!text.empty()) append_hex_dump(out, text);
}

void append_date(std::string& out, const char* p) {
  const auto day = static_cast<uint8_t>(p[0]);
  const auto month = static_cast<uint8_t>(p[1]);
  const auto year = load<uint16_t>(p + 2);
  const auto raw = static_cast<long>(load<int32_t>(p));
  if (day >= 1 && day <= 31 && month >= 1 && month <= 12)
    trace_print(out, "%02d %s %d (%ld)", day, kMonths[month - 1], year, raw);
  else
    trace_print(out, "Invalid date (%ld)", raw);
}

void append_time(std::string& out, const char* p) {
  const auto hundredths = static_cast<uint8_t>(p[0]);
  const auto seconds = static_cast<uint8_t>(p[1]);
  const auto minutes = static_cast<uint8_t>(p[2]);
  const auto hours = static_cast<uint8_t>(p[3]);
  const auto raw = static_cast<long>(load<int32_t>(p));
  if (hours <= 23 && minutes <= 59 && seconds <= 59)
    trace_print(out, "%02d:%02d:%02d.%02d (%ld)", hours, minutes, seconds, hundredths, raw);
  else
    trace_print(out, "Invalid time (%ld)", raw);
}

void append_decimal(std::string& out, const FieldDescriptor& f, const char* p) {
  DecimalStack& stack = decimal_stack();
  const auto* bytes = reinterpret_cast<const uint8_t*>(p);
  if (f.value_type() == ValueType::DECIMAL)
    stack.push_decimal(bytes, f.size, f.places);
  else
    stack.push_pdecimal(bytes, f.size, f.places);
  out += stack.pop_text();
}

void append_quoted(std::string& out, std::string_view text) {
  out += '\'';
  out += text.substr(0, text.find('\0'));
  out += '\'';
}

void append_value(std::string& out, const FieldDescriptor& f, const char* p) {
  switch (f.value_type()) {
    case ValueType::BYTE:
      trace_print(out, "%02XH", static_cast<uint8_t>(p[0]));
      break;
    case ValueType::SHORT:
      trace_print(out, "%d", load<int16_t>(p));
      break;
    case ValueType::USHORT:
      trace_print(out, "%u", load<uint16_t>(p));
      break;
    case ValueType::LONG:
      trace_print(out, "%ld", static_cast<long>(load<int32_t>(p)));
      break;
    case ValueType::ULONG:
      trace_print(out, "%lu", static_cast<unsigned long>(load<uint32_t>(p)));
      break;
    case ValueType::SREAL:
      trace_print(out, "%f", static_cast<double>(load<float>(p)));
      break;
    case ValueType::REAL:
      out += real_to_text(load<double>(p));
      break;
    case ValueType::BFLOAT8:
      out += real_to_text(bfloat8_to_real(reinterpret_cast<const uint8_t*>(p)));
      break;
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL:
      append_decimal(out, f, p);
      break;
    case ValueType::STRING:
    case ValueType::CSTRING:
      append_quoted(out, std::string_view(p, f.size));
      break;
    case ValueType::PSTRING:
      append_quoted(out, std::string_view(p + 1, std::min<uint32_t>(static_cast<uint8_t>(p[0]),
                                                                    f.size > 0 ? f.size - 1 : 0)));
      break;
    case ValueType::DATE:
      append_date(out, p);
      break;
    case ValueType::TIME:
      append_time(out, p);
      break;
    default:
      break;  // BFLOAT4 and the rest: the label alone
  }
}

void append_field(std::string& out, const FileBlock& file, const FieldDescriptor& f) {
  if (f.value_type() == ValueType::GROUP) {
    out += "\r\n";
    return;
  }
  trace_print(out, "  %-18s: ", f.label.c_str());
  if (file.record != nullptr && uint64_t{f.offset} + f.size <= file.record_length)
    append_value(out, f, file.record + f.offset);
  out += "\r\n";
}

}  // namespace

void append_record_contents(std::string& out, const FileBlock& file) {
  for (uint8_t i = 0; i < file.memo_count; ++i)
    if (file.memos != nullptr && file.memos[i] != nullptr) append_memo(out, *file.memos[i]);
  if (file.record_type != nullptr)
    for (const FieldDescriptor& f : file.record_type->fields) append_field(out, file, f);
  out += "\r\n";
}

void append_key_values(std::string& out, const FileBlock& file, const KeyBlock& key) {
  for (uint8_t i = 0; i < key.component_count; ++i) {
    const int32_t number = key.components[i];
    if (const FieldDescriptor* f = field_info(file.record_type, number < 0 ? -number : number))
      append_field(out, file, *f);
  }
  out += "\r\n";
}

}  // namespace vtn
