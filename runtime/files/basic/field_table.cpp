#include "runtime/files/basic/field_table.hpp"

#include <cstdio>

namespace vtn::basic {
namespace {

constexpr int32_t kInvalidFieldType = 75;
constexpr int32_t kUnsupportedDataType = 79;

// Characters a value of the type can take in a line; 0 for the types a line cannot hold.
uint64_t text_width(ValueType type, uint32_t size) {
  switch (type) {
    case ValueType::BYTE:
      return 4;
    case ValueType::SHORT:
    case ValueType::USHORT:
      return 6;
    case ValueType::DATE:
    case ValueType::TIME:
    case ValueType::LONG:
    case ValueType::ULONG:
      return 13;
    case ValueType::SREAL:
    case ValueType::REAL:
    case ValueType::BFLOAT4:
    case ValueType::BFLOAT8:
      return 21;
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL:
      return 2 * uint64_t{size};
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      return size;
    default:
      return 0;
  }
}

// The size a field of a fixed-size type must have.
bool size_fits_type(ValueType type, uint32_t size) {
  const uint32_t fixed = fixed_size_of(type);
  if (fixed != 0) return size == fixed;
  if (type == ValueType::DECIMAL || type == ValueType::PDECIMAL) return size >= 1 && size <= 16;
  return size >= 1;
}

// Appends the runs of fields [first, last) of a GROUP element that begins `delta` bytes after
// the GROUP's first element.
void add_runs(FieldTable& table, size_t first, size_t last, uint64_t delta) {
  for (size_t i = first; i < last; ++i) {
    const TableField& f = table.fields[i];
    const size_t end = f.type == ValueType::GROUP ? i + 1 + f.members : i + 1;
    if (!f.over) {
      if (f.type == ValueType::GROUP) {
        for (uint32_t e = 0; e < f.elements; ++e)
          add_runs(table, i + 1, end, delta + uint64_t{e} * f.size);
      } else {
        table.runs.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(f.offset + delta),
                              f.elements, f.size});
        table.value_count += f.elements;
      }
    }
    i = end - 1;
  }
}

}  // namespace

int32_t build_field_table(const RecordType* type, uint32_t record_length, FieldTable& out) {
  out = {};
  if (type == nullptr) return 0;
  const std::vector<FieldDescriptor>& fields = type->fields;
  // End of every open GROUP's members, innermost last.
  std::vector<size_t> open_groups;
  std::vector<bool> group_over;
  for (size_t i = 0; i < fields.size(); ++i) {
    while (!open_groups.empty() && i >= open_groups.back()) {
      open_groups.pop_back();
      group_over.pop_back();
    }
    const FieldDescriptor& d = fields[i];
    TableField f;
    f.type = d.value_type();
    f.offset = d.offset;
    f.size = d.size;
    f.places = d.places;
    f.depth = static_cast<uint32_t>(open_groups.size());
    uint64_t elements = 1;
    for (uint32_t n : d.dimensions) {
      if (n == 0) break;
      elements *= n;
      if (elements > record_length) return kInvalidFieldType;
    }
    f.elements = static_cast<uint32_t>(elements);
    const bool group = f.type == ValueType::GROUP;
    if (!group && text_width(f.type, f.size) == 0) return kUnsupportedDataType;
    if (!group && !size_fits_type(f.type, f.size)) return kInvalidFieldType;
    if (uint64_t{f.offset} + uint64_t{f.size} * elements > record_length) return kInvalidFieldType;
    if (group) {
      if (d.group_members > fields.size() - i - 1) return kInvalidFieldType;
      if (!open_groups.empty() && i + 1 + d.group_members > open_groups.back())
        return kInvalidFieldType;
      if (open_groups.size() >= kMaxGroupDepth) return kInvalidFieldType;
      f.members = d.group_members;
    }
    if (i > 0) {
      const TableField& previous = out.fields.back();
      f.over = f.offset <= previous.offset && f.depth <= previous.depth;
    }
    if (!group_over.empty() && group_over.back()) f.over = true;
    if (f.type == ValueType::DECIMAL || f.type == ValueType::PDECIMAL) {
      char text[32];
      std::snprintf(text, sizeof text, "@N-_%u.%hd", 2 * f.size + 1, static_cast<short>(f.places));
      auto picture = std::make_shared<DecimalPicture>();
      picture->text = text;
      compile_picture(picture->text, picture->compiled);
      f.picture = std::move(picture);
    }
    if (group) {
      open_groups.push_back(i + 1 + f.members);
      group_over.push_back(f.over);
    }
    out.fields.push_back(std::move(f));
  }
  for (const TableField& f : out.fields)
    if (f.type != ValueType::GROUP && !f.over)
      out.longest_text += uint64_t{f.elements} * text_width(f.type, f.size);
  add_runs(out, 0, out.fields.size(), 0);
  return 0;
}

}  // namespace vtn::basic
