#include "runtime/files/basic/basic_options.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

namespace vtn::basic {
namespace {

// The decimal numbers of a value: the first begins at the first digit, each further one after a
// ",". Items without digits are left out.
std::vector<uint32_t> numbers_of(std::string_view value) {
  std::vector<uint32_t> out;
  size_t i = value.find_first_of("0123456789");
  while (i != std::string_view::npos && i < value.size()) {
    uint64_t n = 0;
    bool any = false;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
      n = std::min<uint64_t>(n * 10 + static_cast<uint64_t>(value[i] - '0'), UINT32_MAX);
      any = true;
      ++i;
    }
    if (any) out.push_back(static_cast<uint32_t>(n));
    const size_t comma = value.find(',', i);
    if (comma == std::string_view::npos) break;
    i = value.find_first_of("0123456789", comma + 1);
  }
  return out;
}

// A counted byte list "n,c1,...,cn"; nothing when it holds no byte at all, so that a sequence
// never becomes empty (an empty delimiter or end of record would cut nothing).
std::optional<std::string> byte_list(std::string_view value) {
  const std::vector<uint32_t> n = numbers_of(value);
  if (n.size() < 2 || n[0] == 0) return std::nullopt;
  std::string bytes;
  for (size_t i = 1; i < n.size() && bytes.size() < n[0]; ++i)
    bytes.push_back(static_cast<char>(n[i] & 0xFF));
  return bytes;
}

std::string on_off(bool on) {
  return on ? "ON" : "OFF";
}

// One option: `value` is the text after "=", `given` tells whether there was an "=".
struct Setter {
  std::string_view name;
  std::string (*apply)(BasicOptions& o, std::string_view value, bool given, uint32_t min_buffer,
                       OptionChange& change);
};

std::string set_buffers(BasicOptions& o, std::string_view value, bool given, uint32_t min_buffer,
                        OptionChange& change) {
  std::string old = std::to_string(o.buffer_size);
  const std::vector<uint32_t> n = numbers_of(value);
  if (given && !n.empty()) {
    const uint32_t units = std::min(n[0], kMaxBufferUnits);
    o.buffer_size = std::max(units * kBufferUnit, min_buffer);
    change.buffer = true;
  }
  return old;
}

std::string set_delimiter(BasicOptions& o, std::string_view value, bool given, uint32_t,
                          OptionChange&) {
  std::string old = o.field_delimiter;
  if (given)
    if (auto bytes = byte_list(value)) o.field_delimiter = *bytes;
  return old;
}

std::string set_comma(BasicOptions& o, std::string_view value, bool given, uint32_t,
                      OptionChange&) {
  std::string old = o.field_delimiter.size() == 1
                        ? std::to_string(static_cast<uint8_t>(o.field_delimiter[0]))
                        : std::string();
  const std::vector<uint32_t> n = numbers_of(value);
  if (given && !n.empty()) o.field_delimiter = std::string(1, static_cast<char>(n[0] & 0xFF));
  return old;
}

std::string set_quote(BasicOptions& o, std::string_view value, bool given, uint32_t,
                      OptionChange&) {
  std::string old = std::to_string(o.quote);
  const std::vector<uint32_t> n = numbers_of(value);
  if (given && !n.empty()) o.quote = static_cast<uint8_t>(n[0] & 0xFF);
  return old;
}

std::string set_end_of_record(BasicOptions& o, std::string_view value, bool given, uint32_t,
                              OptionChange&) {
  std::string old = o.end_of_record;
  if (given)
    if (auto bytes = byte_list(value)) o.end_of_record = *bytes;
  return old;
}

// "OFF" switches off, any other value on.
std::string set_switch_default_on(bool& flag, std::string_view value, bool given) {
  std::string old = on_off(flag);
  if (given) flag = value != "OFF";
  return old;
}

// "ON" or "OFF"; anything else leaves the switch.
std::string set_switch_exact(bool& flag, std::string_view value, bool given) {
  std::string old = on_off(flag);
  if (given && value == "ON") flag = true;
  if (given && value == "OFF") flag = false;
  return old;
}

// Longer names first where one name begins with another.
constexpr Setter kSetters[] = {
    {"FILEBUFFERS", set_buffers},
    {"FIELDDELIMITER", set_delimiter},
    {"COMMA", set_comma},
    {"QUOTE", set_quote},
    {"ENDOFRECORDINQUOTE",
     [](BasicOptions& o, std::string_view v, bool g, uint32_t, OptionChange&) {
       return set_switch_default_on(o.end_of_record_in_quote, v, g);
     }},
    {"ENDOFRECORD", set_end_of_record},
    {"CTRLZISEOF", [](BasicOptions& o, std::string_view v, bool g, uint32_t,
                      OptionChange&) { return set_switch_default_on(o.ctrl_z_is_eof, v, g); }},
    {"QUICKSCAN",
     [](BasicOptions& o, std::string_view v, bool g, uint32_t, OptionChange& c) {
       const bool before = o.quick_scan;
       std::string old = set_switch_exact(o.quick_scan, v, g);
       c.buffer = c.buffer || before != o.quick_scan;
       return old;
     }},
    {"ALWAYSQUOTE", [](BasicOptions& o, std::string_view v, bool g, uint32_t,
                       OptionChange&) { return set_switch_exact(o.always_quote, v, g); }},
};

}  // namespace

std::string clean_option_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ') out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return out;
}

std::optional<std::string> apply_option(BasicOptions& options, std::string_view cleaned,
                                        uint32_t min_buffer, OptionChange* change) {
  OptionChange ignored;
  for (const Setter& s : kSetters) {
    if (!cleaned.starts_with(s.name)) continue;
    std::string_view rest = cleaned.substr(s.name.size());
    const bool given = !rest.empty() && rest.front() == '=';
    if (given) rest.remove_prefix(1);
    return s.apply(options, rest, given, min_buffer, change != nullptr ? *change : ignored);
  }
  return std::nullopt;
}

void apply_driver_options(BasicOptions& options, std::string_view text, uint32_t min_buffer) {
  const std::string cleaned = clean_option_text(text);
  std::string_view rest = cleaned;
  size_t slash = rest.find('/');
  while (slash != std::string_view::npos) {
    rest.remove_prefix(slash + 1);
    slash = rest.find('/');
    apply_option(options, rest.substr(0, slash), min_buffer);
  }
}

}  // namespace vtn::basic
