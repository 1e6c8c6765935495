// DEFORMAT: display text back to the plain text of its value.
//
// The cells and the text are walked side by side. Numbers keep their digits, the point and the
// sign that any sign, grouping or digit cell carries; dates and times read each field from the
// digits under its run of cells (a field typed shorter than its cells, as in "1/5/24", ends at
// the first non-digit, which the next cell then takes); month names are recognised by their
// first three letters. What does not fit the picture is skipped.
#include <algorithm>
#include <string>

#include "runtime/format/date_names.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/char_tables.hpp"

namespace vtn {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// @S: digits, one point, one exponent with its sign, and a leading minus.
std::string deformat_string(std::string_view text, const CompiledPicture& p) {
  text = text.substr(0, p.cell_count);
  std::string out;
  bool point = false;
  bool exponent = false;
  for (char c : text) {
    const bool after_e = !out.empty() && (out.back() == 'e' || out.back() == 'E');
    if (is_digit(c)) {
      out += c;
    } else if (c == '-' && (out.empty() || after_e)) {
      out += c;
    } else if (c == '+' && after_e) {
      out += c;
    } else if ((c == 'e' || c == 'E') && !exponent) {
      exponent = true;
      out += c;
    } else if (c == '.' && !point) {
      point = true;
      out += c;
    }
  }
  return out;
}

// @N, @E, @P and @K. The kept characters gather in a buffer behind a place for the sign: each
// cell keeps at most two.
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

int run_end(const CompiledPicture& p, int start) {
  int end = start + 1;
  while (end < p.cell_count && p.cells[end].code == p.cells[start].code) ++end;
  return end;
}

// Reads the digits under a run of `cells` cells: non-digits before the first digit are passed
// over, a non-digit after a digit ends the field and is left for the next cell. -1: no digit.
int read_field(std::string_view text, size_t& t, int cells) {
  int value = -1;
  for (int k = 0; k < cells && t < text.size(); ++k) {
    const char c = text[t];
    if (is_digit(c)) {
      value = (value < 0 ? 0 : value) * 10 + (c - '0');
      if (value > 99999) value = 99999;  // beyond any field; keeps DATE's carrying short
    } else if (value >= 0) {
      break;
    }
    ++t;
  }
  return value;
}

bool same_letter(char a, char b) {
  return to_upper_char(static_cast<uint8_t>(a)) == to_upper_char(static_cast<uint8_t>(b));
}

// A month name: its first three letters against the abbreviations, then the rest of the full
// name as far as the text spells it. 0 when no month matches.
int read_month_name(std::string_view text, size_t& t) {
  while (t < text.size() && text[t] == ' ') ++t;
  const DateNames& names = date_names();
  for (int m = 1; m <= 12; ++m) {
    const std::string_view abbreviation = names.month_abbreviation(m).substr(0, 3);
    if (abbreviation.empty() || text.size() - t < abbreviation.size()) continue;
    bool match = true;
    for (size_t k = 0; k < abbreviation.size() && match; ++k) {
      match = same_letter(text[t + k], abbreviation[k]);
    }
    if (!match) continue;
    t += abbreviation.size();
    const std::string_view name = names.month_name(m);
    for (size_t k = abbreviation.size(); k < name.size() && t < text.size(); ++k, ++t) {
      if (!same_letter(text[t], name[k])) break;
    }
    return m;
  }
  // Not a month: pass over the word.
  while (t < text.size() && text[t] != ' ' && !is_digit(text[t])) ++t;
  return 0;
}

std::string deformat_date(std::string_view text, const CompiledPicture& p) {
  int month = -1;
  int day = -1;
  int year = -1;
  size_t t = 0;
  int i = 0;
  while (i < p.cell_count && t < text.size()) {
    const CellCode code = p.cells[i].code;
    const int end = run_end(p, i);
    switch (code) {
      case CellCode::kMonth:
        month = read_field(text, t, end - i);
        break;
      case CellCode::kDay:
        day = read_field(text, t, end - i);
        break;
      case CellCode::kYear:
        year = read_field(text, t, end - i);
        break;
      case CellCode::kMonthName: {
        const int m = read_month_name(text, t);
        if (m > 0) month = m;
        break;
      }
      default:
        t += std::min(static_cast<size_t>(end - i), text.size() - t);
        break;
    }
    i = end;
  }
  if (month < 0 && day < 0 && year < 0) return "0";
  if (p.number >= 13 && p.number <= 16) day = 1;  // month and year only
  month = std::max(month, 0);
  day = std::max(day, 0);
  year = std::max(year, 0);
  if (year < 100) year = expand_two_digit_year(year, p.pivot);
  return std::to_string(DATE(month, day, year));
}

std::string deformat_time(std::string_view text, const CompiledPicture& p) {
  int fields[3] = {0, 0, 0};  // hours, minutes, seconds
  int day_part = 0;           // 1 AM, 2 PM
  const bool locale_marks = p.number == 7 || p.number == 8;
  const std::string_view am = locale_marks ? locale_day_part(false) : date_names().day_part[0];
  const std::string_view pm = locale_marks ? locale_day_part(true) : date_names().day_part[1];
  size_t t = 0;
  int i = 0;
  while (i < p.cell_count && t < text.size()) {
    const CellCode code = p.cells[i].code;
    const int end = run_end(p, i);
    switch (code) {
      case CellCode::kHour:
      case CellCode::kMinute:
      case CellCode::kSecond: {
        const int value = read_field(text, t, end - i);
        if (value >= 0) fields[static_cast<int>(code) - static_cast<int>(CellCode::kHour)] = value;
        break;
      }
      case CellCode::kDayPart: {
        const char c = text[t];
        if (!pm.empty() && same_letter(c, pm[0])) {
          day_part = 2;
        } else if (!am.empty() && same_letter(c, am[0])) {
          day_part = 1;
        }
        t += std::min(static_cast<size_t>(end - i), text.size() - t);
        break;
      }
      default:
        t += std::min(static_cast<size_t>(end - i), text.size() - t);
        break;
    }
    i = end;
  }
  int& hours = fields[0];
  if (day_part == 2 && hours != 12) hours += 12;
  if (day_part == 1 && hours == 12) hours = 0;
  if (hours > 23 || fields[1] > 59 || fields[2] > 59) return "-1";
  if (hours == 0 && fields[1] == 0 && fields[2] == 0) return "0";
  return std::to_string(hours * 360000 + fields[1] * 6000 + fields[2] * 100 + 1);
}

}  // namespace

std::string deformat(std::string_view text, const CompiledPicture& p) {
  switch (p.kind) {
    case PictureKind::kString:
      return deformat_string(text, p);
    case PictureKind::kDate:
      return deformat_date(text, p);
    case PictureKind::kTime:
      return deformat_time(text, p);
    default:
      return deformat_cells(text, p);
  }
}

}  // namespace vtn
