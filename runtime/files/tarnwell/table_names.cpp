#include "runtime/files/tarnwell/table_names.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/paths.hpp"

namespace vtn::tarnwell {
namespace {

constexpr std::string_view kSeparator = "\\!";

std::string with_slashes(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

}  // namespace

bool is_existing_directory(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ignored;
  return std::filesystem::is_directory(platform::ansi_to_utf8(path), ignored);
}

TableName split_table_name(std::string_view declared, const DirectoryTest& is_directory) {
  size_t from = 0;
  while (true) {
    const size_t at = declared.find(kSeparator, from);
    if (at == std::string_view::npos) break;
    const std::string before = with_slashes(declared.substr(0, at));
    if (!is_directory(before)) {
      std::string table(declared.substr(at + kSeparator.size()));
      if (table.empty()) table = kUnnamedTable;
      return {before, table, true};
    }
    from = at + 1;
  }
  return {with_slashes(declared), std::string(kUnnamedTable)};
}

std::optional<std::string> physical_file_path(const std::string& file_part) {
  if (file_part.empty()) return std::nullopt;
  std::string name = file_part;
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    name += kDefaultExtension;
  return platform::full_path(platform::ansi_to_utf8(name));
}

}  // namespace vtn::tarnwell
