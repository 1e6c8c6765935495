// MATCH: a text against a pattern, in one of four modes.
//
//   kMatchExact      the same characters
//   kMatchWildcard   "*" is any run of characters, "?" any one character; the whole text
//   kMatchRegular    a regular expression found anywhere in the text (regex_compile.hpp)
//   kMatchSoundAlike equal four-character sound-alike codes
//
// Adding kMatchNoCase folds case through the locale's case tables (for the sound-alike mode the
// codes are case-blind anyway). Trailing spaces of text and pattern never matter. A pattern that
// is not a valid regular expression, and any unknown mode, give no match.
//
// The last compiled regular expression is kept, with its pattern and case flag, and reused while
// they (and, for a folding expression, the case tables it was compiled from) stay the same.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn {

enum MatchMode : int32_t {
  kMatchExact = 0,
  kMatchWildcard = 1,
  kMatchRegular = 2,
  kMatchSoundAlike = 3,
  kMatchNoCase = 16,
};

// ---- C++ face ----
bool match(std::string_view text, std::string_view pattern, int32_t mode);

// The single modes, over texts as they are (no clipping).
bool match_exact(std::string_view text, std::string_view pattern, bool fold);
bool match_wildcard(std::string_view text, std::string_view pattern, bool fold);
bool match_regular(std::string_view text, std::string_view pattern, bool fold);

// The four-character sound-alike code: the first letter upper-cased and up to three digits, "0"
// filled; "!000" for a text without letters. A digit equal to the first letter's own code is left
// out, wherever it occurs (Jackson gives J500).
std::string sound_alike_code(std::string_view text);

// Forgets the kept regular expression.
void clear_regex_cache();
// How often the kept expression was compiled anew (for tests and benchmarks).
uint64_t regex_cache_compiles();

// ---- StringStack face ----
// Pops the text (top) and the pattern below it.
int32_t MATCH(int32_t mode);

}  // namespace vtn
