#include "runtime/eval/scanner.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vtn::eval {
namespace {

// The tokens of a text, written compactly: N12 (integer), R1.5 (REAL), T'x' (text), P@N10
// (picture), Iname (name), O<code> (operator), E (error).
std::vector<std::string> tokens(std::string_view text) {
  Scanner scanner(text);
  std::vector<std::string> out;
  for (int guard = 0; guard < 100; ++guard) {
    const Token t = scanner.next();
    switch (t.type) {
      case TokenType::kEnd:
        return out;
      case TokenType::kError:
        out.push_back("E");
        break;
      case TokenType::kInteger:
        out.push_back("N" + std::to_string(t.integer));
        break;
      case TokenType::kReal: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "R%g", t.real);
        out.push_back(buffer);
        break;
      }
      case TokenType::kText:
        out.push_back("T'" + t.text + "'");
        break;
      case TokenType::kPicture:
        out.push_back("P" + t.text);
        break;
      case TokenType::kName:
        out.push_back("I" + t.text);
        break;
      case TokenType::kOperator:
        out.push_back("O" + std::to_string(static_cast<int>(t.op)));
        break;
    }
  }
  return out;
}

using Tokens = std::vector<std::string>;

TEST(ScannerTest, TokensOfEveryClass) {
  struct Case {
    const char* text;
    Tokens expected;
  };
  const Case cases[] = {
      // Numbers in every base, and what is no number.
      {"12 0FFH 0ffh 17O 101B", {"N12", "N255", "N255", "N15", "N5"}},
      {"0FFFFFFFFH 1FFFFFFFFH", {"N-1", "N-1"}},  // the low 32 bits
      {"2147483647 2147483648", {"N2147483647", "R2.14748e+09"}},
      {"1.5 .5 1.5E2 1.5e-2 2.E1 3.", {"R1.5", "R0.5", "R150", "R0.015", "R20", "R3"}},
      {"12AB", {"E"}},
      {"18O", {"E"}},
      {"102B", {"E"}},
      {"0GH", {"E"}},
      {"1E3", {"E"}},  // an exponent only after a point
      {"1.5E", {"E"}},
      {"H", {"IH"}},
      // Texts.
      {"'abc' 'it''s' '' ''''", {"T'abc'", "T'it's'", "T''", "T'''"}},
      {"'open", {"E"}},
      // Pictures and where they end.
      {"@N10.2,@D1)", {"P@N10.2", "O20", "P@D1", "O23"}},
      {"@N(12.2) @N-12.2B", {"P@N(12.2)", "P@N-12.2B"}},
      {"@P(###) ###-####P,1", {"P@P(###) ###-####P", "O20", "N1"}},
      {"@P##-##PB", {"P@P##-##PB"}},
      {"@K ##, @K", {"P@K ##, @K"}},
      {"@N~kr, ~12", {"P@N~kr, ~12"}},
      {"@P12", {"E", "IP12"}},  // no closing P
      {"@", {"E"}},
      // Names.
      {"PNM:NAME abc_1 ?x _y a# b$ c\"",
       {"IPNM:NAME", "Iabc_1", "I?x", "I_y", "Ia#", "Ib$", "Ic\""}},
      {"a#b", {"Ia#", "Ib"}},
      // Operators, the two-character forms first.
      {"^*/%+-&= <>~,:()[]",
       {"O2", "O3", "O4", "O5", "O7", "O8", "O9", "O10", "O11", "O16", "O20", "O21", "O22", "O23",
        "O24", "O25"}},
      {"<= >= =< => ~= ~< ~> < > ~",
       {"O14", "O15", "O14", "O15", "O11", "O15", "O14", "O12", "O13", "O16"}},
      {"< =", {"O12", "O10"}},  // a blank splits the pair
      {"1 $ 2 \\", {"N1", "E", "N2", "E"}},
      {" \t ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens(c.text), c.expected) << c.text;
}

TEST(ScannerTest, OffsetsPointAtTheToken) {
  Scanner scanner("  ab + 'x'");
  EXPECT_EQ(scanner.next().offset, 2u);
  EXPECT_EQ(scanner.next().offset, 5u);
  EXPECT_EQ(scanner.next().offset, 7u);
  const Token end = scanner.next();
  EXPECT_EQ(end.type, TokenType::kEnd);
  EXPECT_EQ(scanner.next().type, TokenType::kEnd);
}

}  // namespace
}  // namespace vtn::eval
