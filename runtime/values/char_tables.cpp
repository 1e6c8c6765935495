#include "runtime/values/char_tables.hpp"

#include <cstring>

namespace vtn {
namespace {

// The built-in state, computed at compile time so that the tables are ready before any code of
// the program runs, static initialisers of other files included.
constexpr CharTables make_initial_tables() {
  CharTables t{};
  for (int c = 0; c < 256; ++c) {
    t.collation_ansi[c] = static_cast<uint8_t>(c);
    t.collation_oem[c] = static_cast<uint8_t>(c);
  }
  for (int c = 'A'; c <= 'Z'; ++c) {
    t.case_partner[c] = static_cast<uint8_t>(c + 32);
    t.case_partner[c + 32] = static_cast<uint8_t>(c);
    t.case_class[c] = kClassUpper;
    t.case_class[c + 32] = kClassLower;
  }
  for (int c = '0'; c <= '9'; ++c) t.case_class[c] = kClassDigit;
  return t;
}

constexpr CharTables kInitialTables = make_initial_tables();

constinit CharTables g_tables = kInitialTables;

const Digraph* find_digraph(uint8_t c) {
  const auto& list = g_tables.oem_flag ? g_tables.digraphs_oem : g_tables.digraphs_ansi;
  for (const Digraph& d : list) {
    if (d.character == 0) break;
    if (d.character == c) return &d;
  }
  return nullptr;
}

// Reads one text as a stream of characters, expanding digraphs, and supplying blanks once the
// text is exhausted when padding is on.
class ExpandingReader {
 public:
  ExpandingReader(std::string_view text, size_t position) : text_(text), position_(position) {}

  bool exhausted() const { return pending_ == 0 && position_ >= text_.size(); }

  uint8_t next() {
    if (pending_ != 0) {
      const uint8_t c = pending_;
      pending_ = 0;
      return c;
    }
    if (position_ >= text_.size()) return ' ';
    const uint8_t c = static_cast<uint8_t>(text_[position_++]);
    if (const Digraph* d = find_digraph(c)) {
      pending_ = d->second;
      return d->first;
    }
    return c;
  }

 private:
  std::string_view text_;
  size_t position_;
  uint8_t pending_ = 0;
};

bool has_digraphs() {
  const auto& list = g_tables.oem_flag ? g_tables.digraphs_oem : g_tables.digraphs_ansi;
  return list[0].character != 0;
}

const std::array<uint8_t, 256>& ranks() {
  return g_tables.oem_flag ? g_tables.collation_oem : g_tables.collation_ansi;
}

// The comparison from the first unequal position on, through the digraph expansion.
int compare_expanded(std::string_view a, std::string_view b, size_t from) {
  const auto& rank = ranks();
  ExpandingReader ra(a, from);
  ExpandingReader rb(b, from);
  while (!ra.exhausted() || !rb.exhausted()) {
    const uint8_t ca = ra.next();
    const uint8_t cb = rb.next();
    if (ca != cb && rank[ca] != rank[cb]) return rank[ca] - rank[cb];
  }
  return 0;
}

}  // namespace

CharTables& char_tables() {
  return g_tables;
}

void reset_char_tables() {
  g_tables = kInitialTables;
}

void reset_collation(CharTables& t) {
  t.collation_ansi = kInitialTables.collation_ansi;
  t.collation_oem = kInitialTables.collation_oem;
}

void reset_case_tables(CharTables& t) {
  t.case_partner = kInitialTables.case_partner;
  t.case_class = kInitialTables.case_class;
}

int collated_compare(std::string_view a, std::string_view b) {
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  const auto& rank = ranks();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t ca = i < a.size() ? static_cast<uint8_t>(a[i]) : ' ';
    const uint8_t cb = i < b.size() ? static_cast<uint8_t>(b[i]) : ' ';
    if (ca == cb) continue;
    if (has_digraphs()) return compare_expanded(a, b, i);
    return rank[ca] - rank[cb];
  }
  return 0;
}

int collated_compare_cstr(const char* a, const char* b) {
  const auto& rank = ranks();
  size_t i = 0;
  for (;; ++i) {
    const uint8_t ca = static_cast<uint8_t>(a[i]);
    const uint8_t cb = static_cast<uint8_t>(b[i]);
    if (ca != cb) break;
    if (ca == 0) return 0;
  }
  if (has_digraphs()) {
    // Without padding an exhausted text compares as NUL, which the reader supplies as a blank;
    // compare the NUL-ended views through the same expansion with explicit terminators.
    std::string_view va(a + i, std::strlen(a + i));
    std::string_view vb(b + i, std::strlen(b + i));
    const auto& r = rank;
    ExpandingReader ra(va, 0);
    ExpandingReader rb(vb, 0);
    while (!ra.exhausted() || !rb.exhausted()) {
      const uint8_t ca = ra.exhausted() ? 0 : ra.next();
      const uint8_t cb = rb.exhausted() ? 0 : rb.next();
      if (ca != cb && r[ca] != r[cb]) return r[ca] - r[cb];
    }
    return 0;
  }
  return rank[static_cast<uint8_t>(a[i])] - rank[static_cast<uint8_t>(b[i])];
}

int compare_char_rank(uint8_t a, uint8_t b) {
  return ranks()[a] - ranks()[b];
}

uint8_t to_upper_char(uint8_t c) {
  return g_tables.case_class[c] == kClassLower ? g_tables.case_partner[c] : c;
}

uint8_t to_lower_char(uint8_t c) {
  return g_tables.case_class[c] == kClassUpper ? g_tables.case_partner[c] : c;
}

void to_upper(char* text, size_t length) {
  if (length == kUpToNul) length = std::strlen(text);
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(to_upper_char(static_cast<uint8_t>(text[i])));
  }
}

void to_lower(char* text, size_t length) {
  if (length == kUpToNul) length = std::strlen(text);
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(to_lower_char(static_cast<uint8_t>(text[i])));
  }
}

bool is_upper_char(uint8_t c) {
  return g_tables.case_class[c] == kClassUpper;
}

bool is_alphanumeric_char(uint8_t c) {
  return g_tables.case_class[c] != kClassOther;
}

bool is_alpha_char(uint8_t c) {
  return g_tables.case_partner[c] != 0;
}

}  // namespace vtn
