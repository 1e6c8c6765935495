// ferrule's command line: it takes no arguments; --help and --version print what they say and
// end the program before anything else runs. Other arguments are ignored.
#pragma once

#include <optional>

namespace ferrule {

// Handles --help / -h and --version; returns the exit code when the program should end now.
std::optional<int> handle_command_line(int argc, const char* const* argv);

}  // namespace ferrule
