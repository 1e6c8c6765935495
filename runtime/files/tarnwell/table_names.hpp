// How a declared file name selects a physical file and a table in it.
//
//   "PACKS"                  file PACKS.TWL, table UNNAMED
//   "/data/packs.twl\!SETUP" file /data/packs.twl, table SETUP
//   "DATA\X\!\Y\!T"          when DATA/X/! is an existing directory: file DATA/X/!/Y.TWL, table T
//
// The separator is the two characters backslash and exclamation mark. It is looked for from the
// left; an occurrence whose preceding part names an existing directory belongs to the path, and
// the first other one splits the name. A file name without an extension gets ".TWL"; the result
// is made a full path.
//
// Names are the program's text (Windows-1251). A program written for Windows may separate
// directories with "\": every "\" of the file part is read as "/", the separator of this system.
// The file part is turned into the file system's own bytes (UTF-8) for the path; the table name is
// kept as the program wrote it, because it is stored in the file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vtn::tarnwell {

inline constexpr std::string_view kUnnamedTable = "UNNAMED";
inline constexpr std::string_view kDefaultExtension = ".TWL";

struct TableName {
  std::string file;   // the file part as declared, "\" read as "/" (program text)
  std::string table;  // the table name, "UNNAMED" when none is given
  bool table_given = false;  // the name carries the separator
};

// Whether a path (program text, "/" separated) names an existing directory.
using DirectoryTest = std::function<bool(const std::string& path)>;
bool is_existing_directory(const std::string& path);

TableName split_table_name(std::string_view declared,
                           const DirectoryTest& is_directory = is_existing_directory);

// The file part with the default extension when it has none, as a full path of the file system
// (UTF-8). Nothing when the file part is empty or the full path cannot be formed.
std::optional<std::string> physical_file_path(const std::string& file_part);

}  // namespace vtn::tarnwell
