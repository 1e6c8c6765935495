// FORMAT of numbers (@N, @E, @P) against the former layout code, kept here as the reference:
// the same display text for random digit strings of every length, point position and sign
// through a table of numeric pictures, and for random REALs through the REAL's digits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "runtime/format/picture.hpp"
#include "runtime/format/picture_detail.hpp"
#include "runtime/format/picture_format.hpp"
#include "support/differential_cases.hpp"

namespace vtn {
namespace {

namespace reference {

// Values beyond these many digits before or after the point cannot show in any picture.
constexpr int kDigitLimit = 400;

bool is_digit_cell(CellCode code) {
  return code == CellCode::kDigitZero || code == CellCode::kDigitBlank;
}

bool is_point_cell(CellCode code) {
  return code == CellCode::kDecimalPoint || code == CellCode::kImpliedPoint;
}

// What a digit cell prints for a leading zero.
char leading_fill(const PictureCell& cell) {
  return cell.code == CellCode::kDigitBlank ? ' ' : static_cast<char>(cell.fill);
}

// Adds one at the last digit of `digits`; true when the carry runs out of the first digit.
bool increment(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return false;
    }
    *it = '0';
  }
  return true;
}

struct SplitNumber {
  std::string integer;   // significant integer digits, no leading zeros
  std::string fraction;  // exactly the requested number of decimals
  bool too_large = false;
};

// Splits the number at its point and rounds it half up to `places` decimals.
SplitNumber split_and_round(const NumberDigits& number, int places) {
  SplitNumber s;
  const int size = static_cast<int>(number.digits.size());
  const int n = number.integer_digits;
  if (n > kDigitLimit) {
    s.too_large = true;
    return s;
  }
  if (n < -kDigitLimit) {
    s.fraction.assign(static_cast<size_t>(places), '0');
    return s;
  }
  for (int k = 0; k < n; ++k) s.integer += k < size ? number.digits[k] : '0';
  if (n < 0) s.fraction.assign(static_cast<size_t>(-n), '0');
  if (n < size) s.fraction.append(number.digits, static_cast<size_t>(std::max(n, 0)));

  if (static_cast<int>(s.fraction.size()) > places) {
    const bool round_up = s.fraction[static_cast<size_t>(places)] >= '5';
    s.fraction.resize(static_cast<size_t>(places));
    if (round_up) {
      std::string all = s.integer + s.fraction;
      if (increment(all)) all.insert(all.begin(), '1');
      s.integer = all.substr(0, all.size() - static_cast<size_t>(places));
      s.fraction = all.substr(all.size() - static_cast<size_t>(places));
    }
  } else {
    s.fraction.resize(static_cast<size_t>(places), '0');
  }
  const size_t first = s.integer.find_first_not_of('0');
  s.integer.erase(0, first == std::string::npos ? s.integer.size() : first);
  return s;
}

// One laid-out row of cells: the character each cell prints and whether it takes a position.
struct Row {
  char out[CompiledPicture::kMaxCells];
  bool shown[CompiledPicture::kMaxCells];
};

// Lays `number` into cells [0, end) of the picture.
void lay_number(const CompiledPicture& p, int end, const NumberDigits& number, bool overflow,
                Row& row) {
  int point = -1;
  for (int i = 0; i < end; ++i) {
    if (is_point_cell(p.cells[i].code)) {
      point = i;
      break;
    }
  }
  const int integer_end = point < 0 ? end : point;
  int integer_cells = 0;
  int decimal_cells = 0;
  for (int i = 0; i < end; ++i) {
    if (is_digit_cell(p.cells[i].code)) ++(i < integer_end ? integer_cells : decimal_cells);
  }

  SplitNumber s = split_and_round(number, decimal_cells);
  const bool zero = s.integer.empty() && s.fraction.find_first_not_of('0') == std::string::npos;
  overflow = overflow || s.too_large || static_cast<int>(s.integer.size()) > integer_cells;
  const bool negative = number.negative && (overflow || !zero);  // never "-0.00"

  // Digit cells, right to left for the integer part.
  int first_significant = end;
  int k = 0;  // integer digit position from the units digit
  int decimal_index = 0;
  for (int i = integer_end - 1; i >= 0; --i) {
    const PictureCell& cell = p.cells[i];
    if (!is_digit_cell(cell.code)) continue;
    if (overflow) {
      row.out[i] = '#';
      first_significant = i;
    } else if (k < static_cast<int>(s.integer.size())) {
      row.out[i] = s.integer[s.integer.size() - 1 - static_cast<size_t>(k)];
      first_significant = i;
    } else {
      row.out[i] = leading_fill(cell);
    }
    ++k;
  }
  for (int i = integer_end; i < end; ++i) {
    if (!is_digit_cell(p.cells[i].code)) continue;
    row.out[i] = overflow ? '#' : s.fraction[static_cast<size_t>(decimal_index)];
    ++decimal_index;
  }

  // Every other cell.
  for (int i = 0; i < end; ++i) {
    const PictureCell& cell = p.cells[i];
    row.shown[i] = true;
    switch (cell.code) {
      case CellCode::kDigitZero:
      case CellCode::kDigitBlank:
        break;
      case CellCode::kGrouping:
        if (first_significant < i) {
          row.out[i] = static_cast<char>(cell.fill);
        } else {
          // Before the first significant digit a separator shows its neighbour's fill.
          row.out[i] = (i + 1 < end && is_digit_cell(p.cells[i + 1].code))
                           ? leading_fill(p.cells[i + 1])
                           : ' ';
        }
        break;
      case CellCode::kSign:
        row.out[i] = negative ? static_cast<char>(cell.fill) : ' ';
        break;
      case CellCode::kImpliedPoint:
        row.out[i] = ' ';
        row.shown[i] = false;
        break;
      default:
        row.out[i] = static_cast<char>(cell.fill);
        break;
    }
  }

  // Floating currency and sign.
  const bool has_blank_digits = std::any_of(
      p.cells, p.cells + end, [](const PictureCell& c) { return c.code == CellCode::kDigitBlank; });
  if (!has_blank_digits) return;
  int lead_end = 0;
  while (lead_end < end && (p.cells[lead_end].code == CellCode::kCurrency ||
                            p.cells[lead_end].code == CellCode::kSign)) {
    ++lead_end;
  }
  if (lead_end == 0) return;
  char floating[CompiledPicture::kMaxCells];
  int floating_size = 0;
  for (int i = 0; i < lead_end; ++i) {
    if (row.out[i] != ' ') floating[floating_size++] = row.out[i];
    row.out[i] = ' ';
  }
  int first_printed = lead_end;
  while (first_printed < end && (!row.shown[first_printed] || row.out[first_printed] == ' ')) {
    ++first_printed;
  }
  int pos = first_printed - 1;
  for (int f = floating_size - 1; f >= 0; --f) {
    while (pos >= 0 && !row.shown[pos]) --pos;
    if (pos < 0) break;  // cannot happen: the leading cells themselves make room
    row.out[pos--] = floating[f];
  }
}

// The mantissa of @E: `integers` digits before the point, `places` after; the exponent is chosen
// so that the first integer digit is significant (with no integer digits, the first decimal).
NumberDigits scientific_mantissa(const NumberDigits& number, int integers, int places,
                                 int& exponent) {
  NumberDigits m;
  m.negative = number.negative;
  m.integer_digits = integers;
  const int total = integers + places;
  const size_t first = number.digits.find_first_not_of('0');
  exponent = 0;
  if (first == std::string::npos) {
    m.digits.assign(static_cast<size_t>(total), '0');
    m.negative = false;
    return m;
  }
  int first_power = number.integer_digits - 1 - static_cast<int>(first);
  m.digits = number.digits.substr(first);
  if (static_cast<int>(m.digits.size()) > total) {
    const bool round_up = m.digits[static_cast<size_t>(total)] >= '5';
    m.digits.resize(static_cast<size_t>(total));
    if (round_up && increment(m.digits)) {
      m.digits.insert(m.digits.begin(), '1');
      m.digits.resize(static_cast<size_t>(total));
      ++first_power;
    }
  }
  m.digits.resize(static_cast<size_t>(total), '0');
  exponent = first_power - (integers - 1);
  return m;
}

std::string collect(const Row& row, int count) {
  std::string out;
  out.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (row.shown[i]) out += row.out[i];
  }
  return out;
}

std::string format_numeric(const NumberDigits& number, const CompiledPicture& p, bool overflow) {
  Row row;
  const int count = p.cell_count;
  if (p.kind != PictureKind::kScientific) {
    lay_number(p, count, number, overflow, row);
    return collect(row, count);
  }

  // @E: sign, integer digits, point, decimals, then "E", the exponent sign and three digits.
  const int mantissa_end = count - 5;
  int integers = 0;
  int places = 0;
  bool after_point = false;
  for (int i = 0; i < mantissa_end; ++i) {
    if (is_point_cell(p.cells[i].code)) after_point = true;
    if (is_digit_cell(p.cells[i].code)) ++(after_point ? places : integers);
  }
  int exponent = 0;
  const NumberDigits mantissa = scientific_mantissa(number, integers, places, exponent);
  lay_number(p, mantissa_end, mantissa, overflow, row);
  const int magnitude = std::abs(exponent);
  for (int i = mantissa_end; i < count; ++i) {
    row.shown[i] = true;
    row.out[i] = static_cast<char>(p.cells[i].fill);
  }
  row.out[mantissa_end + 1] = exponent < 0 ? '-' : '+';
  for (int d = 0, power = 100; d < 3; ++d, power /= 10) {
    row.out[mantissa_end + 2 + d] =
        overflow || magnitude > 999 ? '#' : static_cast<char>('0' + magnitude / power % 10);
  }
  return collect(row, count);
}

}  // namespace reference

constexpr const char* kPictures[] = {
    "@N-12.2",  "@N12.2",   "@N$12.2",  "@N$-12.2", "@N(12.2)", "@N*12.2",    "@N-010.2",
    "@N$010.2", "@N-30.2",  "@N-30.22", "@N-6",     "@N-6v2",   "@N-8.2",     "@N12.2B",
    "@N12.2-",  "@N-12.2-", "@N_8",     "@N08_",    "@N010",    "@N0",        "@N",
    "@N2.2",    "@N6V2",    "@N12`2",   "@N~EUR12", "@N8~ kr~", "@N$12$",     "@N-(12)",
    "@N*8.2",   "@N255",    "@N-40.9",  "@N_12.4",  "@E12.2",   "@E12.1",     "@E12.0",
    "@E15_.4",  "@E12`1",   "@E15.`4",  "@E6.0",    "@E10.0",   "@P###-###P", "@P(###)###-####P",
    "@P##.##P", "@P<#.##P", "@P-##P"};

struct Generator {
  std::mt19937_64 random{16180339};

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

  // Digits skewed toward runs of 9 (carries when rounding) and 0, any point position, any sign.
  NumberDigits number() {
    NumberDigits n;
    const int size = 1 + below(below(4) == 0 ? 70 : 20);
    const int style = below(3);
    for (int i = 0; i < size; ++i) {
      int d = below(10);
      if (style == 1 && below(3) != 0) d = 9;
      if (style == 2 && below(3) != 0) d = 0;
      n.digits += static_cast<char>('0' + d);
    }
    n.integer_digits = below(8) == 0 ? below(900) - 450 : below(40) - 12;
    n.negative = below(2) == 0;
    return n;
  }

  double real() {
    return std::ldexp(static_cast<double>(random() >> 11) * (below(2) ? -1 : 1), below(140) - 100);
  }
};

TEST(PictureFormatDifferential, NumbersAgreeWithTheFormerLayout) {
  Generator g;
  // The table holds a few texts that do not compile; the others are the pictures to run.
  std::vector<CompiledPicture> pictures;
  std::vector<const char*> names;
  for (const char* text : kPictures) {
    CompiledPicture p;
    if (!compile_picture(text, p)) continue;
    pictures.push_back(p);
    names.push_back(text);
  }
  ASSERT_GE(pictures.size(), 35u);
  const int64_t cases = testing::differential_cases(1'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    const size_t which = static_cast<size_t>(g.below(static_cast<int>(pictures.size())));
    const CompiledPicture& p = pictures[which];
    const bool overflow = g.below(50) == 0;
    const NumberDigits number = g.below(2) == 0 ? g.number() : real_to_number_digits(g.real());
    ASSERT_EQ(picture_detail::format_numeric(number, p, overflow),
              reference::format_numeric(number, p, overflow))
        << names[which] << " digits " << number.digits << " integer digits "
        << number.integer_digits << (number.negative ? " negative" : "");
  }
}

}  // namespace
}  // namespace vtn
