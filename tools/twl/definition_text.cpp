#include "tools/twl/definition_text.hpp"

#include <cstdio>
#include <vector>

#include "runtime/values/value_type.hpp"
#include "tools/twl/catalog.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

constexpr size_t kFileColumn = 18;
constexpr size_t kRecordColumn = 20;
constexpr size_t kFieldColumn = 22;
constexpr size_t kGroupIndent = 2;

// The label in a column of `width`, or followed by one blank when it does not fit.
void label_column(std::string& out, const std::string& label, size_t width) {
  out += label;
  out.append(label.size() < width ? width - label.size() : 1, ' ');
}

std::string text_of(const tw::DefinitionText& text) {
  return text.value_or("");
}

bool is_string(uint8_t type) {
  return type == static_cast<uint8_t>(vtn::ValueType::STRING) ||
         type == static_cast<uint8_t>(vtn::ValueType::CSTRING) ||
         type == static_cast<uint8_t>(vtn::ValueType::PSTRING);
}

bool is_decimal(uint8_t type) {
  return type == static_cast<uint8_t>(vtn::ValueType::DECIMAL) ||
         type == static_cast<uint8_t>(vtn::ValueType::PDECIMAL);
}

// ", OVER(label)" when the field starts at or before the previous one (which is not a GROUP)
// and an earlier field starts where it does.
std::string over_text(const std::vector<tw::FieldDefinition>& fields, size_t i) {
  if (i == 0) return "";
  const tw::FieldDefinition& previous = fields[i - 1];
  if (previous.type == static_cast<uint8_t>(vtn::ValueType::GROUP)) return "";
  if (fields[i].offset > previous.offset) return "";
  for (size_t j = 0; j < i; ++j) {
    if (fields[j].offset == fields[i].offset) return ", OVER(" + text_of(fields[j].name) + ")";
  }
  return "";
}

}  // namespace

std::string field_type_text(const tw::FieldDefinition& field) {
  std::string text(vtn::value_type_name(field.type));
  if (is_decimal(field.type)) {
    text += "(" + std::to_string(2 * field.size - 1) + "," + std::to_string(field.places) + ")";
  } else if (is_string(field.type)) {
    text += field.picture && !field.picture->empty() ? "(@" + *field.picture + ")"
                                                     : "(" + std::to_string(field.size) + ")";
  }
  return text;
}

std::string key_attributes_text(uint8_t flags) {
  std::string text;
  if (flags & kKeyDuplicates) text += ",DUP";
  if (flags & kKeyNoCase) text += ",NOCASE";
  if (flags & kKeyPrimary) text += ",PRIMARY";
  return text;
}

std::string definition_text(const std::string& table_name, const std::string& full_name,
                            const tw::TableDefinition& definition) {
  std::string out;
  label_column(out, table_name, kFileColumn);
  out += "FILE,DRIVER('TARNWELL'),NAME('" + full_name + "\\!" + table_name + "')\n";

  for (const tw::KeyDefinition& key : definition.keys) {
    label_column(out, text_of(key.label), kRecordColumn);
    out += key.flags & kKeyDynamic ? "INDEX(" : "KEY(";
    for (size_t c = 0; c < key.components.size(); ++c) {
      const tw::KeyComponentDefinition& component = key.components[c];
      if (c > 0) out += ",";
      out += component.flags ? "-" : "+";
      out += component.field < definition.fields.size()
                 ? text_of(definition.fields[component.field].name)
                 : "?" + std::to_string(component.field);
    }
    out += ")" + key_attributes_text(key.flags);
    if (key.name && !key.name->empty()) out += ",NAME('" + *key.name + "')";
    out += "\n";
  }
  for (const tw::MemoDefinition& memo : definition.memos) {
    label_column(out, text_of(memo.label), kRecordColumn);
    out += memo.is_blob() ? "BLOB" : "MEMO(" + std::to_string(memo.size) + ")";
    if (memo.name && !memo.name->empty()) out += ",NAME('" + *memo.name + "')";
    if (memo.flags & tw::kMemoBinary) out += ",BINARY";
    out += "\n";
  }

  label_column(out, "", kRecordColumn);
  out += "RECORD\n";
  // Open GROUPs: where each ends in the record, innermost last.
  std::vector<uint32_t> group_ends;
  const auto close_groups = [&](uint32_t offset) {
    while (!group_ends.empty() && offset >= group_ends.back()) {
      group_ends.pop_back();
      label_column(out, "", kFieldColumn + kGroupIndent * group_ends.size());
      out += "END\n";
    }
  };
  for (size_t i = 0; i < definition.fields.size(); ++i) {
    const tw::FieldDefinition& field = definition.fields[i];
    close_groups(field.offset);
    label_column(out, text_of(field.name), kFieldColumn + kGroupIndent * group_ends.size());
    out += field_type_text(field) + over_text(definition.fields, i) + "\n";
    if (field.type == static_cast<uint8_t>(vtn::ValueType::GROUP)) {
      group_ends.push_back(field.offset + field.size);
    }
  }
  close_groups(UINT32_MAX);
  label_column(out, "", kRecordColumn);
  out += "END\n";
  label_column(out, "", kFileColumn);
  out += "END\n";
  return out;
}

}  // namespace twl
