#include "runtime/files/field_info.hpp"

#include <algorithm>
#include <cstring>

namespace vtn {
namespace {

constexpr uint8_t kString = static_cast<uint8_t>(ValueType::STRING);
constexpr uint8_t kGroup = static_cast<uint8_t>(ValueType::GROUP);

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view without_prefix(std::string_view label) {
  const size_t colon = label.find(':');
  return colon == std::string_view::npos ? label : label.substr(colon + 1);
}

// Blanks the STRING fields among fields[first, last), shifted by `delta` bytes; the members of a
// dimensioned GROUP are blanked once per element of the group. A field that starts before the
// end of the one before it lies OVER earlier storage and is left as that storage is cleared.
void blank_text_fields(const std::vector<FieldDescriptor>& fields, size_t first, size_t last,
                       uint64_t delta, char* record, uint32_t size) {
  uint64_t reached = 0;
  for (size_t i = first; i < last; ++i) {
    const FieldDescriptor& f = fields[i];
    const size_t members_end = f.type == kGroup ? std::min(last, i + 1 + f.group_members) : i + 1;
    const bool over = i != first && f.offset < reached;
    if (!over) {
      reached = uint64_t{f.offset} + f.total_size();
      if (f.type == kGroup) {
        for (uint32_t e = 0; e < f.element_count(); ++e)
          blank_text_fields(fields, i + 1, members_end, delta + uint64_t{e} * f.size, record, size);
      } else if (f.type == kString) {
        const uint64_t start = f.offset + delta;
        if (start + f.total_size() <= size) std::memset(record + start, ' ', f.total_size());
      }
    }
    i = members_end - 1;
  }
}

}  // namespace

uint32_t FieldDescriptor::element_count() const {
  uint32_t n = 1;
  for (uint32_t d : dimensions) {
    if (d == 0) break;
    n *= d;
  }
  return n;
}

uint32_t field_count(const RecordType* type) {
  return type == nullptr ? 0 : static_cast<uint32_t>(type->fields.size());
}

const FieldDescriptor* field_info(const RecordType* type, int32_t number) {
  if (type == nullptr || number < 1 || static_cast<size_t>(number) > type->fields.size())
    return nullptr;
  return &type->fields[static_cast<size_t>(number) - 1];
}

int32_t field_number(const RecordType* type, std::string_view label) {
  if (type == nullptr) return 0;
  const bool has_prefix = label.find(':') != std::string_view::npos;
  for (size_t i = 0; i < type->fields.size(); ++i) {
    const std::string& l = type->fields[i].label;
    if (equal_ignoring_case(l, label) ||
        (!has_prefix && equal_ignoring_case(without_prefix(l), label)))
      return static_cast<int32_t>(i + 1);
  }
  return 0;
}

void clear_record(const RecordType* type, char* record, uint32_t size) {
  std::memset(record, 0, size);
  if (type != nullptr) blank_text_fields(type->fields, 0, type->fields.size(), 0, record, size);
}

}  // namespace vtn
