#include "runtime/files/tarnwell/send_options.hpp"

#include <cctype>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/files/tarnwell/transaction.hpp"

namespace vtn::tarnwell {
namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// The first table name of the file at or after `from`, without its terminating zero.
std::string table_name_at_or_after(TableInstance& t, const std::string& from) {
  Bytes key{kTableNameByte};
  key.insert(key.end(), from.begin(), from.end());
  auto r = t.store->find_at_or_after(key);
  if (!r || r->key.size() < 2 || r->key[0] != kTableNameByte) return {};
  return std::string(r->key.begin() + 1, r->key.end() - 1);
}

}  // namespace

SendRequest parse_send(std::string_view text) {
  SendRequest q;
  if (size_t at = text.find("TCF"); at != std::string_view::npos) {
    q.option = SendOption::tcf;
    if (at + 3 < text.size() && text[at + 3] == '=') {
      q.assigns = true;
      q.value = std::string(text.substr(at + 4));
    }
    return q;
  }
  if (starts_with_ignoring_case(text, "FULLBUILD")) {
    q.option = SendOption::fullbuild;
    if (text.size() > 9 && text[9] == '=') {
      q.assigns = true;
      q.value = std::string(text.substr(10));
    }
    return q;
  }
  if (starts_with_ignoring_case(text, "FLAGS")) {
    q.option = SendOption::flags;
    if (text.size() > 5 && text[5] == '=') {
      q.assigns = true;
      q.value = std::string(text.substr(6));
    }
    return q;
  }
  if (size_t at = text.find("PNM="); at != std::string_view::npos) {
    q.option = SendOption::table_name;
    q.assigns = true;
    q.value = std::string(text.substr(at + 4));
  }
  return q;
}

uint32_t parse_flags_value(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint32_t v = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
    v = v * 10 + static_cast<uint32_t>(text[i++] - '0');
  return negative ? 0u - v : v;
}

int32_t op_send(TableInstance& t, FileCall& call) {
  const SendRequest q = parse_send(call.strings[0]);
  switch (q.option) {
    case SendOption::none:
      return 0;
    case SendOption::tcf:
      if (q.assigns) set_explicit_control_file_name(q.value);
      call.result_text = explicit_control_file_name();
      return 0;
    case SendOption::fullbuild:
      if (q.assigns) t.fullbuild = starts_with_ignoring_case(q.value, "ON");
      call.result_text = t.fullbuild ? "ON" : "OFF";
      return 0;
    case SendOption::flags: {
      if (!t.is_open()) return 0;
      Counter c = read_counter(t, kKindData).value_or(Counter{});
      if (q.assigns) {
        c.second = parse_flags_value(q.value);
        write_counter(t, kKindData, c);
      }
      call.result_text = std::to_string(c.second);
      return 0;
    }
    case SendOption::table_name:
      if (t.is_open()) call.result_text = table_name_at_or_after(t, q.value);
      return 0;
  }
  return 0;
}

}  // namespace vtn::tarnwell
