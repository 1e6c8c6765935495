// The picture compiler: picture text -> cells.
//
// Every kind follows one shape: an optional "@", the kind letter, a kind-specific grammar, and an
// optional trailing "B" (blank when zero). Numbers in the grammar are runs of decimal digits; a
// character left over where the grammar ends makes the picture fail, and a failed picture is all
// zero.
#include <algorithm>
#include <string>

#include "runtime/format/picture.hpp"

namespace vtn {
namespace {

constexpr size_t kMaxBody = 254;  // characters after the "@"

// Date and time layouts. Letters: M/m month, D/d day, H/h hour (upper case blank filled in the
// tens place, lower case zero filled), y year, s second, N month-name letter, X day-part mark.
// "/", "," and ":" are separator cells, "~" a separator cell holding a space, " " and "M" after
// "X" literals.
constexpr std::string_view kDateLayouts[17] = {
    "",                       // @D0 does not exist
    "Mm/dd/yy",               // 1
    "Mm/dd/yyyy",             // 2
    "NNN Dd,yyyy",            // 3
    "NNNNNNNNNNNN Dd, yyyy",  // 4
    "Dd/mm/yy",               // 5
    "Dd/mm/yyyy",             // 6
    "Dd~NNN~yy",              // 7
    "Dd~NNN~yyyy",            // 8
    "yy/mm/dd",               // 9
    "yyyy/mm/dd",             // 10
    "yymmdd",                 // 11
    "yyyymmdd",               // 12
    "mm/yy",                  // 13
    "mm/yyyy",                // 14
    "yy/mm",                  // 15
    "yyyy/mm",                // 16
};

constexpr std::string_view kTimeLayouts[7] = {
    "",            // @T0 does not exist
    "Hh:mm",       // 1
    "Hhmm",        // 2
    "Hh:mmXM",     // 3
    "Hh:mm:ss",    // 4
    "Hhmmss",      // 5
    "Hh:mm:ssXM",  // 6
};

PictureCell layout_cell(char c, bool time, char previous) {
  switch (c) {
    case 'M':
      if (time && previous == 'X') return {'M', CellCode::kLiteral};
      return {' ', CellCode::kMonth};
    case 'm':
      return {'0', time ? CellCode::kMinute : CellCode::kMonth};
    case 'D':
      return {' ', CellCode::kDay};
    case 'd':
      return {'0', CellCode::kDay};
    case 'y':
      return {'0', CellCode::kYear};
    case 'N':
      return {' ', CellCode::kMonthName};
    case 'H':
      return {' ', CellCode::kHour};
    case 'h':
      return {'0', CellCode::kHour};
    case 's':
      return {'0', CellCode::kSecond};
    case 'X':
      return {' ', CellCode::kDayPart};
    case '~':
      return {' ', CellCode::kSeparator};
    case '/':
    case ',':
    case ':':
      return {static_cast<uint8_t>(c), CellCode::kSeparator};
    default:
      return {static_cast<uint8_t>(c), CellCode::kLiteral};
  }
}

void apply_layout(std::string_view layout, bool time, CompiledPicture& p) {
  char previous = 0;
  for (char c : layout) {
    p.cells[p.cell_count++] = layout_cell(c, time, previous);
    previous = c;
  }
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The separator characters of @D and @T: "." point, "-" hyphen, "_" space, "`" comma.
int separator_for(char c) {
  switch (c) {
    case '.':
      return '.';
    case '-':
      return '-';
    case '_':
      return ' ';
    case '`':
      return ',';
    default:
      return -1;
  }
}

bool is_fill(char c) {
  return c == '0' || c == '_' || c == '*';
}

// A left-to-right reader over the picture body.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool at_end() const { return pos_ >= text_.size(); }
  char peek(size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  bool take(char c) {
    if (peek() != c || at_end()) return false;
    ++pos_;
    return true;
  }
  void skip() { ++pos_; }
  // A run of decimal digits; -1 when there is none. Large runs saturate, so they fail any limit.
  int number() {
    if (!is_digit(peek())) return -1;
    int value = 0;
    while (is_digit(peek())) {
      value = std::min(value * 10 + (peek() - '0'), 100000);
      ++pos_;
    }
    return value;
  }
  std::string_view rest() const { return text_.substr(std::min(pos_, text_.size())); }
  size_t position() const { return pos_; }
  void set_position(size_t pos) { pos_ = pos; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

bool only_spaces(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

bool is_date_or_time_digit(CellCode code) {
  switch (code) {
    case CellCode::kMonth:
    case CellCode::kDay:
    case CellCode::kYear:
    case CellCode::kMonthName:
    case CellCode::kHour:
    case CellCode::kMinute:
    case CellCode::kSecond:
      return true;
    default:
      return false;
  }
}

bool compile_string(Reader& r, CompiledPicture& p) {
  const int n = r.number();
  if (n < 1 || n > 255 || !only_spaces(r.rest())) return false;
  p.kind = PictureKind::kString;
  p.family = kFamilyText;
  p.cell_count = static_cast<uint8_t>(n);
  return true;
}

// Applies a fill and a separator given after the kind letter to the cells of a date or time.
void apply_date_time_modifiers(int fill, int separator, CompiledPicture& p) {
  for (int i = 0; i < p.cell_count; ++i) {
    PictureCell& cell = p.cells[i];
    if (separator >= 0 && cell.code == CellCode::kSeparator) {
      cell.fill = static_cast<uint8_t>(separator);
    }
    if (fill >= 0 && is_date_or_time_digit(cell.code)) cell.fill = static_cast<uint8_t>(fill);
  }
}

void copy_cells(const CompiledPicture& from, CompiledPicture& to) {
  to.cell_count = from.cell_count;
  std::copy(from.cells, from.cells + from.cell_count, to.cells);
}

bool compile_date(Reader& r, CompiledPicture& p) {
  int fill = -1;
  if (is_fill(r.peek())) {
    fill = r.peek();
    r.skip();
  }
  const int n = r.number();
  if (n < 1 || n > 18) return false;
  int pivot = CompiledPicture::kDefaultPivot;
  if (r.peek() == '<' || r.peek() == '>') {
    const bool ahead = r.peek() == '<';
    r.skip();
    int k = r.number();
    if (k > 99) return false;  // a pivot is a two-digit year
    if (k <= 0) k = 0;
    pivot = ahead ? (k == 0 ? 80 : k) : (k == 0 ? 19 : 99 - k);
  }
  int separator = -1;
  if (!r.at_end()) {
    separator = separator_for(r.peek());
    if (separator < 0) return false;
    r.skip();
  }
  if (!r.at_end()) return false;

  p.kind = PictureKind::kDate;
  p.family = kFamilyDateTime;
  p.number = static_cast<uint8_t>(n);
  p.pivot = static_cast<uint8_t>(pivot);
  if (n == 17) {
    copy_cells(locale_picture(LocalePicture::kShortDate), p);
  } else if (n == 18) {
    copy_cells(locale_picture(LocalePicture::kLongDate), p);
  } else {
    apply_layout(kDateLayouts[n], false, p);
  }
  apply_date_time_modifiers(fill, separator, p);
  return true;
}

bool compile_time(std::string_view body, CompiledPicture& p) {
  // The separator is taken from the end, so that "@T_1" is a fill and "@T1_" a separator.
  int separator = -1;
  if (!body.empty() && separator_for(body.back()) >= 0) {
    separator = separator_for(body.back());
    body.remove_suffix(1);
  }
  Reader r(body);
  int fill = -1;
  if (is_fill(r.peek())) {
    fill = r.peek();
    r.skip();
  }
  const int n = r.number();
  if (n < 1 || n > 8 || !r.at_end()) return false;

  p.kind = PictureKind::kTime;
  p.family = kFamilyDateTime;
  p.number = static_cast<uint8_t>(n);
  if (n == 7) {
    copy_cells(locale_picture(LocalePicture::kShortTime), p);
  } else if (n == 8) {
    copy_cells(locale_picture(LocalePicture::kLongTime), p);
  } else {
    apply_layout(kTimeLayouts[n], true, p);
  }
  apply_date_time_modifiers(fill, separator, p);
  return true;
}

// A currency text: "$" or "~text~". Returns false on an unclosed "~".
bool read_currency(Reader& r, std::string& currency, bool& present) {
  if (r.take('$')) {
    currency = "$";
    present = true;
  } else if (r.take('~')) {
    const std::string_view rest = r.rest();
    const size_t close = rest.find('~');
    if (close == std::string_view::npos) return false;
    currency = std::string(rest.substr(0, close));
    r.set_position(r.position() + close + 1);
    present = true;
  }
  return true;
}

bool is_grouping_char(char c) {
  return c == '.' || c == '`' || c == '_';
}
bool is_decimal_char(char c) {
  return c == '.' || c == '`' || c == 'v' || c == 'V';
}

uint8_t printed_group_char(char c) {
  switch (c) {
    case '`':
      return ',';
    case '_':
      return ' ';
    default:
      return static_cast<uint8_t>(c);
  }
}

bool compile_numeric(Reader& r, CompiledPicture& p) {
  std::string lead_currency;
  bool has_lead_currency = false;
  if (!read_currency(r, lead_currency, has_lead_currency)) return false;

  char lead_sign = 0;
  if (r.peek() == '-' || r.peek() == '(') {
    lead_sign = r.peek();
    r.skip();
  }
  char fill = 0;
  if (is_fill(r.peek())) {
    fill = r.peek();
    r.skip();
  }
  const int width = r.number();
  if (width < 1 || width > 254) return false;

  char grouping = 0;
  if (is_grouping_char(r.peek()) && is_decimal_char(r.peek(1))) {
    grouping = r.peek();
    r.skip();
  } else if (r.peek() == '_') {
    grouping = '_';
    r.skip();
  }
  char decimal = 0;
  int places = 0;
  if (is_decimal_char(r.peek())) {
    decimal = r.peek();
    r.skip();
    places = std::max(r.number(), 0);
    if (places > 254) return false;
  }
  char trail_sign = 0;
  if (lead_sign == 0 && r.take('-')) trail_sign = '-';
  if (lead_sign == '(') {
    if (!r.take(')')) return false;
    trail_sign = ')';
  }
  std::string trail_currency;
  bool has_trail_currency = false;
  if (!has_lead_currency && !read_currency(r, trail_currency, has_trail_currency)) return false;
  if (!r.at_end()) return false;

  const bool implied = decimal == 'v' || decimal == 'V';
  const bool point_cell = places > 0 && !implied;
  const int lead_cells = static_cast<int>(lead_currency.size()) + (lead_sign ? 1 : 0);
  const int trail_cells = static_cast<int>(trail_currency.size()) + (trail_sign ? 1 : 0);
  const int digit_room = width - lead_cells - trail_cells - places - (point_cell ? 1 : 0);
  if (digit_room < 0) return false;

  const bool group =
      grouping != 0 || fill == 0 || fill == '*';  // "0" and "_" fills group only when asked
  uint8_t group_char = ',';
  if (grouping != 0) {
    group_char = printed_group_char(grouping);
  } else if (fill == '*') {
    group_char = '*';
  } else if (decimal == '`') {
    group_char = '.';
  }
  const bool blank_digits = fill == 0 || fill == '_';
  const PictureCell digit = blank_digits
                                ? PictureCell{' ', CellCode::kDigitBlank}
                                : PictureCell{static_cast<uint8_t>(fill), CellCode::kDigitZero};

  // Laid out right to left into a scratch row, then copied in display order.
  PictureCell row[CompiledPicture::kMaxCells];
  int n = 0;
  for (auto it = trail_currency.rbegin(); it != trail_currency.rend(); ++it) {
    row[n++] = {static_cast<uint8_t>(*it), CellCode::kCurrency};
  }
  if (trail_sign) row[n++] = {static_cast<uint8_t>(trail_sign), CellCode::kSign};
  for (int i = 0; i < places; ++i) row[n++] = {'0', CellCode::kDigitZero};
  if (places > 0) {
    row[n++] = implied ? PictureCell{'.', CellCode::kImpliedPoint}
                       : PictureCell{static_cast<uint8_t>(decimal == '`' ? ',' : '.'),
                                     CellCode::kDecimalPoint};
  }
  for (int k = 1; k <= digit_room; ++k) {
    if (k == 1) {
      row[n++] = implied ? PictureCell{' ', CellCode::kDigitBlank}
                         : PictureCell{'0', CellCode::kDigitZero};
    } else if (group && k % 4 == 0) {
      row[n++] = {group_char, CellCode::kGrouping};
    } else {
      row[n++] = digit;
    }
  }
  if (lead_sign) row[n++] = {static_cast<uint8_t>(lead_sign), CellCode::kSign};
  for (auto it = lead_currency.rbegin(); it != lead_currency.rend(); ++it) {
    row[n++] = {static_cast<uint8_t>(*it), CellCode::kCurrency};
  }

  p.kind = PictureKind::kNumeric;
  p.family = kFamilyNumber;
  p.cell_count = static_cast<uint8_t>(n);
  std::reverse_copy(row, row + n, p.cells);
  return true;
}

bool compile_scientific(Reader& r, CompiledPicture& p) {
  const int width = r.number();
  if (width < 7 || width > 254) return false;
  char grouping = 0;
  if (is_grouping_char(r.peek()) && (r.peek(1) == '.' || r.peek(1) == '`')) {
    grouping = r.peek();
    r.skip();
  }
  const char decimal = r.peek();
  if (decimal != '.' && decimal != '`') return false;
  r.skip();
  // No integer digits is allowed: the mantissa is then a fraction (".12345E+004"), which is why
  // the narrowest picture is seven cells wide.
  const int integers = r.number();
  if (integers < 0 || !r.at_end()) return false;
  const int separators = grouping && integers > 0 ? (integers - 1) / 3 : 0;
  if (width < integers + separators + 7) return false;

  // With grouping on, the separator follows the decimal character as in @N: "," after a point,
  // "." after a comma; "_" asks for a space.
  const uint8_t group_char = grouping == '_' ? ' ' : (decimal == '`' ? '.' : ',');
  int n = 0;
  p.cells[n++] = {'-', CellCode::kSign};
  for (int k = integers; k >= 1; --k) {
    p.cells[n++] =
        k == 1 ? PictureCell{'0', CellCode::kDigitZero} : PictureCell{' ', CellCode::kDigitBlank};
    if (grouping && k > 1 && (k - 1) % 3 == 0) p.cells[n++] = {group_char, CellCode::kGrouping};
  }
  p.cells[n++] = {static_cast<uint8_t>(decimal == '`' ? ',' : '.'), CellCode::kDecimalPoint};
  while (n < width - 5) p.cells[n++] = {'0', CellCode::kDigitZero};
  p.cells[n++] = {'E', CellCode::kLiteral};
  p.cells[n++] = {'+', CellCode::kExponentSign};
  for (int i = 0; i < 3; ++i) p.cells[n++] = {'0', CellCode::kDigitZero};

  p.kind = PictureKind::kScientific;
  p.family = kFamilyScientific;
  p.cell_count = static_cast<uint8_t>(n);
  return true;
}

char upper_ascii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// @P...P and @K...K: the body must close with the letter it opened with.
bool compile_pattern(std::string_view body, bool key_in, CompiledPicture& p) {
  if (body.size() < 2 || upper_ascii(body.back()) != upper_ascii(body.front())) return false;
  const std::string_view inner = body.substr(1, body.size() - 2);
  int n = 0;
  for (size_t i = 0; i < inner.size(); ++i) {
    const char c = inner[i];
    PictureCell cell{static_cast<uint8_t>(c), CellCode::kLiteral};
    if (c == '#') {
      cell = {'0', CellCode::kDigitZero};
    } else if (c == '<') {
      cell = {' ', CellCode::kDigitBlank};
    } else if (key_in) {
      switch (c) {
        case '@':
          cell = {' ', CellCode::kAnyLetter};
          break;
        case '^':
          cell = {' ', CellCode::kUpperLetter};
          break;
        case '_':
          cell = {' ', CellCode::kLowerLetter};
          break;
        case '?':
          cell = {' ', CellCode::kAnyChar};
          break;
        case '|':
          cell = {' ', CellCode::kStopMark};
          break;
        case '\\':
          if (i + 1 < inner.size()) ++i;
          cell = {static_cast<uint8_t>(inner[i]), CellCode::kLiteral};
          break;
        default:
          break;
      }
    }
    p.cells[n++] = cell;
  }
  p.kind = key_in ? PictureKind::kKeyIn : PictureKind::kPattern;
  p.family = key_in ? kFamilyText : kFamilyNumber;
  p.cell_count = static_cast<uint8_t>(n);
  return true;
}

bool compile_body(std::string_view body, CompiledPicture& p) {
  Reader r(body.substr(1));
  switch (upper_ascii(body[0])) {
    case 'S':
      return compile_string(r, p);
    case 'D':
      return compile_date(r, p);
    case 'T':
      return compile_time(body.substr(1), p);
    case 'N':
      return compile_numeric(r, p);
    case 'E':
      return compile_scientific(r, p);
    case 'P':
      return compile_pattern(body, false, p);
    case 'K':
      return compile_pattern(body, true, p);
    default:
      return false;
  }
}

}  // namespace

int CompiledPicture::display_width() const {
  if (kind == PictureKind::kString || kind == PictureKind::kKeyIn) return cell_count;
  int width = cell_count;
  for (int i = 0; i < cell_count; ++i) {
    if (cells[i].code == CellCode::kImpliedPoint) --width;
  }
  return width;
}

bool compile_picture(std::string_view text, CompiledPicture& picture) {
  picture = CompiledPicture{};
  std::string_view body = text;
  while (!body.empty() && body.back() == ' ') body.remove_suffix(1);
  if (body.empty()) {
    // A null picture shows text as it is.
    picture.kind = PictureKind::kString;
    picture.family = kFamilyText;
    picture.cell_count = 255;
    picture.source = text;
    return true;
  }
  if (body.front() == '@') body.remove_prefix(1);
  if (body.empty() || body.size() > kMaxBody) return false;
  bool blank = false;
  if (body.back() == 'B' || body.back() == 'b') {
    blank = true;
    body.remove_suffix(1);
  }
  if (body.size() < 2) return false;

  CompiledPicture compiled;
  if (!compile_body(body, compiled)) return false;
  picture = compiled;
  picture.blank = blank;
  picture.source = text;
  return true;
}

}  // namespace vtn
