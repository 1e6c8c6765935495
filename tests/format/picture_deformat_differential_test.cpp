// DEFORMAT through numeric, scientific, pattern and key-in pictures against the former cell
// walk, kept here as the reference: random pictures (compiled from random picture texts, and
// random cell lists of up to 255 cells) read random texts (what FORMAT shows, then damaged,
// shortened or lengthened, and texts of any bytes). The pictures' sizes fall on every side of the
// cells the vector paths take in one pass (fourteen, sixteen, thirty-two).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/format/picture.hpp"
#include "runtime/format/picture_format.hpp"
#include "support/differential_cases.hpp"

namespace vtn {
namespace {

namespace reference {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

std::string deformat_cells(std::string_view text, const CompiledPicture& p) {
  char buffer[1 + 2 * CompiledPicture::kMaxCells];
  char* const kept = buffer + 1;
  int n = 0;
  bool negative = false;
  size_t t = 0;
  for (int i = 0; i < p.cell_count; ++i) {
    const CellCode code = p.cells[i].code;
    if (code == CellCode::kImpliedPoint) {
      kept[n++] = '.';  // takes no position in the text
      continue;
    }
    if (t >= text.size()) break;
    const char c = text[t++];
    switch (code) {
      case CellCode::kDigitBlank:
        if (c == ' ') {
          kept[n++] = '0';
          break;
        }
        [[fallthrough]];
      case CellCode::kDigitZero:
      case CellCode::kGrouping:
      case CellCode::kSign:
        if (c == '-' || c == '(') {
          negative = true;
        } else if (c == '+') {
          negative = false;
        } else if (is_digit(c)) {
          kept[n++] = c;
        }
        break;
      case CellCode::kDecimalPoint:
        kept[n++] = '.';
        break;
      case CellCode::kExponentSign:
        kept[n++] = 'e';
        kept[n++] = c == '-' ? '-' : '+';
        break;
      case CellCode::kAnyLetter:
      case CellCode::kUpperLetter:
      case CellCode::kLowerLetter:
      case CellCode::kAnyChar:
        kept[n++] = c;
        break;
      default:
        break;
    }
  }
  if (p.kind == PictureKind::kKeyIn || !negative) return std::string(kept, static_cast<size_t>(n));
  buffer[0] = '-';
  return std::string(buffer, static_cast<size_t>(n) + 1);
}

}  // namespace reference

struct Generator {
  std::mt19937_64 random{57721566};

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
  bool one_in(int n) { return below(n) == 0; }

  template <size_t N>
  const char* pick(const char* const (&choices)[N]) {
    return choices[below(static_cast<int>(N))];
  }

  // A picture text of the numeric, scientific, pattern or key-in kind; some do not compile.
  std::string picture_text() {
    static constexpr const char* kCurrency[] = {"", "", "", "$", "~EUR~", "~ kr~"};
    static constexpr const char* kLeadingSign[] = {"", "", "-", "("};
    static constexpr const char* kFill[] = {"", "", "0", "_", "*"};
    static constexpr const char* kGrouping[] = {"", "", ".", "`", "_", "-"};
    static constexpr const char* kPoint[] = {".", "`", "v", "V"};
    static constexpr const char* kPattern = "#<-()./ x9:";
    static constexpr const char* kKeyIn = "#<@^_?|\\-x ";
    std::string t;
    switch (below(4)) {
      case 0: {
        const std::string currency = pick(kCurrency);
        const std::string sign = pick(kLeadingSign);
        t = "@N" + (one_in(2) ? currency : "") + sign + pick(kFill) +
            std::to_string(1 + below(one_in(8) ? 254 : 30));
        if (!one_in(3)) t += std::string(pick(kGrouping)) + pick(kPoint) + std::to_string(below(6));
        if (sign.empty() && one_in(3)) t += "-";
        if (sign == "(") t += ")";
        if (one_in(3)) t += currency;
        if (one_in(6)) t += "B";
        break;
      }
      case 1:
        t = "@E" + std::to_string(7 + below(one_in(8) ? 240 : 20)) +
            (one_in(2) ? std::string(pick(kGrouping)) : "") + pick(kPoint) +
            std::to_string(below(6));
        break;
      case 2:
      case 3: {
        const char letter = below(2) == 0 ? 'P' : 'K';
        const char* alphabet = letter == 'P' ? kPattern : kKeyIn;
        t = std::string("@") + letter;
        const int length = 1 + below(one_in(8) ? 240 : 20);
        for (int i = 0; i < length; ++i)
          t += alphabet[below(static_cast<int>(std::strlen(alphabet)))];
        t += letter;
        break;
      }
    }
    return t;
  }

  // Cells of any code, up to the largest count, as no picture text makes them.
  CompiledPicture cell_list() {
    static constexpr PictureKind kKinds[] = {PictureKind::kNumeric, PictureKind::kScientific,
                                             PictureKind::kPattern, PictureKind::kKeyIn};
    static constexpr CellCode kCommon[] = {CellCode::kDigitZero, CellCode::kDigitBlank,
                                           CellCode::kGrouping,  CellCode::kDecimalPoint,
                                           CellCode::kSign,      CellCode::kLiteral};
    CompiledPicture p;
    p.kind = kKinds[below(4)];
    p.cell_count = static_cast<uint8_t>(1 + below(one_in(3) ? CompiledPicture::kMaxCells : 40));
    const bool rare_codes = one_in(2);
    for (int i = 0; i < p.cell_count; ++i) {
      p.cells[i].fill = static_cast<uint8_t>(below(256));
      p.cells[i].code = rare_codes && one_in(6)
                            ? static_cast<CellCode>(below(one_in(20) ? 256 : 24))  // even no code
                            : kCommon[below(static_cast<int>(std::size(kCommon)))];
    }
    return p;
  }

  // What DEFORMAT reads: for a compiled picture mostly what FORMAT shows, often damaged,
  // shortened or lengthened; otherwise any text.
  std::string text(const CompiledPicture& p, bool compiled) {
    static constexpr std::string_view kAlphabet = " -+()0123456789.,$*Ee#aZ~";
    std::string t;
    if (!compiled || one_in(4)) {
      const int length = below(300);
      for (int i = 0; i < length; ++i) {
        t += one_in(10) ? static_cast<char>(below(256))
                        : kAlphabet[static_cast<size_t>(below(kAlphabet.size()))];
      }
      return t;
    }
    const double value =
        std::ldexp(static_cast<double>(random() >> 11) * (one_in(2) ? -1 : 1), below(80) - 60);
    t = format_real(one_in(10) ? 0.0 : value, p);
    const int damage = one_in(2) ? 0 : below(4);
    for (int i = 0; i < damage && !t.empty(); ++i) {
      t[static_cast<size_t>(below(static_cast<int>(t.size())))] =
          kAlphabet[static_cast<size_t>(below(kAlphabet.size()))];
    }
    if (one_in(5)) t.resize(static_cast<size_t>(below(static_cast<int>(t.size()) + 1)));
    if (one_in(5)) t += std::string(static_cast<size_t>(below(20)), kAlphabet[below(6)]);
    return t;
  }
};

TEST(PictureDeformatDifferential, CellPicturesReadAsTheFormerWalk) {
  Generator g;
  const int64_t cases = testing::differential_cases(1'000'000);
  int64_t compiled = 0;
  for (int64_t i = 0; i < cases; ++i) {
    std::string picture_text;
    CompiledPicture p;
    if (g.one_in(3)) {
      p = g.cell_list();
    } else {
      picture_text = g.picture_text();
      if (!compile_picture(picture_text, p)) continue;
      ++compiled;
    }
    const std::string text = g.text(p, !picture_text.empty());
    ASSERT_EQ(deformat(text, p), reference::deformat_cells(text, p))
        << "picture \"" << picture_text << "\" (" << int{p.cell_count} << " cells) text \"" << text
        << "\"";
  }
  // Most random picture texts compile, so that the pictures users write are well covered.
  EXPECT_GT(compiled, cases / 3);
}

}  // namespace
}  // namespace vtn
