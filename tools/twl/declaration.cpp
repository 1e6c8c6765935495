#include "tools/twl/declaration.hpp"

#include <stdexcept>
#include <vector>

#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/value_type.hpp"
#include "tools/twl/catalog.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

std::string prefix_of(const tw::TableDefinition& d) {
  for (const tw::FieldDefinition& f : d.fields) {
    const std::string label = f.name.value_or("");
    const size_t colon = label.find(':');
    if (colon != std::string::npos && colon > 0) return label.substr(0, colon);
  }
  return "TWL";
}

// The label of the first earlier field that starts where field i does, when field i lies over
// storage already declared (OVER); empty otherwise.
std::string over_of(const tw::TableDefinition& d, size_t i, uint32_t next_free) {
  if (d.fields[i].offset >= next_free) return "";
  for (size_t j = 0; j < i; ++j) {
    if (d.fields[j].offset == d.fields[i].offset) return d.fields[j].name.value_or("");
  }
  throw std::invalid_argument("field " + d.fields[i].name.value_or("") +
                              " overlaps no field that starts where it does");
}

}  // namespace

std::unique_ptr<vtn::File> declare_table(const std::string& name, const tw::TableDefinition& d,
                                         const std::string& password, vtn::BuildEventHandler events,
                                         uint32_t event_step) {
  vtn::FileDeclaration declaration(prefix_of(d));
  declaration.driver(vtn::tarnwell_entry).name(name);
  if (!password.empty()) declaration.owner(password).encrypt();
  if (events != nullptr) declaration.build_events(events, event_step);

  // GROUPs: how many member fields (nested ones included) each open group still has to take.
  std::vector<uint32_t> open_groups;
  uint32_t next_free = 0;
  for (size_t i = 0; i < d.fields.size(); ++i) {
    const tw::FieldDefinition& f = d.fields[i];
    vtn::FieldOptions options;
    options.over = over_of(d, i, next_free);
    const uint32_t elements = f.members_after_size[1] > 1 ? f.members_after_size[1] : 1;
    if (elements > 1) options.dim = {elements};
    if (f.picture && f.picture->size() > 1) options.picture = f.picture->substr(1);
    for (uint32_t& members_left : open_groups) --members_left;  // nested members count outward too
    if (f.type == static_cast<uint8_t>(vtn::ValueType::GROUP)) {
      declaration.group(f.name.value_or(""), options);
      open_groups.push_back(f.member_before_size);
    } else {
      declaration.field(
          f.name.value_or(""),
          vtn::ftype::of(static_cast<vtn::ValueType>(f.type), f.size / elements, f.places),
          options);
      next_free = std::max(next_free, f.offset + f.size);
    }
    while (!open_groups.empty() && open_groups.back() == 0) {
      open_groups.pop_back();
      declaration.end();
    }
  }
  while (!open_groups.empty()) {
    open_groups.pop_back();
    declaration.end();
  }

  for (const tw::MemoDefinition& m : d.memos) {
    vtn::MemoOptions options{(m.flags & tw::kMemoBinary) != 0, m.name.value_or("")};
    if (m.is_blob()) {
      declaration.blob(m.label.value_or(""), options);
    } else {
      declaration.memo(m.label.value_or(""), m.size, options);
    }
  }
  for (const tw::KeyDefinition& k : d.keys) {
    std::vector<std::string> components;
    for (const tw::KeyComponentDefinition& c : k.components) {
      if (c.field >= d.fields.size()) throw std::invalid_argument("a key component names no field");
      components.push_back((c.flags ? "-" : "+") + d.fields[c.field].name.value_or(""));
    }
    const uint32_t attributes = (k.flags & kKeyDuplicates ? vtn::KA_DUP : 0) |
                                (k.flags & kKeyNoCase ? vtn::KA_NOCASE : 0) |
                                (k.flags & kKeyPrimary ? vtn::KA_PRIMARY : 0);
    if (k.flags & kKeyDynamic) {
      declaration.index(k.label.value_or(""), components, attributes, k.name.value_or(""));
    } else {
      declaration.key(k.label.value_or(""), components, attributes, k.name.value_or(""));
    }
  }
  return std::make_unique<vtn::File>(declaration);
}

}  // namespace twl
