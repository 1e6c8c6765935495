// The Windows international settings (profile section "intl") as the run-time read them at
// start-up. The locale pictures (@D17, @D18, @T7, @T8) are derived from them.
#pragma once

#include <string>

namespace vtn {

struct IntlSettings {
  int i_time = 0;     // 1: 24-hour clock
  int i_tlzero = 1;   // 1: leading zero on hours
  std::string s_time = ":";
  std::string s1159 = "AM";  // the Windows AM text (at most 2 characters)
  std::string s2359 = "PM";
  std::string s_short_date = "MM/dd/yy";
  std::string s_long_date = "ddd', 'MMMM' 'dd', 'yyyy";
};

// The process-wide settings (defaults until the environment is initialised).
IntlSettings& intl_settings();

}  // namespace vtn
