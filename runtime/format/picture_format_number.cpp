// Numbers through @N, @E and @P pictures.
//
// The number arrives as a digit string with its count of integer digits and its sign. It is
// rounded half up at the picture's decimal digit cells, then laid into the digit cells
// right-aligned on the decimal point. Leading zeros print the cell's fill, grouping separators
// print only after a significant digit, sign cells only for a negative value. In pictures with
// blank-filled digit cells the leading currency and sign float right to stand just before the
// first printed digit.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/format/picture_detail.hpp"
#include "runtime/values/number_text.hpp"

namespace vtn {
namespace picture_detail {
namespace {

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
  if (n > 0) {
    s.integer.assign(number.digits, 0, static_cast<size_t>(std::min(n, size)));
    s.integer.append(static_cast<size_t>(std::max(n - size, 0)), '0');
  }
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
  char out[CompiledPicture::kMaxCells];
  size_t n = 0;
  for (int i = 0; i < count; ++i) {
    out[n] = row.out[i];
    n += row.shown[i] ? 1 : 0;
  }
  return std::string(out, n);
}

}  // namespace

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

}  // namespace picture_detail

NumberDigits real_to_number_digits(double value) {
  NumberDigits n;
  if (value == 0 || !std::isfinite(value)) {
    n.digits.assign(1, '0');
    n.integer_digits = 1;
    return n;
  }
  const RealDigits r = real_digits(std::fabs(value));
  n.negative = value < 0;
  char digits[RealDigits::kCount];
  write_real_digits(r.digits, digits);
  n.digits.assign(digits, RealDigits::kCount);
  n.integer_digits = r.exponent + 1;
  return n;
}

}  // namespace vtn
