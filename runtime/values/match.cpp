#include "runtime/values/match.hpp"

#include <array>
#include <optional>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/regex_compile.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

// Sound-alike digits of A to Z; '0' letters add nothing.
constexpr std::string_view kSoundDigits = "01230120022455012623010202";
static_assert(kSoundDigits.size() == 26);

char sound_digit(uint8_t upper_letter) {
  return upper_letter >= 'A' && upper_letter <= 'Z' ? kSoundDigits[upper_letter - 'A'] : '0';
}

uint8_t folded(char c, bool fold) {
  const auto u = static_cast<uint8_t>(c);
  return fold ? to_upper_char(u) : u;
}

bool same_char(char p, char t, bool fold) {
  return folded(p, fold) == folded(t, fold);
}

// The last compiled expression. A folding expression holds literals upper-cased by the case
// tables of its day, so it is only reused while those tables are unchanged.
struct RegexCache {
  bool valid = false;
  std::string pattern;
  bool fold = false;
  std::array<uint8_t, 256> case_partner{};
  std::array<uint8_t, 256> case_class{};
  std::optional<CompiledRegex> compiled;  // nothing: the pattern does not compile
  uint64_t compiles = 0;
};

RegexCache& regex_cache() {
  static RegexCache cache;
  return cache;
}

const CompiledRegex* cached_regex(std::string_view pattern, bool fold) {
  RegexCache& cache = regex_cache();
  const CharTables& tables = char_tables();
  const bool hit = cache.valid && cache.fold == fold && cache.pattern == pattern &&
                   (!fold || (cache.case_partner == tables.case_partner &&
                              cache.case_class == tables.case_class));
  if (!hit) {
    cache.compiled = compile_regex(pattern, fold);
    cache.pattern.assign(pattern);
    cache.fold = fold;
    cache.case_partner = tables.case_partner;
    cache.case_class = tables.case_class;
    cache.valid = true;
    ++cache.compiles;
  }
  return cache.compiled ? &*cache.compiled : nullptr;
}

}  // namespace

bool match_exact(std::string_view text, std::string_view pattern, bool fold) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!same_char(pattern[i], text[i], fold)) return false;
  }
  return true;
}

bool match_wildcard(std::string_view text, std::string_view pattern, bool fold) {
  auto fits = [fold](char p, char t) { return p == '?' || same_char(p, t, fold); };

  // A pattern that starts with "*" is decided by its end first: what follows the last "*" must
  // lie at the end of the text.
  if (!pattern.empty() && pattern.front() == '*') {
    const std::string_view tail = pattern.substr(pattern.rfind('*') + 1);
    if (tail.size() > text.size()) return false;
    const size_t offset = text.size() - tail.size();
    for (size_t i = tail.size(); i > 0; --i) {
      if (!fits(tail[i - 1], text[offset + i - 1])) return false;
    }
  }

  // Each "*" first matches nothing and grows one character at a time when what follows fails.
  // Only the latest "*" ever needs to grow: whatever an earlier one could take, the latest one can
  // take instead, so the answer is that of trying every length of every "*", in O(text x pattern).
  size_t t = 0;
  size_t p = 0;
  size_t star = std::string_view::npos;
  size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && fits(pattern[p], text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool match_regular(std::string_view text, std::string_view pattern, bool fold) {
  const CompiledRegex* re = cached_regex(pattern, fold);
  return re != nullptr && regex_search(*re, text).matched;
}

std::string sound_alike_code(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && !is_alpha_char(static_cast<uint8_t>(text[i]))) ++i;
  if (i == text.size()) return "!000";
  const uint8_t first = to_upper_char(static_cast<uint8_t>(text[i]));
  const char first_digit = sound_digit(first);
  std::string code(1, static_cast<char>(first));
  for (++i; i < text.size() && code.size() < 4; ++i) {
    const char digit = sound_digit(to_upper_char(static_cast<uint8_t>(text[i])));
    if (digit != '0' && digit != first_digit) code.push_back(digit);
  }
  code.resize(4, '0');
  return code;
}

bool match(std::string_view text, std::string_view pattern, int32_t mode) {
  text = clip(text);
  pattern = clip(pattern);
  const bool fold = (mode & kMatchNoCase) != 0;
  switch (mode & 0x0F) {
    case kMatchExact:
      return match_exact(text, pattern, fold);
    case kMatchWildcard:
      return match_wildcard(text, pattern, fold);
    case kMatchRegular:
      return match_regular(text, pattern, fold);
    case kMatchSoundAlike:
      return sound_alike_code(text) == sound_alike_code(pattern);
    default:
      return false;
  }
}

void clear_regex_cache() {
  RegexCache& cache = regex_cache();
  cache.valid = false;
  cache.compiled.reset();
  cache.pattern.clear();
}

uint64_t regex_cache_compiles() {
  return regex_cache().compiles;
}

int32_t MATCH(int32_t mode) {
  StringStack& stack = string_stack();
  const bool result = match(stack.peek(1), stack.peek(2), mode);
  stack.release();
  stack.release();
  return result ? 1 : 0;
}

}  // namespace vtn
