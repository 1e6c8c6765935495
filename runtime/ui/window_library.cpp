#include "runtime/ui/window_library.hpp"

#include <algorithm>
#include <map>
#include <vector>

namespace vtn {
namespace {

struct WindowLibrary {
  std::vector<KeyAlias> aliases;
  std::map<uint32_t, int32_t> properties;
  std::vector<std::pair<void*, CloseWindow>> open_windows;
  std::vector<ReleaseResource> resources;
  bool handlers_installed = false;
};

WindowLibrary& library() {
  static WindowLibrary lib;
  return lib;
}

}  // namespace

void KEYALIAS(uint32_t pressed, uint32_t delivered) {
  std::vector<KeyAlias>& aliases = library().aliases;
  auto it = std::find_if(aliases.begin(), aliases.end(),
                         [&](const KeyAlias& a) { return a.pressed == pressed; });
  if (pressed == delivered) {
    if (it != aliases.end()) aliases.erase(it);
    return;
  }
  if (it != aliases.end()) {
    it->delivered = delivered;
  } else {
    aliases.push_back({pressed, delivered});
  }
}

uint32_t aliased_key(uint32_t pressed) {
  for (const KeyAlias& a : library().aliases) {
    if (a.pressed == pressed) return a.delivered;
  }
  return pressed;
}

std::span<const KeyAlias> key_aliases() {
  return library().aliases;
}
void clear_key_aliases() {
  library().aliases.clear();
}

void set_global_property(uint32_t property, int32_t value) {
  library().properties[property] = value;
}

std::optional<int32_t> global_property(uint32_t property) {
  const auto& props = library().properties;
  auto it = props.find(property);
  if (it == props.end()) return std::nullopt;
  return it->second;
}

int32_t font_char_set() {
  return global_property(kPropFontCharSet).value_or(kAnsiCharSet);
}

void register_open_window(void* window, CloseWindow close) {
  library().open_windows.emplace_back(window, close);
}

void unregister_open_window(void* window) {
  auto& open = library().open_windows;
  std::erase_if(open, [&](const auto& w) { return w.first == window; });
}

void install_window_library_handlers() {
  library().handlers_installed = true;
}

bool window_library_handlers_installed() {
  return library().handlers_installed;
}

void register_window_resource(ReleaseResource release) {
  if (release != nullptr) library().resources.push_back(release);
}

void window_library_cleanup() {
  WindowLibrary& lib = library();
  // Closing a window may close others (its children) and unregister them, so take one at a time
  // from the most recent.
  while (!lib.open_windows.empty()) {
    auto [window, close] = lib.open_windows.back();
    lib.open_windows.pop_back();
    if (close != nullptr) close(window);
  }
  while (!lib.resources.empty()) {
    ReleaseResource release = lib.resources.back();
    lib.resources.pop_back();
    release();
  }
}

}  // namespace vtn

namespace vtn {
namespace {
bool three_d = true;
}  // namespace

void set_three_d_look(bool on) {
  three_d = on;
}
bool three_d_look() {
  return three_d;
}

}  // namespace vtn
