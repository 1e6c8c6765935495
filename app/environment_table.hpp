// The locale that ferrule sets for itself: Russian month names, AM/PM texts and button captions,
// Windows collation and case, and Russian texts for the run-time's file-error messages. Applied
// with ENVSET, row by row, at the start of ProgramProcedure.
#pragma once

#include <span>
#include <string_view>

namespace ferrule {

struct EnvironmentSetting {
  std::string_view key;
  std::string_view value;  // 1251
};

std::span<const EnvironmentSetting> program_environment();

}  // namespace ferrule
