// The structure of a file in the trace, written as its source definition.
#include <algorithm>
#include <cctype>
#include <string>

#include "runtime/files/driver_trace.hpp"
#include "runtime/files/field_info.hpp"
#include "runtime/files/trace_dumps.hpp"

namespace vtn {
namespace {

constexpr size_t kMaxLabelText = 1023;
constexpr size_t kFileColumn = 18;
constexpr size_t kRecordColumn = 20;
constexpr size_t kFieldColumn = 22;
constexpr size_t kGroupIndent = 2;

// DriverInstance::attributes, in the order the FILE line shows them.
struct AttributeName {
  uint8_t bit;
  const char* text;
};
constexpr AttributeName kFileAttributes[] = {
    {0x02, ",CREATE"}, {0x01, ",ENCRYPT"}, {0x04, ",RECLAIM"}, {0x08, ",THREAD"}};

struct KeyAttributeName {
  uint32_t bit;
  const char* text;
};
constexpr KeyAttributeName kKeyAttributes[] = {
    {KA_DUP, ",DUP"}, {KA_OPT, ",OPT"}, {KA_NOCASE, ",NOCASE"}, {KA_PRIMARY, ",PRIMARY"}};

std::string_view text_of(const char* text, uint32_t length) {
  return text == nullptr ? std::string_view() : std::string_view(text, length);
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

void append_file_line(std::string& out, const DriverInstance& in) {
  append_label(out, in.file_name, kFileColumn);
  trace_print(out, "FILE,DRIVER('%s'", in.driver_name != nullptr ? in.driver_name : "");
  if (!in.driver_options.empty()) trace_print(out, ",'%s'", in.driver_options.c_str());
  out += ")";
  if (!in.owner.empty()) out += ",OWNER(******)";
  trace_print(out, ",NAME('%s')", in.file_name.c_str());
  for (const AttributeName& a : kFileAttributes)
    if (in.attributes & a.bit) out += a.text;
  out += "\r\n";
}

void append_key_line(std::string& out, const KeyBlock& key, const RecordType* type) {
  append_label(out, text_of(key.label, key.label_length), kRecordColumn);
  out += (key.attributes & KA_INDEX) ? "INDEX(" : "KEY(";
  for (uint8_t i = 0; i < key.component_count; ++i) {
    const int32_t number = key.components[i];
    const FieldDescriptor* f = field_info(type, number < 0 ? -number : number);
    if (i > 0) out += ",";
    trace_print(out, "%c%s", number < 0 ? '-' : '+', f != nullptr ? f->label.c_str() : "");
  }
  out += ")";
  for (const KeyAttributeName& a : kKeyAttributes)
    if (key.attributes & a.bit) out += a.text;
  if (key.name != nullptr && key.name_length != 0)
    out += ",NAME('" + std::string(text_of(key.name, key.name_length)) + "')";
  out += "\r\n";
}

void append_memo_line(std::string& out, const MemoBlock& memo) {
  append_label(out, text_of(memo.label, memo.label_length), kRecordColumn);
  if (memo.attributes & MA_BLOB)
    out += "BLOB";
  else
    trace_print(out, "MEMO(%u)", memo.size);
  if (memo.name != nullptr && memo.name_length != 0)
    out += ",NAME('" + std::string(text_of(memo.name, memo.name_length)) + "')";
  if (memo.attributes & MA_BINARY) out += ",BINARY";
  out += "\r\n";
}

// The field's OVER target: the first earlier field at its place, when it starts at or before
// the previous field and that field is no GROUP.
const FieldDescriptor* over_target(const std::vector<FieldDescriptor>& fields, size_t i) {
  if (i == 0) return nullptr;
  const FieldDescriptor& previous = fields[i - 1];
  if (previous.value_type() == ValueType::GROUP || fields[i].offset > previous.offset)
    return nullptr;
  for (size_t j = 0; j < i; ++j)
    if (fields[j].offset == fields[i].offset) return &fields[j];
  return nullptr;
}

void append_field_line(std::string& out, const std::vector<FieldDescriptor>& fields, size_t i,
                       size_t column) {
  const FieldDescriptor& f = fields[i];
  append_label(out, f.label, column);
  out += value_type_name(f.type);
  switch (f.value_type()) {
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL:
      trace_print(out, "(%u,%u)", f.digits(), static_cast<unsigned>(f.places));
      break;
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      if (!f.picture.empty())
        trace_print(out, "(@%s)", f.picture.c_str());
      else
        trace_print(out, "(%u)", f.size);
      break;
    default:
      break;
  }
  if (f.dimensions[0] != 0) {
    out += ", DIM(";
    for (size_t d = 0; d < f.dimensions.size() && f.dimensions[d] != 0; ++d)
      trace_print(out, d == 0 ? "%u" : ",%u", f.dimensions[d]);
    out += ")";
  }
  if (const FieldDescriptor* target = over_target(fields, i))
    trace_print(out, ", OVER(%s)", target->label.c_str());
  if (!f.external_name.empty() && !same_ignoring_case(f.external_name, f.label))
    trace_print(out, ",NAME('%s')", f.external_name.c_str());
  out += "\r\n";
}

// Fields [first, last) at the column of their level; a GROUP's members one level deeper, then
// its END.
void append_fields(std::string& out, const std::vector<FieldDescriptor>& fields, size_t first,
                   size_t last, size_t column) {
  for (size_t i = first; i < last; ++i) {
    append_field_line(out, fields, i, column);
    if (fields[i].value_type() != ValueType::GROUP) continue;
    const size_t end = std::min(last, i + 1 + fields[i].group_members);
    append_fields(out, fields, i + 1, end, column + kGroupIndent);
    append_label(out, "", column);
    out += "END\r\n";
    i = end - 1;
  }
}

}  // namespace

void append_label(std::string& out, std::string_view label, size_t width) {
  label = label.substr(0, kMaxLabelText - 1);
  out += label;
  if (label.size() < width)
    out.append(width - label.size(), ' ');
  else
    out += ' ';
}

void append_structure_dump(std::string& out, const DriverInstance& in) {
  const FileBlock& file = *in.file;
  append_file_line(out, in);
  for (uint8_t i = 0; i < file.key_count; ++i)
    if (file.keys != nullptr && file.keys[i] != nullptr)
      append_key_line(out, *file.keys[i], file.record_type);
  for (uint8_t i = 0; i < file.memo_count; ++i)
    if (file.memos != nullptr && file.memos[i] != nullptr) append_memo_line(out, *file.memos[i]);
  append_label(out, "", kRecordColumn);
  out += "RECORD\r\n";
  if (file.record_type != nullptr)
    append_fields(out, file.record_type->fields, 0, file.record_type->fields.size(), kFieldColumn);
  append_label(out, "", kRecordColumn);
  out += "END\r\n";
  append_label(out, "", kFileColumn);
  out += "END\r\n\r\n";
}

}  // namespace vtn
