// The international settings (profile section "intl") as the run-time read them at start-up.
// The default date and time pictures are derived from them; s1159 and s2359 are also the AM/PM
// texts that VTNAMPM "WINDOWS" restores.
#pragma once

#include <string>

namespace vtn {

struct IntlSettings {
  int i_time = 0;    // 1: 24-hour clock
  int i_tlzero = 1;  // 1: leading zero on hours
  std::string s_time = ":";
  std::string s1159 = "AM";  // the Windows AM text (at most 2 characters)
  std::string s2359 = "PM";
  std::string s_short_date = "MM/dd/yy";
  std::string s_long_date = "ddd', 'MMMM' 'dd', 'yyyy";
};

// The process-wide settings (defaults until the environment is initialised).
IntlSettings& intl_settings();

// Reads the settings from the profile section "intl": iTime (default 0), iTLzero (1), sTime (":",
// at most 1 character), s1159 ("AM", at most 2), s2359 ("PM", at most 2), sShortDate
// ("MM/dd/yy", at most 255) and sLongDate ("ddd', 'MMMM' 'dd', 'yyyy", at most 255). A setting
// that is present but empty stays empty.
IntlSettings read_intl_settings();

}  // namespace vtn
