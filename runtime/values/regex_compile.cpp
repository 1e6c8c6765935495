// The compiler of MATCH's regular expressions: recursive descent over the pattern, emitting nodes
// as it goes. Each parse routine returns the index of the first node it emitted and reports, in
// flags, what the caller must know about the item: whether it always consumes a character, whether
// it is one character wide (so that STAR and PLUS can repeat it directly), and whether it starts
// with a repetition.
//
// Nodes are linked by relative offsets, so a node can be inserted in front of the item just
// compiled (to make it the operand of STAR, PLUS or BRANCH) without touching any other link: at
// that moment nothing outside the item points into it yet.
#include "runtime/values/regex_compile.hpp"

#include "runtime/values/char_tables.hpp"

namespace vtn {
namespace {

constexpr std::string_view kSpecial = "^$.[{}|?+*\\";

// Programs stay well inside the range of their 32-bit links.
constexpr size_t kMaxProgramNodes = size_t{1} << 24;

enum Flags : unsigned {
  kWorst = 0,
  kHasWidth = 1,  // never matches the empty string
  kSimple = 2,    // exactly one character wide
  kSpStart = 4,   // starts with "*" or "+"
};

bool is_repeat(char c) {
  return c == '*' || c == '+' || c == '?';
}
bool is_special(char c) {
  return kSpecial.find(c) != std::string_view::npos;
}

constexpr size_t kFail = CompiledRegex::npos;

class Compiler {
 public:
  Compiler(std::string_view pattern, bool fold, CompiledRegex& out)
      : pattern_(pattern), fold_(fold), out_(out) {}

  bool run() {
    unsigned flags = 0;
    return expression(false, &flags) != kFail;
  }
  RegexError error() const { return error_; }

 private:
  bool at_end() const { return pos_ >= pattern_.size(); }
  char peek() const { return pattern_[pos_]; }

  size_t fail(RegexError error) {
    if (error_ == RegexError::kNone) error_ = error;
    return kFail;
  }

  uint8_t fold(uint8_t c) const { return fold_ ? to_upper_char(c) : c; }

  size_t emit(RegexOp op, uint8_t group = 0) {
    RegexNode node;
    node.op = op;
    node.group = group;
    out_.program.push_back(node);
    return out_.program.size() - 1;
  }

  // Puts a node in front of the item that starts at `at`.
  void insert(RegexOp op, size_t at) {
    RegexNode node;
    node.op = op;
    out_.program.insert(out_.program.begin() + static_cast<ptrdiff_t>(at), node);
  }

  // Links the last node of the chain that starts at `p` to `target`.
  void tail(size_t p, size_t target) {
    size_t scan = p;
    for (size_t next = out_.next_of(scan); next != CompiledRegex::npos; next = out_.next_of(scan)) {
      scan = next;
    }
    link(scan, target);
  }

  void link(size_t from, size_t target) {
    out_.program[from].next =
        static_cast<int32_t>(static_cast<int64_t>(target) - static_cast<int64_t>(from));
  }

  // tail() on the operand of a BRANCH; nothing for other nodes.
  void operand_tail(size_t p, size_t target) {
    if (out_.program[p].op == RegexOp::kBranch) tail(p + 1, target);
  }

  bool too_large() const { return out_.program.size() > kMaxProgramNodes; }

  // expression := branch { "|" branch }, in braces when `group`.
  size_t expression(bool group, unsigned* flags) {
    *flags = kHasWidth;
    size_t ret = kFail;
    int slot = -1;
    if (group) {
      if (++depth_ > CompiledRegex::kMaxNesting) return fail(RegexError::kTooDeep);
      if (out_.group_count < CompiledRegex::kMaxGroups) slot = out_.group_count++;
      ret = slot >= 0 ? emit(RegexOp::kOpen, static_cast<uint8_t>(slot)) : emit(RegexOp::kNothing);
    }
    // The chain so far ends at `last` (the group's marker or the latest BRANCH, whose own link
    // is still open), so each alternative is linked without walking the chain again.
    size_t last = ret;
    for (;;) {
      unsigned branch_flags = 0;
      const size_t br = branch(&branch_flags);
      if (br == kFail) return kFail;
      if (ret == kFail) {
        ret = br;
      } else {
        link(last, br);
      }
      last = br;
      if (!(branch_flags & kHasWidth)) *flags &= ~kHasWidth;
      *flags |= branch_flags & kSpStart;
      if (at_end() || peek() != '|') break;
      ++pos_;
    }
    const size_t ender = group ? (slot >= 0 ? emit(RegexOp::kClose, static_cast<uint8_t>(slot))
                                            : emit(RegexOp::kNothing))
                               : emit(RegexOp::kEnd);
    tail(ret, ender);
    for (size_t br = ret; br != CompiledRegex::npos; br = out_.next_of(br)) {
      operand_tail(br, ender);
    }
    if (group) {
      if (at_end() || peek() != '}') return fail(RegexError::kUnmatchedOpenBrace);
      ++pos_;
      --depth_;
    } else if (!at_end()) {
      // A branch stops only at "|" (taken above), "}" or the end.
      return fail(RegexError::kUnmatchedCloseBrace);
    }
    if (too_large()) return fail(RegexError::kTooLarge);
    return ret;
  }

  // branch := { piece }; an empty branch matches the empty string.
  size_t branch(unsigned* flags) {
    *flags = kWorst;
    const size_t ret = emit(RegexOp::kBranch);
    size_t chain = kFail;
    while (!at_end() && peek() != '|' && peek() != '}') {
      unsigned piece_flags = 0;
      const size_t latest = piece(&piece_flags);
      if (latest == kFail) return kFail;
      *flags |= piece_flags & kHasWidth;
      if (chain == kFail) {
        *flags |= piece_flags & kSpStart;
      } else {
        tail(chain, latest);
      }
      chain = latest;
      if (too_large()) return fail(RegexError::kTooLarge);
    }
    if (chain == kFail) emit(RegexOp::kNothing);
    return ret;
  }

  // piece := atom [ "*" | "+" | "?" ]
  size_t piece(unsigned* flags) {
    unsigned atom_flags = 0;
    const size_t ret = atom(&atom_flags);
    if (ret == kFail) return kFail;
    if (at_end() || !is_repeat(peek())) {
      *flags = atom_flags;
      return ret;
    }
    const char op = peek();
    if (!(atom_flags & kHasWidth) && op != '?') return fail(RegexError::kEmptyOperand);
    *flags = op != '+' ? (kWorst | kSpStart) : (kWorst | kHasWidth);
    const bool simple = (atom_flags & kSimple) != 0;
    if (op == '*' && simple) {
      insert(RegexOp::kStar, ret);
    } else if (op == '*') {
      // x* as BRANCH(x BACK->BRANCH) BRANCH(NOTHING).
      insert(RegexOp::kBranch, ret);
      operand_tail(ret, emit(RegexOp::kBack));
      operand_tail(ret, ret);
      tail(ret, emit(RegexOp::kBranch));
      tail(ret, emit(RegexOp::kNothing));
    } else if (op == '+' && simple) {
      insert(RegexOp::kPlus, ret);
    } else if (op == '+') {
      // x+ as x BRANCH(BACK->x) BRANCH(NOTHING).
      const size_t loop = emit(RegexOp::kBranch);
      tail(ret, loop);
      tail(emit(RegexOp::kBack), ret);
      tail(loop, emit(RegexOp::kBranch));
      tail(ret, emit(RegexOp::kNothing));
    } else {
      // x? as BRANCH(x) BRANCH(NOTHING).
      insert(RegexOp::kBranch, ret);
      tail(ret, emit(RegexOp::kBranch));
      const size_t nothing = emit(RegexOp::kNothing);
      tail(ret, nothing);
      operand_tail(ret, nothing);
    }
    ++pos_;
    if (!at_end() && is_repeat(peek())) return fail(RegexError::kNestedRepeat);
    return ret;
  }

  size_t literal(std::string_view text) {
    const size_t node = emit(RegexOp::kExactly);
    out_.program[node].operand = static_cast<uint32_t>(out_.literals.size());
    out_.program[node].length = static_cast<uint32_t>(text.size());
    for (char c : text) out_.literals.push_back(static_cast<char>(fold(static_cast<uint8_t>(c))));
    return node;
  }

  size_t atom(unsigned* flags) {
    *flags = kWorst;
    const char c = pattern_[pos_++];
    switch (c) {
      case '^':
        return emit(RegexOp::kBol);
      case '$':
        return emit(RegexOp::kEol);
      case '.':
        *flags |= kHasWidth | kSimple;
        return emit(RegexOp::kAny);
      case '[':
        *flags |= kHasWidth | kSimple;
        return character_class();
      case '{': {
        unsigned inner = 0;
        const size_t ret = expression(true, &inner);
        if (ret == kFail) return kFail;
        *flags |= inner & (kHasWidth | kSpStart);
        return ret;
      }
      case '?':
      case '+':
      case '*':
        return fail(RegexError::kRepeatFollowsNothing);
      case '\\': {
        if (at_end()) return fail(RegexError::kTrailingBackslash);
        *flags |= kHasWidth | kSimple;
        return literal(pattern_.substr(pos_++, 1));
      }
      default: {
        // A run of ordinary characters ("|" and "}" never get here: branch() stops at them).
        const size_t start = pos_ - 1;
        size_t end = pos_;
        while (end < pattern_.size() && !is_special(pattern_[end])) ++end;
        if (end - start > 1 && end < pattern_.size() && is_repeat(pattern_[end])) --end;
        pos_ = end;
        *flags |= kHasWidth;
        if (end - start == 1) *flags |= kSimple;
        return literal(pattern_.substr(start, end - start));
      }
    }
  }

  void add_member(RegexSet& set, uint8_t c) const {
    set[c >> 6] |= uint64_t{1} << (c & 63);
    const uint8_t folded = fold(c);
    set[folded >> 6] |= uint64_t{1} << (folded & 63);
  }

  // After "[": members and ranges up to "]".
  size_t character_class() {
    RegexOp op = RegexOp::kAnyOf;
    if (!at_end() && (peek() == '^' || peek() == '~')) {
      op = RegexOp::kAnyBut;
      ++pos_;
    }
    RegexSet set{};
    if (!at_end() && (peek() == ']' || peek() == '-')) add_member(set, peek()), ++pos_;
    while (!at_end() && peek() != ']') {
      if (peek() != '-') {
        add_member(set, static_cast<uint8_t>(pattern_[pos_++]));
        continue;
      }
      ++pos_;
      if (at_end() || peek() == ']') {
        add_member(set, '-');
        continue;
      }
      // A range runs from the character before the "-" to the one after it.
      const auto low = static_cast<uint8_t>(pattern_[pos_ - 2]);
      const auto high = static_cast<uint8_t>(pattern_[pos_]);
      if (low > high) return fail(RegexError::kBackwardRange);
      for (unsigned m = low; m <= high; ++m) add_member(set, static_cast<uint8_t>(m));
      ++pos_;
    }
    if (at_end()) return fail(RegexError::kUnclosedClass);
    ++pos_;
    const size_t node = emit(op);
    out_.program[node].operand = static_cast<uint32_t>(out_.sets.size());
    out_.sets.push_back(set);
    return node;
  }

  std::string_view pattern_;
  size_t pos_ = 0;
  bool fold_;
  int depth_ = 0;
  CompiledRegex& out_;
  RegexError error_ = RegexError::kNone;
};

// What every match must have: with a single top-level alternative, the nodes on its main chain
// are all required, so a leading literal fixes the first character, a leading "^" anchors, and
// the longest literal on the chain must occur in the text.
void find_shortcuts(CompiledRegex& re) {
  const size_t after_first = re.next_of(0);
  if (after_first == CompiledRegex::npos || re.node(after_first).op != RegexOp::kEnd) return;
  size_t scan = 1;
  if (re.node(scan).op == RegexOp::kExactly) {
    re.first_char = static_cast<uint8_t>(re.literals[re.node(scan).operand]);
  } else if (re.node(scan).op == RegexOp::kBol) {
    re.anchored = true;
  }
  for (; scan != CompiledRegex::npos; scan = re.next_of(scan)) {
    const RegexNode& n = re.node(scan);
    if (n.op == RegexOp::kExactly && n.length > re.required.size()) {
      re.required = std::string(re.literal(n));
    }
  }
}

}  // namespace

const char* regex_error_text(RegexError error) {
  switch (error) {
    case RegexError::kNone:
      return "no error";
    case RegexError::kEmptyOperand:
      return "*+ operand could be empty";
    case RegexError::kNestedRepeat:
      return "nested *?+";
    case RegexError::kRepeatFollowsNothing:
      return "?+* follows nothing";
    case RegexError::kUnmatchedOpenBrace:
      return "unmatched {";
    case RegexError::kUnmatchedCloseBrace:
      return "unmatched }";
    case RegexError::kUnclosedClass:
      return "unmatched []";
    case RegexError::kBackwardRange:
      return "invalid [] range";
    case RegexError::kTrailingBackslash:
      return "trailing \\";
    case RegexError::kTooDeep:
      return "braces nested too deeply";
    case RegexError::kTooLarge:
      return "regular expression too big";
  }
  return "unknown error";
}

std::optional<CompiledRegex> compile_regex(std::string_view pattern, bool fold, RegexError* error) {
  CompiledRegex re;
  re.folded = fold;
  Compiler compiler(pattern, fold, re);
  const bool ok = compiler.run();
  if (error != nullptr) *error = ok ? RegexError::kNone : compiler.error();
  if (!ok) return std::nullopt;
  find_shortcuts(re);
  return re;
}

}  // namespace vtn
