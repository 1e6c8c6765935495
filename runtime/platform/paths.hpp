// Paths: the current directory, full paths, and the short and long forms of a path.
//
// Names here are the file system's own bytes (UTF-8 on Linux); the run-time converts its 1251
// texts before it calls in and after it gets the answer. "/" separates components.
//
// Linux has no 8.3 short names, so the short form of a path is the path itself. The long form is
// the full path with every component spelled as its directory lists it: a directory entry of
// exactly that name if there is one, otherwise one whose name differs only in letter case (the
// file systems the run-time was made for compare names that way). A component that cannot be
// found keeps its text, and so does everything after it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vtn::platform {

// The current directory; nothing, with the last error recorded, when it cannot be read (for
// example when it has been removed).
std::optional<std::string> current_directory();

// `path` made absolute against `base` (an absolute directory) and tidied by text alone: repeated
// "/" become one, "." components go, ".." removes the component before it (never the root). A
// trailing "/" is kept. An empty path is `base` itself.
std::string full_path_from(std::string_view path, std::string_view base);

// full_path_from the current directory; nothing, with the last error recorded, when a relative
// path needs the current directory and it cannot be read.
std::optional<std::string> full_path(std::string_view path);

// The short form: the path as given (the current directory for an empty path) when it exists.
// Otherwise nothing, with the last error: 2 when the directory exists but the file does not, 3
// when a directory on the way is missing, 5 when access is denied.
std::optional<std::string> short_path(std::string_view path);

// The long form: the full path, respelled component by component (see above). Nothing only when
// the full path cannot be formed.
std::optional<std::string> long_path(std::string_view path);

// Compares two UTF-8 names ignoring letter case (ASCII, Latin-1 and Cyrillic letters); malformed
// bytes compare as themselves.
bool same_name_ignoring_case(std::string_view a, std::string_view b);

}  // namespace vtn::platform
