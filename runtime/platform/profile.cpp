#include "runtime/platform/profile.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "runtime/platform/char_classes.hpp"
#include "runtime/platform/code_pages.hpp"

namespace vtn::platform {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool same_name(std::string_view a, std::string_view b) {
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (char_lower(static_cast<uint8_t>(a[i])) != char_lower(static_cast<uint8_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

// True when the text is well-formed UTF-8 and has at least one character beyond ASCII. Real
// 1251 text beyond ASCII almost never is.
bool looks_like_utf8(std::string_view text) {
  bool beyond_ascii = false;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    size_t extra;
    if (b < 0x80) {
      extra = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0) beyond_ascii = true;
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return beyond_ascii;
}

// A settings file is a small text file. Anything else named as one (a device such as /dev/zero,
// a FIFO with no writer, a file of gigabytes) reads as a missing file instead of hanging the
// process or filling its memory: an expression may name any path.
constexpr uintmax_t kMaxProfileBytes = 16u << 20;

// The whole file, in 1251; false when it cannot be read.
bool read_profile_file(const std::string& path, std::string& text) {
  if (path.empty()) return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) ||
      std::filesystem::file_size(path, error) > kMaxProfileBytes || error)
    return false;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  text.clear();
  char buffer[4096];
  size_t n;
  while (text.size() <= kMaxProfileBytes && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    text.append(buffer, n);
  const bool failed = std::ferror(f) != 0 || text.size() > kMaxProfileBytes;
  std::fclose(f);
  if (failed) return false;
  if (text.starts_with("\xEF\xBB\xBF")) {
    text = utf8_to_ansi(std::string_view(text).substr(3));
  } else if (looks_like_utf8(text)) {
    text = utf8_to_ansi(text);
  }
  return true;
}

std::string lookup(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view default_value, bool& found) {
  std::string text;
  std::string value;
  found = read_profile_file(path, text) && find_profile_value(text, section, key, value);
  return found ? value : std::string(default_value);
}

std::string private_path(std::string_view file) {
  if (file.find('/') != std::string_view::npos) return std::string(file);
  const std::string profile = profile_path();
  const size_t slash = profile.rfind('/');
  if (slash == std::string::npos) return std::string(file);
  return profile.substr(0, slash + 1) + std::string(file);
}

}  // namespace

std::string profile_path() {
  if (const char* explicit_path = std::getenv("VTN_WININI"); explicit_path && *explicit_path) {
    return explicit_path;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    return std::string(xdg) + "/vortane/win.ini";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::string(home) + "/.config/vortane/win.ini";
  }
  return {};
}

bool find_profile_value(std::string_view text, std::string_view section, std::string_view key,
                        std::string& value) {
  bool in_section = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (in_section) return false;  // only the first section of the name counts
      const size_t close = line.find(']');
      const std::string_view name =
          line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1);
      in_section = same_name(name, section);
      continue;
    }
    if (!in_section) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || !same_name(line.substr(0, equals), key)) continue;
    std::string_view v = trim(line.substr(equals + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    value.assign(v);
    return true;
  }
  return false;
}

int32_t parse_profile_int(std::string_view value) {
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  int base = 10;
  if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  int64_t n = 0;
  constexpr int64_t kLimit = int64_t{1} << 40;  // far beyond 32 bits, so clamping stays exact
  for (; i < value.size(); ++i) {
    const char c = value[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    if (n < kLimit) n = n * base + digit;
  }
  if (negative) n = -n;
  if (n > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (n < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(n);
}

std::string get_profile_string(std::string_view section, std::string_view key,
                               std::string_view default_value) {
  bool found;
  return lookup(profile_path(), section, key, default_value, found);
}

int32_t get_profile_int(std::string_view section, std::string_view key, int32_t default_value) {
  bool found;
  const std::string value = lookup(profile_path(), section, key, {}, found);
  return found ? parse_profile_int(value) : default_value;
}

std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, std::string_view file) {
  bool found;
  return lookup(private_path(file), section, key, default_value, found);
}

int32_t get_private_profile_int(std::string_view section, std::string_view key,
                                int32_t default_value, std::string_view file) {
  bool found;
  const std::string value = lookup(private_path(file), section, key, {}, found);
  return found ? parse_profile_int(value) : default_value;
}

}  // namespace vtn::platform
