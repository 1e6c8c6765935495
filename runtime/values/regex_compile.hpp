// Regular expressions of MATCH: the compiled program and the compiler.
//
// Grammar (the special characters are ^ $ . [ { } | ? + * \):
//   expression := branch { "|" branch }
//   branch     := { piece }
//   piece      := atom [ "*" | "+" | "?" ]
//   atom       := "^" | "$" | "." | class | "{" expression "}" | "\" any-character | literal-run
//   class      := "[" [ "^" | "~" ] [ "]" | "-" ] { character | character "-" character } "]"
// A literal run followed by a repetition gives its last character to the repetition ("ab*" is "a"
// then "b*"). An expression fails to compile when "*" or "+" follows an item that can match the
// empty string, a repetition follows a repetition or nothing, a brace or class is left open, a
// range runs backwards, or "\" ends the pattern.
//
// The program is a list of nodes, each an opcode and a relative link to the node that follows it
// (negative for the link back to the start of a loop). A node's operand is the node right after it
// (BRANCH: the alternative; STAR, PLUS: the one-character item repeated), a run of literal
// characters (EXACTLY) or a set of 256 bits (ANYOF, ANYBUT). Simple items (one character wide)
// repeat through STAR and PLUS; anything else repeats through BRANCH/BACK loops:
//   x*  ->  BRANCH(x BACK->loop) BRANCH(NOTHING)        x+  ->  x BRANCH(BACK->x) BRANCH(NOTHING)
//   x?  ->  BRANCH(x) BRANCH(NOTHING)
//
// Case folding is decided when compiling: a folding program holds its literals upper-cased and its
// sets closed under upper-casing, and is run over an upper-cased copy of the text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtn {

enum class RegexOp : uint8_t {
  kEnd = 0,      // the whole expression has matched
  kBol = 1,      // "^": the start of the text
  kEol = 2,      // "$": the end of the text
  kAny = 3,      // ".": any one character
  kAnyOf = 4,    // "[...]": one character of the set
  kAnyBut = 5,   // "[^...]", "[~...]": one character not in the set
  kBranch = 6,   // one alternative; the operand is the alternative's first node
  kBack = 7,     // the link back to the start of a loop
  kExactly = 8,  // a run of literal characters
  kNothing = 9,  // the empty string
  kStar = 10,    // the simple item after it, zero or more times
  kPlus = 11,    // the simple item after it, one or more times
  kOpen = 12,    // start of recorded group `group`
  kClose = 13,   // end of recorded group `group`
};

enum class RegexError : uint8_t {
  kNone = 0,
  kEmptyOperand,  // "*" or "+" after an item that can match the empty string
  kNestedRepeat,  // a repetition right after another
  kRepeatFollowsNothing,
  kUnmatchedOpenBrace,
  kUnmatchedCloseBrace,
  kUnclosedClass,
  kBackwardRange,
  kTrailingBackslash,
  kTooDeep,   // braces nested deeper than kMaxNesting
  kTooLarge,  // a program too large for its links
};

// A short English description of a compile error, for diagnostics.
const char* regex_error_text(RegexError error);

struct RegexNode {
  RegexOp op = RegexOp::kEnd;
  uint8_t group = 0;     // kOpen, kClose: the group's slot
  int32_t next = 0;      // relative link to the following node, 0 for none
  uint32_t operand = 0;  // kExactly: offset into literals; kAnyOf, kAnyBut: index into sets
  uint32_t length = 0;   // kExactly: number of characters
};

using RegexSet = std::array<uint64_t, 4>;

inline bool set_contains(const RegexSet& set, uint8_t c) {
  return (set[c >> 6] >> (c & 63)) & 1u;
}

struct CompiledRegex {
  static constexpr int kMaxGroups = 10;    // groups recorded; later ones only group
  static constexpr int kMaxNesting = 200;  // braces inside braces

  std::vector<RegexNode> program;  // node 0 is the first BRANCH of the expression
  std::string literals;
  std::vector<RegexSet> sets;
  bool folded = false;    // compiled for case-insensitive matching
  bool anchored = false;  // every match starts at the start of the text
  int first_char = -1;    // the character every match starts with, or -1
  std::string required;   // a literal every match contains (may be empty)
  int group_count = 0;    // recorded groups, at most kMaxGroups

  const RegexNode& node(size_t i) const { return program[i]; }
  // The node that follows node i, or npos.
  size_t next_of(size_t i) const {
    const int32_t link = program[i].next;
    return link == 0 ? npos : static_cast<size_t>(static_cast<int64_t>(i) + link);
  }
  std::string_view literal(const RegexNode& n) const {
    return std::string_view(literals).substr(n.operand, n.length);
  }

  static constexpr size_t npos = static_cast<size_t>(-1);
};

// Compiles `pattern`; folding programs use the locale's case tables as they are now. On failure
// gives nothing and, when `error` is given, the reason.
std::optional<CompiledRegex> compile_regex(std::string_view pattern, bool fold,
                                           RegexError* error = nullptr);

// Where one search found its match: the whole match and the recorded groups, as [begin, end)
// offsets into the text (npos for a group that took no part).
struct RegexMatch {
  static constexpr size_t npos = static_cast<size_t>(-1);
  struct Span {
    size_t begin = npos;
    size_t end = npos;
  };
  Span whole;
  std::array<Span, CompiledRegex::kMaxGroups> groups;
};

struct RegexSearchResult {
  bool matched = false;
  // The search gave up after its work limit: `matched` is false, although a match may exist.
  bool exhausted = false;
};

// Searches `text` for the first place the expression matches: the first start position, and
// there the first alternative and the longest repetitions that let the rest match. The work is
// bounded (regex_work_limit) so that a pattern that backtracks without end cannot hang the caller.
RegexSearchResult regex_search(const CompiledRegex& regex, std::string_view text,
                               RegexMatch* match = nullptr);

// The number of matcher steps one search may take for a text of `text_size` characters.
uint64_t regex_work_limit(size_t text_size);

}  // namespace vtn
