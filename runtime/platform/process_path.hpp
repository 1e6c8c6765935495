// The executable's own path (the stand-in for GetModuleFileNameA of the program's module).
#pragma once

#include <string>

namespace vtn::platform {

// The full path of the running executable, as the file system names it (from /proc/self/exe).
// Empty, with the last error recorded, when it cannot be read.
std::string executable_path();

}  // namespace vtn::platform
