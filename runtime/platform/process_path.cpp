#include "runtime/platform/process_path.hpp"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "runtime/platform/system_error.hpp"

namespace vtn::platform {

std::string executable_path() {
  // readlink does not say whether the link was cut short: grow until it fits.
  for (size_t size = 256; size <= (1u << 20); size *= 2) {
    std::vector<char> buffer(size);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      record_errno(errno);
      return {};
    }
    if (static_cast<size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(n));
      // The kernel marks an executable that was replaced while running.
      constexpr std::string_view kDeleted = " (deleted)";
      if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
      }
      return path;
    }
  }
  set_last_error(kErrorGeneralFailure);
  return {};
}

}  // namespace vtn::platform
