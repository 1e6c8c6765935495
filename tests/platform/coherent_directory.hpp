// A scratch directory on a file system whose shared mappings are coherent (mapped_view.hpp), for
// the tests that must see the mapped path taken: the usual scratch directory when its file system
// qualifies, else one in /dev/shm (tmpfs). Empty when neither does; such tests skip.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "runtime/platform/mapped_view.hpp"

namespace vtn::testing_support {

class CoherentDirectory {
 public:
  explicit CoherentDirectory(const std::filesystem::path& scratch) {
    for (const std::string& base : {scratch.string(), std::string("/dev/shm")}) {
      std::string pattern = base + "/vtn_map_XXXXXX";
      if (mkdtemp(pattern.data()) == nullptr) continue;
      const int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY);
      const bool coherent = fd >= 0 && platform::mapping_is_coherent(fd);
      if (fd >= 0) ::close(fd);
      if (coherent) {
        dir_ = pattern;
        return;
      }
      std::error_code ignored;
      std::filesystem::remove_all(pattern, ignored);
    }
  }
  ~CoherentDirectory() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  CoherentDirectory(const CoherentDirectory&) = delete;
  CoherentDirectory& operator=(const CoherentDirectory&) = delete;

  bool usable() const { return !dir_.empty(); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace vtn::testing_support
