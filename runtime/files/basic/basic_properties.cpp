#include "runtime/files/basic/basic_properties.hpp"

#include <string>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/basic/basic_operations.hpp"

namespace vtn::basic {
namespace {

constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kInvalidFilename = 45;
constexpr int32_t kFileAlreadyOpen = 52;
constexpr int32_t kInvalidParameters = 78;
constexpr int32_t kUnsupported = 80;

// The options as a driver options text, in the order of the option table.
constexpr const char* kOptionNames[] = {"FILEBUFFERS", "FIELDDELIMITER",     "QUOTE",
                                        "ENDOFRECORD", "ENDOFRECORDINQUOTE", "CTRLZISEOF",
                                        "QUICKSCAN",   "ALWAYSQUOTE"};

// A byte list as the options write it: the count, then each code.
std::string byte_list_text(std::string_view bytes) {
  std::string text = std::to_string(bytes.size());
  for (char c : bytes) text += "," + std::to_string(static_cast<uint8_t>(c));
  return text;
}

// The value of one option as text that the option itself takes back.
std::string option_value(const BasicOptions& options, std::string_view name) {
  if (name == "FILEBUFFERS") return std::to_string(options.buffer_size / kBufferUnit);
  if (name == "FIELDDELIMITER") return byte_list_text(options.field_delimiter);
  if (name == "ENDOFRECORD") return byte_list_text(options.end_of_record);
  BasicOptions copy = options;
  return apply_option(copy, name, 0).value_or("");
}

int32_t get_driver(BasicInstance&, FileCall& call) {
  call.result_text = basic_registration().name;
  return 0;
}

int32_t get_name(BasicInstance& in, FileCall& call) {
  call.result_text = in.file_name;
  return 0;
}

int32_t set_name(BasicInstance& in, FileCall& call) {
  if (in.text.is_open()) return kFileAlreadyOpen;
  if (call.strings[0].empty()) return kInvalidFilename;
  in.file_name = call.strings[0];
  return 0;
}

int32_t get_option(BasicInstance& in, FileCall& call) {
  const std::string name = clean_option_text(call.strings[0]);
  if (!name.empty()) {
    BasicOptions copy = in.options;
    const std::optional<std::string> value = apply_option(copy, name, 0);
    if (!value) return kInvalidParameters;
    call.result_text = *value;
    return 0;
  }
  for (const char* option : kOptionNames)
    call.result_text += "/" + std::string(option) + "=" + option_value(in.options, option);
  return 0;
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

int32_t get_pointer(BasicInstance& in, FileCall& call) {
  call.result_text = std::to_string((in.flags & BF_CURRENT) ? in.record_offset + 1 : 0);
  return 0;
}

int32_t get_file_size(BasicInstance& in, FileCall& call) {
  if (!in.text.is_open()) return kFileNotOpen;
  uint64_t size = 0;
  if (!in.text.size(size)) return system_failure();
  call.result_text = std::to_string(size);
  return 0;
}

struct Property {
  int32_t number;
  int32_t (*get)(BasicInstance& in, FileCall& call);
  int32_t (*set)(BasicInstance& in, FileCall& call);  // null: read only
};

constexpr Property kProperties[] = {
    {kPropertyDriver, get_driver, nullptr},      {kPropertyName, get_name, set_name},
    {kPropertyOption, get_option, set_option},   {kPropertyPointer, get_pointer, nullptr},
    {kPropertyFileSize, get_file_size, nullptr},
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
  return p != nullptr ? p->get(instance_of(call), call) : kUnsupported;
}

int32_t set_property(FileCall& call) {
  const Property* p = property_of(call);
  return p != nullptr && p->set != nullptr ? p->set(instance_of(call), call) : kUnsupported;
}

}  // namespace vtn::basic
