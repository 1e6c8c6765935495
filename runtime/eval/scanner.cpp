#include "runtime/eval/scanner.hpp"

#include <cctype>
#include <cstdlib>

#include "runtime/platform/char_classes.hpp"

namespace vtn::eval {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_letter(char c) {
  return platform::is_char_alpha(static_cast<uint8_t>(c));
}
bool is_name_start(char c) {
  return is_letter(c) || c == '_' || c == '?';
}
bool is_name_body(char c) {
  return is_letter(c) || is_digit(c) || c == '_' || c == ':';
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The value of `digits` in `base`, kept to 32 bits; false when a character is no digit of it.
bool accumulate(std::string_view digits, int base, uint32_t& value) {
  value = 0;
  for (char c : digits) {
    const int d = digit_value(c);
    if (d >= base) return false;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
  }
  return true;
}

Token error_at(size_t start) {
  Token t;
  t.type = TokenType::kError;
  t.offset = start;
  return t;
}

struct OperatorSpelling {
  const char* text;
  OpCode op;
};
// Two-character forms first, so that they win over their first character.
constexpr OperatorSpelling kOperators[] = {
    {"<>", OpCode::kNotEqual},     {"<=", OpCode::kLessEqual},    {">=", OpCode::kGreaterEqual},
    {"=<", OpCode::kLessEqual},    {"=>", OpCode::kGreaterEqual}, {"~=", OpCode::kNotEqual},
    {"~<", OpCode::kGreaterEqual}, {"~>", OpCode::kLessEqual},    {"^", OpCode::kPower},
    {"*", OpCode::kMultiply},      {"/", OpCode::kDivide},        {"%", OpCode::kModulo},
    {"+", OpCode::kAdd},           {"-", OpCode::kSubtract},      {"&", OpCode::kConcat},
    {"=", OpCode::kEqual},         {"<", OpCode::kLess},          {">", OpCode::kGreater},
    {"~", OpCode::kNot},           {",", OpCode::kComma},         {":", OpCode::kColon},
    {"(", OpCode::kLeftParen},     {")", OpCode::kRightParen},    {"[", OpCode::kLeftBracket},
    {"]", OpCode::kRightBracket},
};

}  // namespace

bool is_name_char(uint8_t c) {
  const char ch = static_cast<char>(c);
  return is_name_body(ch) || ch == '?' || ch == '#' || ch == '$' || ch == '"';
}

Token Scanner::next() {
  while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  if (pos_ >= text_.size()) {
    Token t;
    t.offset = text_.size();
    return t;
  }
  const size_t start = pos_;
  const char c = text_[pos_];
  if (is_digit(c) || (c == '.' && pos_ + 1 < text_.size() && is_digit(text_[pos_ + 1]))) {
    return scan_number(start);
  }
  if (c == '\'') return scan_text(start);
  if (c == '@') return scan_picture(start);
  if (is_name_start(c)) return scan_name(start);
  return scan_operator(start);
}

Token Scanner::scan_number(size_t start) {
  // The integer part: a run of digits and letters, letters taken in upper case.
  std::string run;
  while (pos_ < text_.size() &&
         (is_digit(text_[pos_]) || std::isalpha(static_cast<unsigned char>(text_[pos_])))) {
    run += static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])));
    ++pos_;
  }
  const bool plain_decimal =
      run.find_first_not_of("0123456789") == std::string::npos;  // also true for ".5"
  if (plain_decimal && pos_ < text_.size() && text_[pos_] == '.') {
    ++pos_;
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && (text_[pos_] == 'E' || text_[pos_] == 'e')) {
      size_t p = pos_ + 1;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      if (p >= text_.size() || !is_digit(text_[p])) {
        pos_ = p;
        return error_at(start);
      }
      while (p < text_.size() && is_digit(text_[p])) ++p;
      pos_ = p;
    }
    // Read the whole literal at once, so that it gets the nearest double.
    Token t;
    t.type = TokenType::kReal;
    t.offset = start;
    t.real = std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
    return t;
  }
  if (pos_ < text_.size() && (is_name_body(text_[pos_]) || text_[pos_] == '.')) {
    return error_at(start);  // "12_a", "0FFH.5": no number of this language
  }
  Token t;
  t.type = TokenType::kInteger;
  t.offset = start;
  uint32_t value = 0;
  const char last = run.back();
  const std::string_view body = std::string_view(run).substr(0, run.size() - 1);
  if (plain_decimal) {
    double exact = 0;
    for (char d : run) exact = exact * 10 + (d - '0');
    if (exact > 2147483647.0) {
      t.type = TokenType::kReal;
      t.real = std::strtod(run.c_str(), nullptr);
      return t;
    }
    accumulate(run, 10, value);
  } else if (!((last == 'H' && !body.empty() && accumulate(body, 16, value)) ||
               (last == 'O' && !body.empty() && accumulate(body, 8, value)) ||
               (last == 'B' && !body.empty() && accumulate(body, 2, value)))) {
    return error_at(start);
  }
  t.integer = static_cast<int32_t>(value);
  return t;
}

Token Scanner::scan_text(size_t start) {
  Token t;
  t.type = TokenType::kText;
  t.offset = start;
  ++pos_;
  while (pos_ < text_.size()) {
    const char c = text_[pos_++];
    if (c != '\'') {
      t.text += c;
    } else if (pos_ < text_.size() && text_[pos_] == '\'') {
      t.text += '\'';
      ++pos_;
    } else {
      return t;
    }
  }
  return error_at(start);  // no closing quote
}

Token Scanner::scan_picture(size_t start) {
  ++pos_;  // "@"
  const char kind = pos_ < text_.size()
                        ? static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])))
                        : '\0';
  if (kind == 'P' || kind == 'K') {
    // Runs to the same letter that opened it, then an optional B.
    const char opener = text_[pos_];
    const size_t close = text_.find(opener, pos_ + 1);
    if (close == std::string_view::npos) return error_at(start);
    pos_ = close + 1;
    if (pos_ < text_.size() && (text_[pos_] == 'B' || text_[pos_] == 'b')) ++pos_;
  } else {
    int depth = 0;
    bool quoted = false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (kind == 'N' && c == '~') {
        quoted = !quoted;
      } else if (!quoted) {
        if (c == '(') {
          ++depth;
        } else if (c == ')') {
          if (depth == 0) break;
          --depth;
        } else if ((c == ' ' || c == '\t' || c == ',') && depth == 0) {
          break;
        }
      }
      ++pos_;
    }
  }
  Token t;
  t.type = TokenType::kPicture;
  t.offset = start;
  t.text = std::string(text_.substr(start, pos_ - start));
  if (t.text.size() < 2) return error_at(start);
  return t;
}

Token Scanner::scan_name(size_t start) {
  ++pos_;  // the first character, a letter, "_" or "?"
  while (pos_ < text_.size() && is_name_body(text_[pos_])) ++pos_;
  if (pos_ < text_.size() && (text_[pos_] == '#' || text_[pos_] == '$' || text_[pos_] == '"')) {
    ++pos_;
  }
  Token t;
  t.type = TokenType::kName;
  t.offset = start;
  t.text = std::string(text_.substr(start, pos_ - start));
  return t;
}

Token Scanner::scan_operator(size_t start) {
  const std::string_view rest = text_.substr(pos_);
  for (const OperatorSpelling& o : kOperators) {
    const std::string_view spelling(o.text);
    if (rest.starts_with(spelling)) {
      pos_ += spelling.size();
      Token t;
      t.type = TokenType::kOperator;
      t.op = o.op;
      t.offset = start;
      return t;
    }
  }
  ++pos_;
  return error_at(start);
}

}  // namespace vtn::eval
