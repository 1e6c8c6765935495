// ProgramProcedure: ferrule's program procedure. Sets the Russian locale, the keystroke aliases
// and the Cyrillic font character set, then registers the requested pack.
#pragma once

namespace ferrule {

// Ctrl+Insert, Shift+Insert and Shift+Delete deliver Ctrl+C, Ctrl+V and Ctrl+X.
inline constexpr unsigned kKeyAliases[][2] = {{0x22D, 0x243}, {0x12D, 0x256}, {0x12E, 0x258}};

void ProgramProcedure();

}  // namespace ferrule
