// One environment key applied to the locale settings (SetEnvironmentKey; declared in
// environment.hpp), and the pieces of it that are worth testing alone: how a value is normalised
// into a quoted list and how items are read from it.
//
// A value that begins with a double quote is taken as it stands; any other value is wrapped in
// quotes with its own quotes doubled and, except for VTNCOLSEQ and VTNMSG<n>, each comma made
// into an item boundary. Items are then read with blanks and commas as separators; an item is a
// quoted text ("" inside stands for ") or a run of characters up to the next separator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtn {

enum class EnvironmentKey : uint8_t {
  kCharset,    // VTNCHARSET
  kCollation,  // VTNCOLSEQ
  kCase,       // VTNCASE
  kMonth,      // VTNMONTH
  kMon,        // VTNMON
  kAmPm,       // VTNAMPM
  kDigraph,    // VTNDIGRAPH
  kButton,     // VTNBUTTON
  kLfn,        // VTNLFN
  kMessage,    // VTNMSG<n>
  kUnknown,
};

struct ParsedEnvironmentKey {
  EnvironmentKey key = EnvironmentKey::kUnknown;
  int32_t message_number = 0;  // for kMessage
};

// The nine named keys without regard to case; VTNMSG (exact case) followed by 1 to 9 decimal
// digits is a message key; anything else is unknown.
ParsedEnvironmentKey parse_environment_key(std::string_view key);

// The value as a quoted list of at most 400 characters (leading blanks and tabs skipped).
std::string normalize_environment_value(std::string_view value, bool commas_separate_items);

// The items of a normalised value.
std::vector<std::string> environment_items(std::string_view normalized);

// The VTNCOLSEQ sequence of a normalised value: unquoted, doubled quotes made single, at most 256
// characters, trailing blanks and the closing quote removed.
std::string unquote_collation_sequence(std::string_view normalized);

namespace detail {
// The long-file-name switch behind long_file_names().
bool& long_file_name_switch();
}  // namespace detail

}  // namespace vtn
