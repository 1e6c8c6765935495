// How a pack's directory is stored in the pack table: relative to ferrule's current directory
// when it lies there or below it, as given otherwise.
//
// A path is below the current directory only when the current directory is followed in it by a
// separator ("/srv/app" holds "/srv/app/packs/one" but not "/srv/app2/x"), or ends in one (the
// root "/" holds "/packs"); the path equal to the current directory is stored as an empty path.
// Names are compared as this platform compares them, byte for byte. Windows-style paths ("C:\...",
// "\\server\...", "..\x") never lie below a directory of this platform and are stored as they
// came: another program that reads the table sees exactly what its request said.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ferrule {

// The path to store for `request_path` (without trailing blanks) while `current_directory` is
// current; nothing when the request's path is blank, so that the stored path stays as it is.
std::optional<std::string> stored_pack_path(std::string_view request_path,
                                            std::string_view current_directory);

}  // namespace ferrule
