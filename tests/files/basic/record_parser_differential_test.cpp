// The line parser against the parser it replaced (reference_line_parser.hpp): on random lines,
// under random syntaxes, windows and records of every field type, both must store the same bytes,
// stop at the same place and agree on whether the end of the record was passed.
//
// The lines are made of the pieces where the two could part: numbers of every shape (signs,
// points, exponents, more digits than a word holds), quoted texts with doubled quotes, cut at the
// capacity or not closed, delimiters, ends of records, blanks, Ctrl-Z and stray bytes.
// VTN_LONG_TESTS=1 runs ten times as many lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "reference_line_parser.hpp"
#include "runtime/files/basic/record_parser.hpp"

namespace vtn::basic {
namespace {

struct Syntax {
  const char* delimiter;
  const char* end_of_record;
  uint8_t quote;
  bool end_of_record_in_quote;
  bool ctrl_z_is_eof;
};

constexpr Syntax kSyntaxes[] = {
    {",", "\r\n", '"', true, true},  {",", "\r\n", '"', false, true},
    {",", "\r\n", '"', true, false}, {";", "\n", '\'', true, true},
    {"|", "\r", '"', false, false},  {"\t", "\r\n", '"', true, true},
    {" ", "\r\n", '"', true, true},  {"<>", "\r\n", '"', true, true},
    {",", "XY", '"', true, true},    {"\r", "\r\n", '"', true, true},
    {",", "\n", ',', true, true},    {",,", "\r\n", '"', false, true},
};

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(engine_() % n); }
  bool one_in(uint32_t n) { return below(n) == 0; }

 private:
  std::mt19937_64 engine_;
};

// A record of random fields, laid one after the other; some dimensioned.
FieldTable random_table(Random& r, uint32_t& record_size) {
  static constexpr ValueType kTypes[] = {
      ValueType::BYTE,     ValueType::SHORT,   ValueType::LONG,    ValueType::USHORT,
      ValueType::ULONG,    ValueType::DATE,    ValueType::TIME,    ValueType::REAL,
      ValueType::SREAL,    ValueType::BFLOAT4, ValueType::BFLOAT8, ValueType::DECIMAL,
      ValueType::PDECIMAL, ValueType::STRING,  ValueType::CSTRING, ValueType::PSTRING};
  FieldTable table;
  uint32_t offset = 0;
  for (uint32_t count = 1 + r.below(7); count > 0; --count) {
    TableField f;
    f.type = kTypes[r.below(std::size(kTypes))];
    switch (f.type) {
      case ValueType::BYTE:
        f.size = 1;
        break;
      case ValueType::SHORT:
      case ValueType::USHORT:
        f.size = 2;
        break;
      case ValueType::REAL:
      case ValueType::BFLOAT8:
        f.size = 8;
        break;
      case ValueType::DECIMAL:
      case ValueType::PDECIMAL:
        f.size = 1 + r.below(16);
        f.places = static_cast<uint8_t>(r.one_in(10) ? r.below(40) : r.below(2 * f.size));
        break;
      case ValueType::STRING:
      case ValueType::CSTRING:
      case ValueType::PSTRING:
        f.size = 1 + r.below(r.one_in(4) ? 60 : 12);
        break;
      default:
        f.size = 4;
        break;
    }
    f.offset = offset;
    f.elements = r.one_in(5) ? 2 + r.below(3) : 1;
    table.runs.push_back({static_cast<uint32_t>(table.fields.size()), offset, f.elements, f.size});
    table.value_count += f.elements;
    offset += f.total_size();
    table.fields.push_back(f);
  }
  record_size = offset;
  return table;
}

void append_digits(Random& r, std::string& out, uint32_t most) {
  for (uint32_t n = r.below(most + 1); n > 0; --n) out += static_cast<char>('0' + r.below(10));
}

// One piece of a line.
void append_piece(Random& r, const Syntax& syntax, std::string& out) {
  const char quote = static_cast<char>(syntax.quote);
  switch (r.below(12)) {
    case 0:
    case 1:
    case 2: {  // a number
      if (r.one_in(3)) out += r.one_in(4) ? '+' : '-';
      append_digits(r, out, r.one_in(8) ? 24 : 7);
      if (r.one_in(2)) {
        out += r.one_in(10) ? ',' : '.';
        append_digits(r, out, r.one_in(8) ? 24 : 5);
      }
      if (r.one_in(8)) {
        out += r.one_in(2) ? 'e' : 'E';
        if (r.one_in(2)) out += r.one_in(2) ? '-' : '+';
        append_digits(r, out, 3);
      }
      break;
    }
    case 3:
    case 4: {  // a quoted text
      out += quote;
      for (uint32_t n = r.below(r.one_in(4) ? 70 : 14); n > 0; --n) {
        const uint32_t k = r.below(20);
        if (k == 0)
          out += std::string(2, quote);
        else if (k == 1)
          out += syntax.delimiter;
        else if (k == 2 && r.one_in(3))
          out += syntax.end_of_record;
        else
          out += static_cast<char>('a' + r.below(26));
      }
      if (!r.one_in(10)) out += quote;
      break;
    }
    case 5:  // a bare text
      for (uint32_t n = r.below(r.one_in(4) ? 70 : 10); n > 0; --n)
        out += static_cast<char>(r.one_in(8) ? ' ' : 'A' + r.below(26));
      break;
    case 6:
    case 7:
    case 8:
      out += syntax.delimiter;
      break;
    case 9:
      out += r.one_in(3) ? syntax.end_of_record : "\n";
      break;
    case 10: {
      static constexpr char kBlanks[] = {' ', '\t', '\r'};
      for (uint32_t n = 1 + r.below(3); n > 0; --n) out += kBlanks[r.below(3)];
      break;
    }
    default: {
      static constexpr char kOdd[] = {26, '"', '\'', '.', '-', 'e', 0, '\xFF', '\n', '\r'};
      out += kOdd[r.below(std::size(kOdd))];
      break;
    }
  }
}

std::string hex(const std::vector<char>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    out += digits[static_cast<uint8_t>(c) >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c >= 32 && c < 127) {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<uint8_t>(c));
      out += escaped;
    }
  }
  return out;
}

TEST(RecordParserDifferential, AgreesWithTheParserItReplaced) {
  const char* long_tests = std::getenv("VTN_LONG_TESTS");
  const int lines = long_tests != nullptr && *long_tests == '1' ? 10000000 : 1000000;
  Random r(20261207);
  std::vector<LineSyntax> syntaxes;
  for (const Syntax& s : kSyntaxes)
    syntaxes.emplace_back(s.delimiter, s.end_of_record, s.quote, s.end_of_record_in_quote,
                          s.ctrl_z_is_eof);
  uint32_t record_size = 0;
  FieldTable table;
  for (int i = 0; i < lines; ++i) {
    if (i % 64 == 0) table = random_table(r, record_size);
    const size_t which = r.below(std::size(kSyntaxes));
    const LineSyntax& syntax = syntaxes[which];
    std::string line;
    for (uint32_t n = 1 + r.below(r.one_in(10) ? 40 : 12); n > 0; --n)
      append_piece(r, kSyntaxes[which], line);
    // The view's text, with the byte after it that every view has.
    std::vector<uint8_t> text(line.begin(), line.end());
    text.push_back(kCtrlZ);
    const TextView view{text.data(), line.size(), !r.one_in(4)};
    const size_t window =
        r.one_in(3) ? r.below(static_cast<uint32_t>(line.size() + 1)) : line.size();

    std::vector<char> cleared(record_size);
    for (char& c : cleared) c = static_cast<char>(r.one_in(2) ? ' ' : r.below(256));
    std::vector<char> ours = cleared, theirs = cleared;
    const ParsedLine got = parse_line(table, syntax, view, window, ours.data());
    const ParsedLine want = reference::parse_line(table, syntax, view, window, theirs.data());
    ASSERT_TRUE(got.used == want.used && got.end_consumed == want.end_consumed && ours == theirs)
        << "line \"" << printable(line) << "\" window " << window << " syntax " << which
        << "\nused " << got.used << " / " << want.used << ", end " << got.end_consumed << " / "
        << want.end_consumed << "\nrecord " << hex(ours) << "\n   was " << hex(theirs);
  }
}

}  // namespace
}  // namespace vtn::basic
