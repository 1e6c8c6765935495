#include "runtime/format/environment_key.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/format/collation_builder.hpp"
#include "runtime/format/date_names.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/format/intl_settings.hpp"
#include "runtime/platform/char_classes.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_messages.hpp"

namespace vtn {
namespace {

constexpr size_t kNormalizedLimit = 400;
constexpr size_t kSequenceLimit = 256;
constexpr size_t kCaseListLimit = 128;
constexpr size_t kMonthNameLimit = 12;
constexpr size_t kMonthShortLimit = 3;
constexpr size_t kDayPartLimit = 2;
constexpr int32_t kButtonCaptionBase = 0x7F00;

struct NamedKey {
  std::string_view name;
  EnvironmentKey key;
};

constexpr NamedKey kNamedKeys[] = {
    {"VTNCHARSET", EnvironmentKey::kCharset}, {"VTNCOLSEQ", EnvironmentKey::kCollation},
    {"VTNCASE", EnvironmentKey::kCase},       {"VTNMONTH", EnvironmentKey::kMonth},
    {"VTNMON", EnvironmentKey::kMon},         {"VTNAMPM", EnvironmentKey::kAmPm},
    {"VTNDIGRAPH", EnvironmentKey::kDigraph}, {"VTNBUTTON", EnvironmentKey::kButton},
    {"VTNLFN", EnvironmentKey::kLfn},
};

constexpr std::string_view kMessagePrefix = "VTNMSG";

char ascii_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_upper(x) == ascii_upper(y);
         });
}

std::string_view skip_leading_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Copies at most `limit` characters of `text` into a NUL-terminated slot of limit + 1 bytes.
template <size_t N>
void fill_slot(char (&slot)[N], std::string_view text, size_t limit) {
  static_assert(N >= 1);
  const size_t n = std::min({text.size(), limit, N - 1});
  std::memcpy(slot, text.data(), n);
  slot[n] = '\0';
}

class Items {
 public:
  explicit Items(std::string_view normalized) : items_(environment_items(normalized)) {}
  bool exists(size_t i) const { return i < items_.size(); }
  bool present(size_t i) const { return exists(i) && !items_[i].empty(); }  // exists, not empty
  const std::string& operator[](size_t i) const { return items_[i]; }
  std::string_view get(size_t i) const { return exists(i) ? items_[i] : std::string_view(); }

 private:
  std::vector<std::string> items_;
};

void apply_case(std::string_view raw_value, const Items& items) {
  CharTables& t = char_tables();
  if (skip_leading_blanks(raw_value).empty()) {
    reset_case_tables(t);
    return;
  }
  std::string upper, lower;
  if (equals_ignoring_case(items.get(0), "WINDOWS") || !items.present(0) ||
      items.get(0).size() != items.get(1).size()) {
    for (int c = 0; c < 256; ++c) {
      const auto code = static_cast<uint8_t>(c);
      if (platform::is_char_alpha(code) && platform::is_char_upper(code)) upper += char(code);
    }
    lower = upper;
    platform::char_lower_buffer(lower.data(), lower.size());
  } else {
    upper = items[0].substr(0, kCaseListLimit);
    lower = items[1].substr(0, kCaseListLimit);
  }
  const size_t n = std::min(upper.size(), lower.size());
  for (size_t i = 0; i < n; ++i) {
    const auto u = static_cast<uint8_t>(upper[i]);
    const auto l = static_cast<uint8_t>(lower[i]);
    if (u < 0x80 || l < 0x80) continue;
    t.case_partner[u] = l;
    t.case_class[u] = kClassUpper;
    t.case_partner[l] = u;
    t.case_class[l] = kClassLower;
  }
}

void apply_am_pm(const Items& items) {
  if (!items.present(0)) return;
  DateNames& names = date_names();
  if (equals_ignoring_case(items[0], "WINDOWS")) {
    fill_slot(names.day_part[0], intl_settings().s1159, kDayPartLimit);
    fill_slot(names.day_part[1], intl_settings().s2359, kDayPartLimit);
    return;
  }
  fill_slot(names.day_part[0], items[0], kDayPartLimit);
  if (items.present(1)) fill_slot(names.day_part[1], items[1], kDayPartLimit);
}

void apply_digraphs(const Items& items) {
  CharTables& t = char_tables();
  size_t slot = 0;
  for (size_t i = 0; items.present(i) && slot < CharTables::kDigraphSlots; ++i) {
    const std::string& item = items[i];
    size_t p = 0;
    while (p + 3 <= item.size() && slot < CharTables::kDigraphSlots) {
      t.digraphs_ansi[slot++] = {static_cast<uint8_t>(item[p]), static_cast<uint8_t>(item[p + 1]),
                                 static_cast<uint8_t>(item[p + 2])};
      p += 3;
      if (p < item.size() && item[p] == ',') ++p;
    }
  }
  if (slot < CharTables::kDigraphSlots) t.digraphs_ansi[slot] = Digraph{};
  for (size_t s = 0; s < CharTables::kDigraphSlots; ++s) {
    const Digraph& d = t.digraphs_ansi[s];
    t.digraphs_oem[s] = {platform::ansi_to_oem_char(d.character),
                         platform::ansi_to_oem_char(d.first), platform::ansi_to_oem_char(d.second)};
  }
}

}  // namespace

namespace detail {
bool& long_file_name_switch() {
  static bool on = true;
  return on;
}
}  // namespace detail

bool long_file_names() {
  return detail::long_file_name_switch();
}

ParsedEnvironmentKey parse_environment_key(std::string_view key) {
  for (const NamedKey& named : kNamedKeys) {
    if (equals_ignoring_case(key, named.name)) return {named.key, 0};
  }
  if (key.starts_with(kMessagePrefix)) {
    const std::string_view digits = key.substr(kMessagePrefix.size());
    if (digits.empty() || digits.size() > 9) return {};
    int32_t n = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return {};
      n = n * 10 + (c - '0');
    }
    return {EnvironmentKey::kMessage, n};
  }
  return {};
}

std::string normalize_environment_value(std::string_view value, bool commas_separate_items) {
  value = skip_leading_blanks(value);
  std::string out;
  if (!value.empty() && value.front() == '"') {
    out.assign(value.substr(0, kNormalizedLimit));
    return out;
  }
  out += '"';
  for (char c : value) {
    if (out.size() >= kNormalizedLimit) break;
    if (c == '"') {
      out += "\"\"";
    } else if (c == ',' && commas_separate_items) {
      out += "\",\"";
    } else {
      out += c;
    }
  }
  out += '"';
  if (out.size() > kNormalizedLimit) out.resize(kNormalizedLimit);
  return out;
}

std::vector<std::string> environment_items(std::string_view s) {
  std::vector<std::string> items;
  size_t i = 0;
  auto separator = [](char c) { return c == ' ' || c == ','; };
  while (true) {
    while (i < s.size() && separator(s[i])) ++i;
    if (i >= s.size()) break;
    std::string item;
    if (s[i] == '"') {
      ++i;
      while (i < s.size()) {
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        item += s[i++];
      }
    } else {
      while (i < s.size() && !separator(s[i])) item += s[i++];
    }
    items.push_back(std::move(item));
  }
  return items;
}

std::string unquote_collation_sequence(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  if (!s.empty() && s.front() == '"') s.remove_prefix(1);
  std::string out;
  for (size_t i = 0; i < s.size() && out.size() < kSequenceLimit; ++i) {
    out += s[i];
    if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (!out.empty() && out.back() == '"') out.pop_back();
  return out;
}

void SetEnvironmentKey(std::string_view key, std::string_view value) {
  const ParsedEnvironmentKey parsed = parse_environment_key(key);
  if (parsed.key == EnvironmentKey::kUnknown) return;
  const bool whole_value =
      parsed.key == EnvironmentKey::kCollation || parsed.key == EnvironmentKey::kMessage;
  std::string normalized = normalize_environment_value(value, !whole_value);
  CharTables& tables = char_tables();
  if (tables.oem_flag && parsed.key != EnvironmentKey::kCollation) {
    platform::oem_to_ansi(normalized.data(), normalized.size());
  }
  if (parsed.key == EnvironmentKey::kCollation) {
    apply_collation_sequence(tables, unquote_collation_sequence(normalized));
    return;
  }
  const Items items(normalized);
  DateNames& names = date_names();
  switch (parsed.key) {
    case EnvironmentKey::kCharset:
      tables.oem_flag = equals_ignoring_case(items.get(0), "OEM");
      break;
    case EnvironmentKey::kCase:
      apply_case(value, items);
      break;
    case EnvironmentKey::kMonth:
      for (size_t i = 0; i < 12 && items.present(i); ++i) {
        fill_slot(names.month[i], items[i], kMonthNameLimit);
      }
      break;
    case EnvironmentKey::kMon:
      for (size_t i = 0; i < 12 && items.present(i); ++i) {
        fill_slot(names.month_short[i], items[i], kMonthShortLimit);
      }
      break;
    case EnvironmentKey::kAmPm:
      apply_am_pm(items);
      break;
    case EnvironmentKey::kDigraph:
      apply_digraphs(items);
      break;
    case EnvironmentKey::kButton:
      for (size_t i = 0; items.exists(i); ++i) {
        if (items.present(i)) {
          set_message_override(kButtonCaptionBase + static_cast<int32_t>(i), items[i]);
        }
      }
      break;
    case EnvironmentKey::kLfn:
      detail::long_file_name_switch() = equals_ignoring_case(items.get(0), "on");
      break;
    case EnvironmentKey::kMessage:
      if (items.present(0)) set_message_override(parsed.message_number, items[0]);
      break;
    case EnvironmentKey::kCollation:
    case EnvironmentKey::kUnknown:
      break;
  }
}

}  // namespace vtn
