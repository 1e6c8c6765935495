// The search of MATCH's regular expressions: a backtracking matcher over the compiled program.
//
// The matcher walks the program from node to node. Where it has a choice (a BRANCH with a further
// alternative, a STAR or PLUS that could give back a character) it pushes a choice point onto its
// own stack and takes the first way; a node that fails pops the latest choice point and resumes
// there. Group boundaries are set on the way forward, and the old value is pushed too, so that
// backtracking past a group restores it. Keeping the choice points in a vector rather than in
// recursion lets a match run over texts of any length without exhausting the thread's stack.
//
// Every node visited and every choice point resumed costs one unit of work, every character a
// repetition scans one more. A search that exceeds its allowance gives up and reports that it did:
// patterns such as {{a+}+}+b against a long run of a's take exponential time in any backtracking
// matcher, and MATCH must come back.
#include <cstring>
#include <string>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/regex_compile.hpp"

namespace vtn {
namespace {

constexpr uint64_t kBaseWork = uint64_t{1} << 22;
constexpr uint64_t kWorkPerCharacter = 256;
// Choice points live on the heap; this caps the memory one search can take (about 48 MB).
constexpr size_t kMaxChoices = size_t{1} << 21;

struct Choice {
  enum Kind : uint8_t { kAlternative, kRepeat, kRestoreBegin, kRestoreEnd };
  Kind kind;
  uint8_t slot;   // kRestore*: the group
  uint32_t node;  // kAlternative: the BRANCH to try; kRepeat: the STAR or PLUS
  size_t pos;     // kAlternative, kRepeat: where the text was
  size_t value;   // kRepeat: the count in use; kRestore*: the old boundary
};

class Matcher {
 public:
  Matcher(const CompiledRegex& re, std::string_view text, uint64_t work_limit)
      : re_(re), text_(text), work_left_(work_limit) {}

  bool exhausted() const { return exhausted_; }

  // Tries the program with the match starting at `start`.
  bool run(size_t start) {
    choices_.clear();
    groups_.fill({});
    size_t scan = 0;
    size_t pos = start;
    for (;;) {
      if (!spend(1)) return false;
      const RegexNode& n = re_.node(scan);
      size_t next = re_.next_of(scan);
      bool ok = true;
      switch (n.op) {
        case RegexOp::kEnd:
          end_ = pos;
          return true;
        case RegexOp::kBol:
          ok = pos == 0;
          break;
        case RegexOp::kEol:
          ok = pos == text_.size();
          break;
        case RegexOp::kAny:
          ok = pos < text_.size();
          ++pos;
          break;
        case RegexOp::kAnyOf:
        case RegexOp::kAnyBut:
          ok = pos < text_.size() && in_class(n, text_[pos]);
          ++pos;
          break;
        case RegexOp::kExactly: {
          const std::string_view literal = re_.literal(n);
          ok = text_.size() - pos >= literal.size() &&
               std::memcmp(text_.data() + pos, literal.data(), literal.size()) == 0;
          pos += literal.size();
          break;
        }
        case RegexOp::kNothing:
        case RegexOp::kBack:
          break;
        case RegexOp::kOpen:
          ok = push({Choice::kRestoreBegin, n.group, 0, 0, groups_[n.group].begin});
          groups_[n.group].begin = pos;
          break;
        case RegexOp::kClose:
          ok = push({Choice::kRestoreEnd, n.group, 0, 0, groups_[n.group].end});
          groups_[n.group].end = pos;
          break;
        case RegexOp::kBranch:
          if (next != CompiledRegex::npos && re_.node(next).op == RegexOp::kBranch) {
            ok = push({Choice::kAlternative, 0, static_cast<uint32_t>(next), pos, 0});
          }
          next = scan + 1;
          break;
        case RegexOp::kStar:
        case RegexOp::kPlus: {
          const size_t most = count_repeats(scan + 1, pos);
          const size_t count = usable_count(scan, pos, most);
          if (count == kNone) {
            ok = false;
          } else {
            ok = push({Choice::kRepeat, 0, static_cast<uint32_t>(scan), pos, count});
            pos += count;
          }
          break;
        }
      }
      if (exhausted_) return false;
      if (ok && next != CompiledRegex::npos) {
        scan = next;
        continue;
      }
      if (!backtrack(&scan, &pos)) return false;
    }
  }

  size_t end() const { return end_; }
  const std::array<RegexMatch::Span, CompiledRegex::kMaxGroups>& groups() const { return groups_; }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  bool spend(uint64_t units) {
    if (units > work_left_) {
      exhausted_ = true;
      work_left_ = 0;
      return false;
    }
    work_left_ -= units;
    return true;
  }

  bool push(const Choice& choice) {
    if (choices_.size() >= kMaxChoices) {
      exhausted_ = true;
      return false;
    }
    choices_.push_back(choice);
    return true;
  }

  bool in_class(const RegexNode& n, char c) const {
    const bool member = set_contains(re_.sets[n.operand], static_cast<uint8_t>(c));
    return n.op == RegexOp::kAnyOf ? member : !member;
  }

  // How often the one-character item at `item` matches from `pos` on.
  size_t count_repeats(size_t item, size_t pos) {
    const RegexNode& n = re_.node(item);
    size_t end = pos;
    switch (n.op) {
      case RegexOp::kAny:
        end = text_.size();
        break;
      case RegexOp::kExactly: {
        const char c = re_.literals[n.operand];
        while (end < text_.size() && text_[end] == c) ++end;
        break;
      }
      case RegexOp::kAnyOf:
      case RegexOp::kAnyBut:
        while (end < text_.size() && in_class(n, text_[end])) ++end;
        break;
      default:
        break;
    }
    spend(end - pos);
    return end - pos;
  }

  // The largest count up to `most` that the repetition at `star` may take from `pos`: at least its
  // minimum, and, when a literal follows, one that leaves that literal's first character next.
  size_t usable_count(size_t star, size_t pos, size_t most) {
    const size_t least = re_.node(star).op == RegexOp::kPlus ? 1 : 0;
    const size_t next = re_.next_of(star);
    int wanted = -1;
    if (next != CompiledRegex::npos && re_.node(next).op == RegexOp::kExactly) {
      wanted = static_cast<uint8_t>(re_.literals[re_.node(next).operand]);
    }
    for (size_t count = most;; --count) {
      if (count < least) return kNone;
      if (wanted < 0) return count;
      if (pos + count < text_.size() && static_cast<uint8_t>(text_[pos + count]) == wanted) {
        return count;
      }
      if (count == 0 || !spend(1)) return kNone;
    }
  }

  // Resumes at the latest choice point; false when none is left.
  bool backtrack(size_t* scan, size_t* pos) {
    while (!choices_.empty()) {
      if (!spend(1)) return false;
      Choice& c = choices_.back();
      switch (c.kind) {
        case Choice::kRestoreBegin:
          groups_[c.slot].begin = c.value;
          choices_.pop_back();
          continue;
        case Choice::kRestoreEnd:
          groups_[c.slot].end = c.value;
          choices_.pop_back();
          continue;
        case Choice::kAlternative: {
          const size_t branch = c.node;
          *pos = c.pos;
          choices_.pop_back();
          const size_t further = re_.next_of(branch);
          if (further != CompiledRegex::npos && re_.node(further).op == RegexOp::kBranch) {
            if (!push({Choice::kAlternative, 0, static_cast<uint32_t>(further), *pos, 0})) {
              return false;
            }
          }
          *scan = branch + 1;
          return true;
        }
        case Choice::kRepeat: {
          const size_t count = c.value == 0 ? kNone : usable_count(c.node, c.pos, c.value - 1);
          if (exhausted_) return false;
          if (count == kNone) {
            choices_.pop_back();
            continue;
          }
          c.value = count;
          *pos = c.pos + count;
          *scan = re_.next_of(c.node);
          return true;
        }
      }
    }
    return false;
  }

  const CompiledRegex& re_;
  std::string_view text_;
  uint64_t work_left_;
  bool exhausted_ = false;
  std::vector<Choice> choices_;
  std::array<RegexMatch::Span, CompiledRegex::kMaxGroups> groups_;
  size_t end_ = 0;
};

}  // namespace

uint64_t regex_work_limit(size_t text_size) {
  return kBaseWork + kWorkPerCharacter * static_cast<uint64_t>(text_size);
}

RegexSearchResult regex_search(const CompiledRegex& re, std::string_view text, RegexMatch* match) {
  std::string folded;
  if (re.folded) {
    folded.assign(text);
    to_upper(folded.data(), folded.size());
    text = folded;
  }
  RegexSearchResult result;
  if (!re.required.empty() && text.find(re.required) == std::string_view::npos) return result;

  Matcher matcher(re, text, regex_work_limit(text.size()));
  auto found_at = [&](size_t start) {
    if (!matcher.run(start)) return false;
    result.matched = true;
    if (match != nullptr) {
      match->whole = {start, matcher.end()};
      match->groups = matcher.groups();
    }
    return true;
  };

  if (re.anchored) {
    found_at(0);
  } else if (re.first_char >= 0) {
    const char first = static_cast<char>(re.first_char);
    for (size_t pos = 0; pos < text.size() && !matcher.exhausted();) {
      const void* hit = std::memchr(text.data() + pos, first, text.size() - pos);
      if (hit == nullptr) break;
      pos = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
      if (found_at(pos)) break;
      ++pos;
    }
  } else {
    for (size_t pos = 0; pos <= text.size() && !matcher.exhausted(); ++pos) {
      if (found_at(pos)) break;
    }
  }
  result.exhausted = matcher.exhausted();
  return result;
}

}  // namespace vtn
