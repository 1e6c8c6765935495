#include "runtime/files/basic/basic_properties.hpp"

#include <charconv>
#include <string>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/basic/basic_operations.hpp"
#include "runtime/files/field_info.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::basic {
namespace {

constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kInvalidFilename = 45;
constexpr int32_t kFileAlreadyOpen = 52;
constexpr int32_t kInvalidParameters = 78;
constexpr int32_t kUnsupported = 80;

// The options in the order a driver options text lists them.
constexpr const char* kOptionNames[] = {"FILEBUFFERS", "FIELDDELIMITER",     "QUOTE",
                                        "ENDOFRECORD", "ENDOFRECORDINQUOTE", "CTRLZISEOF",
                                        "QUICKSCAN",   "ALWAYSQUOTE"};

// A byte list as the options take it: the count, then each code.
std::string byte_list_text(std::string_view bytes) {
  std::string text = std::to_string(bytes.size());
  for (char c : bytes) text += "," + std::to_string(static_cast<uint8_t>(c));
  return text;
}

// The value of one option as text that the option takes back.
std::string option_value(const BasicOptions& options, std::string_view name) {
  if (name == "FILEBUFFERS") return std::to_string(options.buffer_size / kBufferUnit);
  if (name == "FIELDDELIMITER") return byte_list_text(options.field_delimiter);
  if (name == "ENDOFRECORD") return byte_list_text(options.end_of_record);
  BasicOptions copy = options;
  return apply_option(copy, name, 0).value_or("");
}

// The field numbered by the element (from 1); null when there is none.
const FieldDescriptor* element_field(const FileCall& call, std::string_view element) {
  while (!element.empty() && element.front() == ' ') element.remove_prefix(1);
  while (!element.empty() && element.back() == ' ') element.remove_suffix(1);
  uint32_t n = 0;
  const auto [end, ec] = std::from_chars(element.data(), element.data() + element.size(), n);
  if (ec != std::errc() || end != element.data() + element.size() || n == 0) return nullptr;
  return field_info(call.file->record_type, static_cast<int32_t>(n));
}

int32_t answer(FileCall& call, std::string text) {
  call.result_text = std::move(text);
  return 0;
}

int32_t get_name(BasicInstance& in, FileCall& call) {
  return answer(call, in.file_name);
}

int32_t set_name(BasicInstance& in, FileCall& call) {
  if (in.text.is_open()) return kFileAlreadyOpen;
  if (call.strings[0].empty()) return kInvalidFilename;
  in.file_name = call.strings[0];
  return 0;
}

int32_t get_label(BasicInstance&, FileCall& call) {
  const FieldDescriptor* f = element_field(call, call.strings[0]);
  return answer(call, f != nullptr ? f->label : std::string());
}

int32_t get_driver(BasicInstance&, FileCall& call) {
  return answer(call, basic_registration().name);
}

int32_t get_driver_options(BasicInstance& in, FileCall& call) {
  return answer(call, in.driver_options);
}

int32_t get_record_size(BasicInstance& in, FileCall& call) {
  return answer(call, std::to_string(in.record_length));
}

int32_t get_fields(BasicInstance& in, FileCall& call) {
  return answer(call, std::to_string(in.table.fields.size()));
}

int32_t get_none(BasicInstance&, FileCall& call) {
  return answer(call, "0");
}

int32_t get_type(BasicInstance&, FileCall& call) {
  const FieldDescriptor* f = element_field(call, call.strings[0]);
  return answer(call, f != nullptr ? std::string(value_type_name(f->value_type())) : "");
}

int32_t get_size(BasicInstance&, FileCall& call) {
  const FieldDescriptor* f = element_field(call, call.strings[0]);
  return answer(call, f != nullptr ? std::to_string(f->size) : "");
}

int32_t get_physical_file(BasicInstance& in, FileCall& call) {
  return answer(call, in.file_name);
}

int32_t get_pointer(BasicInstance& in, FileCall& call) {
  return answer(call, std::to_string((in.flags & BF_CURRENT) ? in.record_offset + 1 : 0));
}

int32_t get_option(BasicInstance& in, FileCall& call) {
  const std::string name = clean_option_text(call.strings[0]);
  if (name.empty()) {
    std::string text;
    for (const char* option : kOptionNames)
      text += "/" + std::string(option) + "=" + option_value(in.options, option);
    return answer(call, text);
  }
  BasicOptions copy = in.options;
  const std::optional<std::string> value = apply_option(copy, name, 0);
  return value ? answer(call, *value) : kInvalidParameters;
}

int32_t set_option(BasicInstance& in, FileCall& call) {
  const std::string name = clean_option_text(call.strings[1]);
  BasicOptions probe = in.options;
  if (name.empty() || !apply_option(probe, name, 0)) return kInvalidParameters;
  FileCall send;
  send.instance = call.instance;
  send.file = call.file;
  send.strings[0] = name + "=" + call.strings[0];
  return send_option(send);
}

int32_t get_file_size(BasicInstance& in, FileCall& call) {
  uint64_t size = 0;
  if (!in.text.size(size)) return system_failure();
  return answer(call, std::to_string(size));
}

struct Property {
  int32_t number;
  bool needs_open;
  int32_t (*get)(BasicInstance& in, FileCall& call);
  int32_t (*set)(BasicInstance& in, FileCall& call);  // null: read only
};

constexpr Property kProperties[] = {
    {prop::kName, false, get_name, set_name},
    {prop::kLabel, false, get_label, nullptr},
    {prop::kDriver, false, get_driver, nullptr},
    {prop::kDriverOptions, false, get_driver_options, nullptr},
    {prop::kRecordSize, false, get_record_size, nullptr},
    {prop::kFields, false, get_fields, nullptr},
    {prop::kKeys, false, get_none, nullptr},
    {prop::kMemos, false, get_none, nullptr},
    {prop::kBlobs, false, get_none, nullptr},
    {prop::kType, false, get_type, nullptr},
    {prop::kSize, false, get_size, nullptr},
    {prop::kPhysicalFile, true, get_physical_file, nullptr},
    {prop::kPointer, true, get_pointer, nullptr},
    {prop::kOption, false, get_option, set_option},
    {prop::kFileSize, true, get_file_size, nullptr},
};

const Property* property_of(const FileCall& call) {
  const auto number = static_cast<int32_t>(call.operand(0));
  for (const Property& p : kProperties)
    if (p.number == number) return &p;
  return nullptr;
}

}  // namespace

int32_t get_property(FileCall& call) {
  const Property* p = property_of(call);
  if (p == nullptr) return kUnsupported;
  BasicInstance& in = instance_of(call);
  if (p->needs_open && !in.text.is_open()) return kFileNotOpen;
  return p->get(in, call);
}

int32_t set_property(FileCall& call) {
  const Property* p = property_of(call);
  return p != nullptr && p->set != nullptr ? p->set(instance_of(call), call) : kUnsupported;
}

}  // namespace vtn::basic
