// ferrule's command line: it takes no arguments; --help and --version print what they say and
// end the program before anything else runs. Any other argument is a mistake of the caller: the
// usage goes to standard error and the program ends with exit code 2 without touching a file.
#pragma once

#include <optional>

namespace ferrule {

inline constexpr int kUsageError = 2;

// Handles --help / -h, --version and unknown arguments; returns the exit code when the program
// should end now.
std::optional<int> handle_command_line(int argc, const char* const* argv);

}  // namespace ferrule
