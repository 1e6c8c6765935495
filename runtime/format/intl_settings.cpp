#include "runtime/format/intl_settings.hpp"

#include "runtime/platform/profile.hpp"

namespace vtn {
namespace {

constexpr std::string_view kSection = "intl";

std::string read_text(std::string_view key, std::string_view default_value, size_t limit) {
  std::string text = platform::get_profile_string(kSection, key, default_value);
  if (text.size() > limit) text.resize(limit);
  return text;
}

}  // namespace

IntlSettings& intl_settings() {
  static IntlSettings settings;
  return settings;
}

IntlSettings read_intl_settings() {
  const IntlSettings defaults;
  IntlSettings s;
  s.i_time = platform::get_profile_int(kSection, "iTime", defaults.i_time);
  s.i_tlzero = platform::get_profile_int(kSection, "iTLzero", defaults.i_tlzero);
  s.s_time = read_text("sTime", defaults.s_time, 1);
  s.s1159 = read_text("s1159", defaults.s1159, 2);
  s.s2359 = read_text("s2359", defaults.s2359, 2);
  s.s_short_date = read_text("sShortDate", defaults.s_short_date, 255);
  s.s_long_date = read_text("sLongDate", defaults.s_long_date, 255);
  return s;
}

}  // namespace vtn
