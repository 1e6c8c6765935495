// The settings profile: the stand-in for the Windows WIN.INI and for private settings files
// (GetProfileString, GetProfileInt, GetPrivateProfileString, GetPrivateProfileInt).
//
// The profile is the file named by the environment variable VTN_WININI, else
// $XDG_CONFIG_HOME/vortane/win.ini, else ~/.config/vortane/win.ini. A missing or unreadable file
// means every setting takes its default; nothing is ever written.
//
// File format: "[section]" lines, "key=value" lines, comment lines beginning with ";" or "#".
// Section and key names are matched without regard to case; blanks around names and values are
// ignored, and one pair of matching quotes ("..." or '...') around a value is removed. The first
// section of a name and the first key of a name in it count. The file may be in 1251 or in UTF-8
// (with or without a byte-order mark); UTF-8 is converted to 1251, which the run-time works in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn::platform {

// The path of the profile; empty when neither VTN_WININI, XDG_CONFIG_HOME nor HOME is set.
std::string profile_path();

// The value of `key` in `section` of the profile, or `default_value` when either is missing.
std::string get_profile_string(std::string_view section, std::string_view key,
                               std::string_view default_value);

// The value as an integer: leading blanks, an optional sign, then decimal digits (or "0x" and
// hex digits) up to the first other character; a value without digits reads as 0. The default
// when the key is missing. Out-of-range values are clamped to the 32-bit range.
int32_t get_profile_int(std::string_view section, std::string_view key, int32_t default_value);

// The same from a named settings file. A bare file name (no "/") is looked up in the profile's
// directory, as Windows looks in its own directory; any other path is used as given.
std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, std::string_view file);
int32_t get_private_profile_int(std::string_view section, std::string_view key,
                                int32_t default_value, std::string_view file);

// Parses a profile text (exposed for tests and fuzzing): the value of section/key, if present.
bool find_profile_value(std::string_view text, std::string_view section, std::string_view key,
                        std::string& value);

// The integer reading of a value, as get_profile_int does it.
int32_t parse_profile_int(std::string_view value);

}  // namespace vtn::platform
