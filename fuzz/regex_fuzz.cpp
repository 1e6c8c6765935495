// Regular expressions and wildcards of MATCH on arbitrary patterns and texts: compiling must fail
// cleanly or give a program whose search ends (within its work limit) with positions inside the
// text.
//
// Input: byte 0 holds the flags (bit 0: fold case), byte 1 the length of the pattern; the pattern
// follows, and the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/values/match.hpp"
#include "runtime/values/regex_compile.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void check_span(const vtn::RegexMatch::Span& s, size_t size, bool required) {
  if (s.begin == vtn::RegexMatch::npos || s.end == vtn::RegexMatch::npos) {
    check(!required);
    return;
  }
  check(s.begin <= s.end && s.end <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool fold = (data[0] & 1) != 0;
  const size_t pattern_size = std::min<size_t>(data[1], size - 2);
  const std::string_view pattern(reinterpret_cast<const char*>(data + 2), pattern_size);
  const std::string_view text(reinterpret_cast<const char*>(data + 2 + pattern_size),
                              size - 2 - pattern_size);

  vtn::RegexError error = vtn::RegexError::kNone;
  const auto re = vtn::compile_regex(pattern, fold, &error);
  check(re.has_value() == (error == vtn::RegexError::kNone));
  if (re) {
    vtn::RegexMatch m;
    const vtn::RegexSearchResult r = vtn::regex_search(*re, text, &m);
    check(!(r.matched && r.exhausted));
    if (r.matched) {
      check_span(m.whole, text.size(), true);
      for (const auto& g : m.groups) check_span(g, text.size(), false);
    }
  }
  // The other modes over the same input.
  vtn::match(text, pattern, vtn::kMatchWildcard | (fold ? vtn::kMatchNoCase : 0));
  vtn::match(text, pattern, vtn::kMatchSoundAlike);
  return 0;
}
