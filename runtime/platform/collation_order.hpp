// The platform's order of one-character texts in the ANSI code page (the stand-in for lstrcmpA
// applied to texts of one character), taken from ICU's Russian collation when the table was
// generated (tools/collation/gen_platform_tables.sh). The run-time builds its "WINDOWS" collation
// sequence from it.
//
// Lower case sorts just before upper case (a < A < b), Ё/ё sort after Е/е and before Ж/ж. The
// characters the collation ignores (most controls, DEL, the soft hyphen, the undefined 98h)
// compare equal to one another and sort before everything else.
#pragma once

#include <cstdint>

namespace vtn::platform {

// Compares the one-character texts a and b (codes 1 to 254): negative, zero or positive.
// Characters that the collation does not tell apart compare equal. 0 sorts first, 255 last.
int compare_one_character_texts(uint8_t a, uint8_t b);

}  // namespace vtn::platform
