// The scanner of expression texts. It skips spaces and tabs and yields one token at a time:
//
//   numbers   12  0FFH (hex)  17O (octal)  101B (binary)  1.5  .5  1.5E-3
//             A run of digits and letters is an integer; a last letter H, O or B makes it hex,
//             octal or binary when the other characters are digits of that base, and otherwise
//             every character must be a decimal digit. A point after the integer part makes a
//             REAL, with an exponent allowed only after the point. Hex, octal and binary keep
//             the low 32 bits (0FFFFFFFFH is -1); a decimal integer beyond the LONG range reads
//             as a REAL of its exact value rather than wrapping.
//   texts     'it''s'            a doubled quote stands for one quote
//   pictures  @N-12.2  @D1  @P(###)###-####P  @N~kr ~12
//             up to a space, comma or closing parenthesis outside parentheses; @P and @K run to
//             their closing letter; "~" quotes inside @N; a trailing B after @P..P or @K..K
//   names     a letter, "_" or "?", then letters, digits, "_" and ":", with an optional last
//             "#", "$" or double quote
//   operators ^ * / % + - & = <> < > <= >= (=< => ~= ~< ~> as their equivalents) ~ , : ( ) [ ]
//
// Anything else, an unterminated text or a malformed number is an error token.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn::eval {

// Operator codes; the comparisons keep their codes as the node's operator.
enum class OpCode : uint8_t {
  kNone = 0,
  kPower = 2,
  kMultiply = 3,
  kDivide = 4,
  kModulo = 5,
  kNegate = 6,
  kAdd = 7,
  kSubtract = 8,
  kConcat = 9,
  kEqual = 10,
  kNotEqual = 11,
  kLess = 12,
  kGreater = 13,
  kLessEqual = 14,
  kGreaterEqual = 15,
  kNot = 16,
  kAnd = 17,
  kOr = 18,
  kXor = 19,
  kComma = 20,
  kColon = 21,
  kLeftParen = 22,
  kRightParen = 23,
  kLeftBracket = 24,
  kRightBracket = 25,
};

enum class TokenType : uint8_t {
  kEnd,
  kError,
  kInteger,
  kReal,
  kText,
  kPicture,
  kName,
  kOperator,
};

struct Token {
  TokenType type = TokenType::kEnd;
  OpCode op = OpCode::kNone;  // kOperator
  int32_t integer = 0;        // kInteger
  double real = 0;            // kReal
  std::string text;           // kText (quotes undone), kPicture (with its "@"), kName
  size_t offset = 0;          // where the token starts in the expression text
};

// A character that may continue a name (the optional last "#", "$" or double quote included).
bool is_name_char(uint8_t c);

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // The next token; kEnd at the end of the text, and again on every later call.
  Token next();

 private:
  Token scan_number(size_t start);
  Token scan_text(size_t start);
  Token scan_picture(size_t start);
  Token scan_name(size_t start);
  Token scan_operator(size_t start);

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace vtn::eval
