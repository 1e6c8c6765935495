#include "runtime/files/file_declaration.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/thread_files.hpp"

namespace vtn {
namespace {

constexpr uint8_t kGroup = static_cast<uint8_t>(ValueType::GROUP);
constexpr size_t kMaxKeys = 255;
constexpr size_t kMaxMemos = 255;
constexpr uint64_t kMaxRecordLength = 0x7FFFFFFF;

[[noreturn]] void bad_declaration(const std::string& prefix, const std::string& what) {
  throw std::invalid_argument("FILE " + prefix + ": " + what);
}

bool same_label(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

// The first `n` dimensions, checked.
std::array<uint32_t, FieldDescriptor::kMaxDimensions> dimensions_of(
    const std::string& prefix, const std::string& label, const std::vector<uint32_t>& dim) {
  if (dim.size() > FieldDescriptor::kMaxDimensions)
    bad_declaration(prefix, label + " has more than 4 dimensions");
  std::array<uint32_t, FieldDescriptor::kMaxDimensions> out{};
  for (size_t i = 0; i < dim.size(); ++i) {
    if (dim[i] == 0) bad_declaration(prefix, label + " has a dimension of 0");
    out[i] = dim[i];
  }
  return out;
}

}  // namespace

FileDeclaration::FileDeclaration(std::string prefix) : prefix_(std::move(prefix)) {}

std::string FileDeclaration::labelled(std::string label) const {
  if (label.find(':') != std::string::npos || prefix_.empty()) return label;
  return prefix_ + ":" + label;
}

FileDeclaration& FileDeclaration::driver(DriverEntry entry, std::string options) {
  entry_ = entry;
  options_ = {};
  if (!options.empty()) options_ = {std::move(options), nullptr, 0, true};
  return *this;
}

FileDeclaration& FileDeclaration::name(std::string constant) {
  name_ = {std::move(constant), nullptr, 0, true};
  return *this;
}

FileDeclaration& FileDeclaration::name_variable(const char* storage, uint32_t size) {
  name_ = {{}, storage, size, true};
  return *this;
}

FileDeclaration& FileDeclaration::owner(std::string constant) {
  owner_ = {std::move(constant), nullptr, 0, true};
  return *this;
}

FileDeclaration& FileDeclaration::owner_variable(const char* storage, uint32_t size) {
  owner_ = {{}, storage, size, true};
  return *this;
}

FileDeclaration& FileDeclaration::options_variable(const char* storage, uint32_t size) {
  options_ = {{}, storage, size, true};
  return *this;
}

FileDeclaration& FileDeclaration::attribute(uint8_t bits) {
  attributes_ |= bits;
  return *this;
}

FileDeclaration& FileDeclaration::build_events(BuildEventHandler handler, uint32_t step) {
  build_events_ = handler;
  build_event_step_ = step;
  return *this;
}

FileDeclaration& FileDeclaration::field(std::string label, FieldType type, FieldOptions options) {
  fields_.push_back({labelled(std::move(label)), false, false, type, std::move(options)});
  return *this;
}

FileDeclaration& FileDeclaration::group(std::string label, FieldOptions options) {
  fields_.push_back({labelled(std::move(label)), true, false, {kGroup, 0, 0}, std::move(options)});
  return *this;
}

FileDeclaration& FileDeclaration::end() {
  fields_.push_back({{}, false, true, {}, {}});
  return *this;
}

FileDeclaration& FileDeclaration::key(std::string label, std::vector<std::string> components,
                                      uint32_t attributes, std::string name) {
  keys_.push_back({labelled(std::move(label)), std::move(components), attributes, std::move(name)});
  return *this;
}

FileDeclaration& FileDeclaration::index(std::string label, std::vector<std::string> components,
                                        uint32_t attributes, std::string name) {
  return key(std::move(label), std::move(components), attributes | KA_INDEX, std::move(name));
}

FileDeclaration& FileDeclaration::memo(std::string label, uint32_t size, MemoOptions options) {
  memos_.push_back({labelled(std::move(label)), size, false, std::move(options)});
  return *this;
}

FileDeclaration& FileDeclaration::blob(std::string label, MemoOptions options) {
  memos_.push_back({labelled(std::move(label)), 0, true, std::move(options)});
  return *this;
}

// Lays out the RECORD: offsets in order of declaration, GROUPs around their members, OVER
// fields on the storage of their target. The record is as long as its furthest field.
File::File(const FileDeclaration& d) : type_(std::make_unique<RecordType>()) {
  struct OpenGroup {
    size_t index;     // of the GROUP's descriptor
    uint32_t start;   // its offset
    uint64_t resume;  // where the next field goes after its end()
    bool over;
  };
  std::vector<OpenGroup> groups;
  std::vector<FieldDescriptor>& fields = type_->fields;
  uint64_t offset = 0;
  uint64_t record_end = 0;

  for (const FileDeclaration::FieldSpec& spec : d.fields_) {
    if (spec.group_end) {
      if (groups.empty()) bad_declaration(d.prefix_, "end() without a GROUP");
      const OpenGroup g = groups.back();
      groups.pop_back();
      FieldDescriptor& group = fields[g.index];
      group.size = static_cast<uint32_t>(offset - g.start);
      group.group_members = static_cast<uint32_t>(fields.size() - g.index - 1);
      const uint64_t end = uint64_t{g.start} + uint64_t{group.size} * group.element_count();
      record_end = std::max(record_end, end);
      offset = g.over ? g.resume : end;
      continue;
    }
    FieldDescriptor f;
    f.label = spec.label;
    f.type = spec.type.code;
    f.size = spec.type.size;
    f.places = spec.type.places;
    f.picture = spec.options.picture;
    f.dimensions = dimensions_of(d.prefix_, spec.label, spec.options.dim);
    if (!spec.options.name.empty() && spec.options.name != spec.label)
      f.external_name = spec.options.name;
    for (const FieldDescriptor& other : fields)
      if (same_label(other.label, f.label)) bad_declaration(d.prefix_, f.label + " declared twice");

    uint64_t resume = offset;
    const bool over = !spec.options.over.empty();
    if (over) {
      const int32_t target = field_number(type_.get(), spec.options.over);
      if (target == 0) bad_declaration(d.prefix_, f.label + " is OVER an unknown field");
      offset = fields[static_cast<size_t>(target) - 1].offset;
    }
    if (offset > kMaxRecordLength) bad_declaration(d.prefix_, "the record is too long");
    f.offset = static_cast<uint32_t>(offset);
    if (spec.group_start) {
      groups.push_back({fields.size(), f.offset, resume, over});
      fields.push_back(std::move(f));
      continue;
    }
    if (f.size == 0) bad_declaration(d.prefix_, f.label + " has no size");
    const uint64_t end = offset + uint64_t{f.size} * f.element_count();
    record_end = std::max(record_end, end);
    offset = over ? resume : end;
    fields.push_back(std::move(f));
  }
  if (!groups.empty())
    bad_declaration(d.prefix_, fields[groups.back().index].label + " has no end()");
  record_end = std::max(record_end, offset);
  if (record_end > kMaxRecordLength) bad_declaration(d.prefix_, "the record is too long");
  type_->size = static_cast<uint32_t>(record_end);

  // The FileBlock.
  block_.entry = d.entry_;
  auto text = [](const FileDeclaration::TextSpec& spec, std::string& owned, const char*& out,
                 uint32_t& length) {
    if (!spec.present) return false;
    if (spec.variable != nullptr) {
      out = spec.variable;
      length = spec.variable_size;
      return true;
    }
    owned = spec.constant;
    out = owned.c_str();
    length = static_cast<uint32_t>(owned.size());
    return false;
  };
  if (text(d.name_, name_, block_.name, block_.name_length)) block_.variable_texts |= FV_NAME;
  if (text(d.owner_, owner_, block_.owner, block_.owner_length)) block_.variable_texts |= FV_OWNER;
  if (text(d.options_, options_, block_.driver_options, block_.driver_options_length))
    block_.variable_texts |= FV_OPTIONS;
  block_.attributes = d.attributes_;
  block_.build_events = d.build_events_;
  block_.build_event_step = d.build_event_step_;
  block_.record_length = type_->size;
  block_.record_type = type_.get();
  record_ = std::make_unique<char[]>(type_->size == 0 ? 1 : type_->size);
  clear_record(type_.get(), record_.get(), type_->size);
  block_.record = record_.get();
  block_.home_thread = std::this_thread::get_id();

  // Keys.
  if (d.keys_.size() > kMaxKeys) bad_declaration(d.prefix_, "more than 255 keys");
  for (const FileDeclaration::KeySpec& spec : d.keys_) {
    auto k = std::make_unique<KeyBlock>();
    const std::string& label = key_texts_.emplace_back(spec.label);
    k->label = label.c_str();
    k->label_length = static_cast<uint32_t>(label.size());
    if (!spec.name.empty()) {
      const std::string& name = key_texts_.emplace_back(spec.name);
      k->name = name.c_str();
      k->name_length = static_cast<uint32_t>(name.size());
    }
    k->attributes = spec.attributes;
    std::vector<int32_t>& components = components_.emplace_back();
    for (std::string_view c : spec.components) {
      bool descending = false;
      if (!c.empty() && (c.front() == '-' || c.front() == '+')) {
        descending = c.front() == '-';
        c.remove_prefix(1);
      }
      const int32_t number = field_number(type_.get(), c);
      if (number == 0)
        bad_declaration(d.prefix_, spec.label + " names an unknown field " + std::string(c));
      components.push_back(descending ? -number : number);
    }
    if (components.empty() || components.size() > 255)
      bad_declaration(d.prefix_, spec.label + " needs 1 to 255 components");
    k->component_count = static_cast<uint8_t>(components.size());
    k->components = components.data();
    k->file = &block_;
    key_table_.push_back(k.get());
    keys_.push_back(std::move(k));
  }
  block_.key_count = static_cast<uint8_t>(keys_.size());
  block_.keys = key_table_.empty() ? nullptr : key_table_.data();

  // Memos.
  if (d.memos_.size() > kMaxMemos) bad_declaration(d.prefix_, "more than 255 memos");
  for (const FileDeclaration::MemoSpec& spec : d.memos_) {
    auto m = std::make_unique<MemoBlock>();
    const std::string& label = memo_texts_.emplace_back(spec.label);
    m->label = label.c_str();
    m->label_length = static_cast<uint32_t>(label.size());
    if (!spec.options.name.empty()) {
      const std::string& name = memo_texts_.emplace_back(spec.options.name);
      m->name = name.c_str();
      m->name_length = static_cast<uint32_t>(name.size());
    }
    m->attributes =
        static_cast<uint8_t>((spec.blob ? MA_BLOB : 0) | (spec.options.binary ? MA_BINARY : 0));
    m->size = spec.size;
    memo_buffers_.push_back(std::make_unique<char[]>(spec.size == 0 ? 1 : spec.size));
    std::memset(memo_buffers_.back().get(), 0, spec.size == 0 ? 1 : spec.size);
    m->buffer = memo_buffers_.back().get();
    memo_table_.push_back(m.get());
    memos_.push_back(std::move(m));
  }
  block_.memo_count = static_cast<uint8_t>(memos_.size());
  block_.memos = memo_table_.empty() ? nullptr : memo_table_.data();
}

// The instance belongs to a driver that may still hold resources for it (an open file).
File::~File() {
  discard_instance(block_);
}

FileBlock& File::block() {
  return thread_file(block_);
}

KeyBlock& File::key(std::string_view label) {
  for (auto& k : keys_) {
    const std::string_view l(k->label, k->label_length);
    const size_t colon = l.find(':');
    if (same_label(l, label) ||
        (label.find(':') == std::string_view::npos && colon != std::string_view::npos &&
         same_label(l.substr(colon + 1), label)))
      return thread_key(*k);
  }
  throw std::invalid_argument("no key " + std::string(label));
}

MemoBlock& File::memo(std::string_view label) {
  FileBlock& mine = block();
  for (size_t i = 0; i < memos_.size(); ++i) {
    const std::string_view l(memos_[i]->label, memos_[i]->label_length);
    const size_t colon = l.find(':');
    if (same_label(l, label) ||
        (label.find(':') == std::string_view::npos && colon != std::string_view::npos &&
         same_label(l.substr(colon + 1), label)))
      return *mine.memos[i];
  }
  throw std::invalid_argument("no memo " + std::string(label));
}

void File::clear() {
  clear_record(type_.get(), record(), block_.record_length);
}

void File::check_record_size(size_t size) const {
  if (size != block_.record_length)
    throw std::invalid_argument("record struct of " + std::to_string(size) +
                                " bytes for a record of " + std::to_string(block_.record_length));
}

}  // namespace vtn
