// Environment files and profile texts of any content: parsing must end, every key and value the
// parser hands on must respect its limits, and applying them must leave the locale tables usable.
//
// Input: byte 0 chooses the reader (even: environment file, applied key by key; odd: profile
// text, looked up under a section and key taken from the next bytes); the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/format/environment.hpp"
#include "runtime/format/environment_file.hpp"
#include "runtime/platform/profile.hpp"
#include "runtime/values/char_tables.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) == 0) {
    vtn::reset_environment();
    vtn::parse_environment_text(text, [](std::string_view key, std::string_view value) {
      check(key.size() <= 31);
      check(value.size() <= 1024);
      vtn::SetEnvironmentKey(key, value);
    });
    // The tables must still order and fold text without reading outside themselves.
    check(vtn::collated_compare("abc", "abc") == 0);
    char probe[] = "Probe";
    vtn::to_upper(probe, sizeof probe - 1);
  } else {
    const std::string_view section = text.substr(0, std::min<size_t>(text.size(), 4));
    const std::string_view key = text.substr(section.size(), 3);
    std::string value;
    if (vtn::platform::find_profile_value(text, section, key, value)) {
      check(value.size() <= text.size());
    }
    vtn::platform::parse_profile_int(text);
  }
  return 0;
}
