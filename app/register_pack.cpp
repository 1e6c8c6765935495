#include "app/register_pack.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace ferrule {

// PLACEHOLDER until pack registration is built: opens no file and shows no box. A request that
// is waiting is left as it is, and the run says so, so that nobody takes it for a registration.
void RegisterPack() {
  std::error_code error;
  if (std::filesystem::exists("Mossgate.ini", error)) {
    std::fputs(
        "ferrule: pack registration is not built yet; the request in Mossgate.ini was left "
        "untouched\n",
        stderr);
  }
}

// PLACEHOLDER: the records do not exist yet.
void clear_pack_records() {}

}  // namespace ferrule
