#include "app/pack_path.hpp"

#include "runtime/values/string_functions.hpp"

namespace ferrule {

std::optional<std::string> stored_pack_path(std::string_view request_path,
                                            std::string_view current_directory) {
  const std::string_view path = vtn::clip(request_path);
  if (path.empty()) return std::nullopt;
  std::string_view current = vtn::clip(current_directory);
  // "/srv/app/" and "/srv/app" name the same directory; the root keeps its one separator.
  while (current.size() > 1 && current.back() == '/') current.remove_suffix(1);
  if (current.empty() || !path.starts_with(current)) return std::string(path);
  if (path.size() == current.size()) return std::string();
  if (current.back() == '/') return std::string(path.substr(current.size()));
  if (path[current.size()] != '/') return std::string(path);
  std::string_view below = path.substr(current.size());
  while (!below.empty() && below.front() == '/') below.remove_prefix(1);
  return std::string(below);
}

}  // namespace ferrule
