// PATHSHORT and PATHLONG: the short and the long form of a path text.
//
// The path is the run-time's 1251 text without its trailing spaces; an empty path is the current
// directory. It is converted to the file system's own names for the platform (runtime/platform/
// paths.hpp) and the answer converted back.
//
// PATHSHORT gives the path itself when it exists (the file system has no separate short names).
// For a path that does not exist it leaves the text as it was and posts 2 (File Not Found: the
// directory exists, the file does not), 3 (Path Not Found: a directory on the way is missing) or
// 5 (Access Denied); any other failure of the system posts 300 + its error number.
//
// PATHLONG gives the full path with every component spelled as its directory lists it. A part
// that does not exist keeps its text, so a missing path still gives its full path and posts
// nothing; only when the full path cannot be formed (the current directory is gone) does it leave
// the text as it was and post the error as above.
//
// Neither touches the error state when it succeeds.
#pragma once

#include <string>
#include <string_view>

namespace vtn {

// ---- C++ face ----
std::string path_short(std::string_view path);
std::string path_long(std::string_view path);

// ---- StringStack face: replace the path on top by its form ----
void PATHSHORT();
void PATHLONG();

}  // namespace vtn
