// The character tables of the locale: collation ranks (ANSI and OEM), case partners and classes,
// and the digraph expansions, with the comparisons and case mappings that read them.
//
// The tables start in their built-in state (identity ranks, A-Z/a-z partners, no digraphs); the
// environment settings (ENVSET, the .ENV file) replace them. Everything that compares, folds or
// classifies text consults these tables, never a copy.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vtn {

enum CharClass : uint8_t {
  kClassOther = 0,
  kClassUpper = 1,
  kClassLower = 2,
  kClassDigit = 4,
};

struct Digraph {
  uint8_t character = 0;  // 0 ends the list
  uint8_t first = 0;
  uint8_t second = 0;
};

struct CharTables {
  static constexpr int kDigraphSlots = 16;

  bool oem_flag = false;                      // text is OEM rather than ANSI
  std::array<uint8_t, 256> collation_ansi{};  // sort rank of each code
  std::array<uint8_t, 256> collation_oem{};
  std::array<uint8_t, 256> case_partner{};  // the other-case partner, 0 for none
  std::array<uint8_t, 256> case_class{};    // CharClass
  std::array<Digraph, kDigraphSlots> digraphs_ansi{};
  std::array<Digraph, kDigraphSlots> digraphs_oem{};
};

// The process-wide tables.
CharTables& char_tables();

// Puts every table back into its built-in state.
void reset_char_tables();

// Identity ranks; A-Z and a-z partners of each other with classes 1 and 2, 0-9 class 4.
void reset_collation(CharTables& t);
void reset_case_tables(CharTables& t);

// Collated comparison of two texts padded with blanks to the longer length; digraphs expand.
int collated_compare(std::string_view a, std::string_view b);
// The same over NUL-terminated texts (no padding).
int collated_compare_cstr(const char* a, const char* b);
// Rank of a minus rank of b.
int compare_char_rank(uint8_t a, uint8_t b);

uint8_t to_upper_char(uint8_t c);
uint8_t to_lower_char(uint8_t c);
// A length of kUpToNul (FFFFh) means: up to the first NUL.
inline constexpr size_t kUpToNul = 0xFFFF;
void to_upper(char* text, size_t length);
void to_lower(char* text, size_t length);

bool is_upper_char(uint8_t c);         // class 1
bool is_alphanumeric_char(uint8_t c);  // class not 0
bool is_alpha_char(uint8_t c);         // partner not 0

}  // namespace vtn
