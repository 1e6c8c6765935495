// A table's definition: the fields, keys and memos that the program declares, in the form the
// driver works with and in the form the file stores (the definition stream).
#include <algorithm>

#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {
namespace {

constexpr uint8_t kComponentDescending = 0x01;

// The field types a table can store.
bool storable(uint8_t type) {
  switch (static_cast<ValueType>(type)) {
    case ValueType::BYTE:
    case ValueType::SHORT:
    case ValueType::USHORT:
    case ValueType::DATE:
    case ValueType::TIME:
    case ValueType::LONG:
    case ValueType::ULONG:
    case ValueType::SREAL:
    case ValueType::REAL:
    case ValueType::DECIMAL:
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
    case ValueType::MEMO:
    case ValueType::GROUP:
    case ValueType::ARRAY:
    case ValueType::BLOB:
      return true;
    default:
      return false;
  }
}

bool is_text(uint8_t type) {
  return type == static_cast<uint8_t>(ValueType::STRING) ||
         type == static_cast<uint8_t>(ValueType::CSTRING) ||
         type == static_cast<uint8_t>(ValueType::PSTRING);
}

DefinitionText optional_text(const char* text, uint32_t length) {
  if (text == nullptr) return std::nullopt;
  return std::string(text, length);
}

FieldDefinition field_definition(const FieldDescriptor& f) {
  FieldDefinition d;
  d.type = f.type;
  d.offset = f.offset;
  d.name = f.label;
  d.member_before_size = static_cast<uint16_t>(f.group_members);
  d.size = f.total_size();
  // The first member after the size marks a text field kept out of OEM conversion; no
  // declaration asks for that, so it is 0. The second holds the element count of a DIM.
  d.members_after_size[0] = 0;
  d.members_after_size[1] = static_cast<uint16_t>(f.element_count() > 1 ? f.element_count() : 0);
  if (f.type == static_cast<uint8_t>(ValueType::DECIMAL) ||
      f.type == static_cast<uint8_t>(ValueType::PDECIMAL)) {
    d.digits = static_cast<uint8_t>(f.digits());
    d.places = f.places;
  }
  if (is_text(f.type)) {
    d.member_before_picture = static_cast<uint16_t>(f.size);
    if (!f.picture.empty()) d.picture = "@" + f.picture;
  }
  return d;
}

uint8_t key_flags_of(const KeyBlock& k) {
  uint8_t flags = static_cast<uint8_t>(k.attributes & (KA_DUP | KA_NOCASE | KA_PRIMARY));
  if (k.attributes & KA_INDEX) flags |= kKeyDynamic;
  return flags;
}

}  // namespace

bool shape_key(const std::vector<FieldDescriptor>& fields, const int32_t* components, size_t count,
               bool case_insensitive, KeyShape& out) {
  out = KeyShape{};
  out.case_insensitive = case_insensitive;
  for (size_t i = 0; i < count; ++i) {
    const int32_t number = components[i] < 0 ? -components[i] : components[i];
    if (number < 1 || static_cast<size_t>(number) > fields.size()) return false;
    const FieldDescriptor& f = fields[number - 1];
    out.components.push_back({f.type, f.offset, f.size, components[i] < 0});
    out.value_length += f.size;
  }
  // A key entry's key part is table (4), kind (1), value and perhaps the record number (4); the
  // whole record must stay far below the page store's limit.
  return !out.components.empty() && out.value_length <= 4096;
}

int32_t prepare_table(TableInstance& t, FileBlock& file) {
  t.oem_file = (file.attributes & FA_OEM) != 0;
  t.fields.clear();
  if (file.record_type != nullptr) {
    t.fields = file.record_type->fields;
    for (const FieldDescriptor& f : t.fields) {
      if (!storable(f.type)) return err::kInvalidRecordDeclaration;
      if (size_t{f.offset} + f.total_size() > file.record_length)
        return err::kInvalidRecordDeclaration;
    }
  }
  t.field_count = static_cast<uint32_t>(t.fields.size());

  t.memos.clear();
  for (uint8_t i = 0; i < file.memo_count; ++i) {
    MemoBlock* m = file.memos[i];
    TableMemo memo;
    memo.block = m;
    memo.size = m->size;
    memo.blob = (m->attributes & MA_BLOB) != 0;
    memo.binary = (m->attributes & MA_BINARY) != 0;
    t.memos.push_back(std::move(memo));
  }
  t.memo_count = static_cast<uint32_t>(t.memos.size());

  t.keys.clear();
  if (file.key_count > kMaxKeyNumber + 1) return err::kInvalidRecordDeclaration;
  for (uint8_t i = 0; i < file.key_count; ++i) {
    KeyBlock* block = file.keys[i];
    auto key = std::make_unique<TableKey>();
    key->instance = &t;
    key->block = block;
    key->key_flags = key_flags_of(*block);
    key->kind = i;
    key->number = i + 1;
    key->name = block->label != nullptr ? std::string(block->label, block->label_length) : "";
    if (key->dynamic()) {
      key->flags |= KF_DYNAMIC;
      key->index = std::make_unique<MemoryStore>();
    }
    // A dynamic index may be declared without components; BUILDdyn gives them at run time.
    if (!t.fields.empty() && block->component_count > 0 &&
        !shape_key(t.fields, block->components, block->component_count,
                   (block->attributes & KA_NOCASE) != 0, key->shape))
      return err::kInvalidRecordDeclaration;
    block->driver_data = key.get();
    t.keys.push_back(std::move(key));
  }
  t.key_count = static_cast<uint32_t>(t.keys.size());

  // The definition as the file stores it.
  TableDefinition& d = t.definition;
  d = TableDefinition{};
  d.record_length = file.record_length;
  for (const FieldDescriptor& f : t.fields) d.fields.push_back(field_definition(f));
  for (const TableMemo& m : t.memos) {
    MemoDefinition md;
    md.name = optional_text(m.block->name, m.block->name_length);
    md.label = optional_text(m.block->label, m.block->label_length);
    md.size = m.size;
    md.flags = static_cast<uint8_t>((m.blob ? kMemoBlob : 0) | (m.binary ? kMemoBinary : 0));
    d.memos.push_back(std::move(md));
  }
  for (const auto& k : t.keys) {
    KeyDefinition kd;
    kd.name = optional_text(k->block->name, k->block->name_length);
    kd.label = optional_text(k->block->label, k->block->label_length);
    kd.flags = k->key_flags;
    for (uint8_t c = 0; c < k->block->component_count; ++c) {
      const int32_t n = k->block->components[c];
      kd.components.push_back(
          {static_cast<uint16_t>((n < 0 ? -n : n) - 1), n < 0 ? kComponentDescending : uint8_t{0}});
    }
    d.keys.push_back(std::move(kd));
  }
  return 0;
}

int32_t adopt_definition(TableInstance& t, const TableDefinition& stored) {
  if (stored.record_length > t.record_length) return err::kInvalidRecordDeclaration;
  t.fields.clear();
  for (const FieldDefinition& f : stored.fields) {
    FieldDescriptor d;
    d.label = f.name.value_or("");
    d.type = f.type;
    d.offset = f.offset;
    const uint32_t elements = f.members_after_size[1] > 1 ? f.members_after_size[1] : 1;
    d.size = f.size / elements;
    if (elements > 1) d.dimensions[0] = elements;
    d.places = f.places;
    d.group_members = f.member_before_size;
    if (f.picture && f.picture->size() > 1) d.picture = f.picture->substr(1);
    if (!storable(d.type) || size_t{d.offset} + f.size > stored.record_length)
      return err::kInvalidRecordDeclaration;
    t.fields.push_back(std::move(d));
  }
  t.field_count = static_cast<uint32_t>(t.fields.size());
  // Keys the program declared keep their blocks; their shapes come from the stored components.
  if (!t.keys.empty() && t.keys.size() != stored.keys.size()) return err::kInvalidRecordDeclaration;
  for (size_t i = 0; i < stored.keys.size(); ++i) {
    const KeyDefinition& kd = stored.keys[i];
    if (i >= t.keys.size()) {
      auto key = std::make_unique<TableKey>();
      key->instance = &t;
      key->kind = static_cast<uint8_t>(i);
      key->number = static_cast<int32_t>(i + 1);
      key->name = kd.label.value_or("");
      t.keys.push_back(std::move(key));
    }
    TableKey& key = *t.keys[i];
    key.key_flags = kd.flags;
    if (key.dynamic() && !key.index) {
      key.flags |= KF_DYNAMIC;
      key.index = std::make_unique<MemoryStore>();
    }
    std::vector<int32_t> components;
    for (const KeyComponentDefinition& c : kd.components) {
      const int32_t n = c.field + 1;
      components.push_back(c.flags & kComponentDescending ? -n : n);
    }
    if (!components.empty() && !shape_key(t.fields, components.data(), components.size(),
                                          (kd.flags & kKeyNoCase) != 0, key.shape))
      return err::kInvalidRecordDeclaration;
  }
  t.key_count = static_cast<uint32_t>(t.keys.size());
  t.definition = stored;
  return 0;
}

}  // namespace vtn::tarnwell
