#include "runtime/platform/paths.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "runtime/platform/system_error.hpp"

namespace vtn::platform {
namespace {

struct SplitPath {
  std::vector<std::string_view> components;
  bool trailing_slash = false;
};

SplitPath split(std::string_view path) {
  SplitPath out;
  out.trailing_slash = path.size() > 1 && path.back() == '/';
  size_t i = 0;
  while (i < path.size()) {
    const size_t end = std::min(path.find('/', i), path.size());
    if (end > i) out.components.push_back(path.substr(i, end - i));
    i = end + 1;
  }
  return out;
}

std::string join(const std::vector<std::string_view>& components, bool trailing_slash) {
  std::string out;
  for (std::string_view c : components) {
    out += '/';
    out += c;
  }
  if (out.empty()) return "/";
  if (trailing_slash) out += '/';
  return out;
}

// One character of a UTF-8 text; a byte that starts no well-formed sequence stands for itself,
// moved out of the way of real characters.
char32_t next_char(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int extra = b < 0x80             ? 0
              : (b & 0xE0) == 0xC0 ? 1
              : (b & 0xF0) == 0xE0 ? 2
              : (b & 0xF8) == 0xF0 ? 3
                                   : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) {
    ++i;
    return 0x110000 + b;
  }
  char32_t u = extra == 0 ? b : b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return 0x110000 + b;
    }
    u = (u << 6) | (c & 0x3F);
  }
  i += static_cast<size_t>(extra) + 1;
  return u;
}

char32_t fold_case(char32_t u) {
  if (u >= U'A' && u <= U'Z') return u + 0x20;
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return u + 0x20;  // Latin-1 letters
  if (u >= 0x410 && u <= 0x42F) return u + 0x20;             // А..Я
  if (u >= 0x400 && u <= 0x40F) return u + 0x50;             // Ѐ..Џ
  if (u == 0x490) return 0x491;                              // Ґ
  return u;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The name under which `dir` lists `name`: the same name, else one that differs only in case.
std::optional<std::string> listed_name(const std::string& dir, std::string_view name) {
  const std::string exact = (dir == "/" ? dir : dir + "/") + std::string(name);
  const bool exact_exists = exists(exact);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return exact_exists ? std::optional<std::string>(name) : std::nullopt;
  std::optional<std::string> folded;
  bool listed_exactly = false;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view entry = e->d_name;
    if (entry == name) {
      listed_exactly = true;
      break;
    }
    if (!folded && same_name_ignoring_case(entry, name)) folded = std::string(entry);
  }
  ::closedir(d);
  if (listed_exactly) return std::string(name);
  if (folded) return folded;
  if (exact_exists) return std::string(name);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> current_directory() {
  std::vector<char> buffer(256);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) {
      record_errno(errno);
      return std::nullopt;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string full_path_from(std::string_view path, std::string_view base) {
  std::string joined;
  if (path.empty() || path.front() != '/') {
    joined.assign(base);
    joined += '/';
  }
  joined += path;
  SplitPath parts = split(joined);
  parts.trailing_slash = !path.empty() && path.back() == '/';
  std::vector<std::string_view> kept;
  for (std::string_view c : parts.components) {
    if (c == ".") continue;
    if (c == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(c);
  }
  return join(kept, parts.trailing_slash);
}

std::optional<std::string> full_path(std::string_view path) {
  if (!path.empty() && path.front() == '/') return full_path_from(path, "/");
  const std::optional<std::string> cwd = current_directory();
  if (!cwd) return std::nullopt;
  return full_path_from(path, *cwd);
}

std::optional<std::string> short_path(std::string_view path) {
  if (path.empty()) return current_directory();
  const std::string name(path);
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0) return name;
  const int error = errno;
  record_errno(error);
  if (error == ENOENT) {
    // Missing file or missing directory on the way?
    const size_t slash = name.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : name.substr(0, slash);
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      set_last_error(kErrorPathNotFound);
  }
  return std::nullopt;
}

std::optional<std::string> long_path(std::string_view path) {
  const std::optional<std::string> full = full_path(path);
  if (!full) return std::nullopt;
  const SplitPath parts = split(*full);
  std::vector<std::string> spelled;
  std::string dir = "/";
  bool found = true;
  for (std::string_view c : parts.components) {
    std::string name(c);
    if (found) {
      if (std::optional<std::string> listed = listed_name(dir, c)) {
        name = std::move(*listed);
      } else {
        found = false;
      }
    }
    dir = (dir == "/" ? dir : dir + "/") + name;
    spelled.push_back(std::move(name));
  }
  std::vector<std::string_view> views(spelled.begin(), spelled.end());
  return join(views, parts.trailing_slash);
}

bool same_name_ignoring_case(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (fold_case(next_char(a, i)) != fold_case(next_char(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace vtn::platform
