// The locale pictures @D17, @D18, @T7 and @T8, built from the Windows international settings.
//
// Short date ("sShortDate", e.g. "MM/dd/yy" or "dd.MM.yyyy"): three fields in the order given by
// the text's first letter, separated by the character after the last "M". Long date
// ("sLongDate", e.g. "ddd', 'MMMM' 'dd', 'yyyy"): the fields and the text between them as written,
// without the day of the week. Times: hours (tens zero filled when iTLzero is on), the "sTime"
// separator, minutes, for the long time seconds, and on a 12-hour clock (iTime 0) a space, the
// day-part cell and a literal that prints the second letter of the mark.
#include <algorithm>
#include <string>

#include "runtime/format/intl_settings.hpp"
#include "runtime/format/picture.hpp"

namespace vtn {
namespace {

struct LocalePictures {
  bool built = false;
  CompiledPicture pictures[4];
  std::string am;
  std::string pm;
};

LocalePictures& state() {
  static LocalePictures s;
  return s;
}

LocalePictures& built_state() {
  LocalePictures& s = state();
  if (!s.built) build_locale_pictures();
  return s;
}

class CellWriter {
 public:
  explicit CellWriter(CompiledPicture& p) : p_(p) {}
  void add(CellCode code, uint8_t fill) {
    if (p_.cell_count < CompiledPicture::kMaxCells) p_.cells[p_.cell_count++] = {fill, code};
  }
  void add_run(CellCode code, uint8_t fill, int count) {
    for (int i = 0; i < count; ++i) add(code, fill);
  }

 private:
  CompiledPicture& p_;
};

CompiledPicture date_picture(uint8_t number) {
  CompiledPicture p;
  p.kind = PictureKind::kDate;
  p.family = kFamilyDateTime;
  p.pivot = CompiledPicture::kDefaultPivot;
  p.number = number;
  return p;
}

// Field order from the first letter: "d" day-month-year, "y" year-month-day, else month-day-year.
enum class Field : uint8_t { kMonth, kDay, kYear };

void order_from(char first, Field order[3]) {
  if (first == 'd') {
    order[0] = Field::kDay, order[1] = Field::kMonth, order[2] = Field::kYear;
  } else if (first == 'y') {
    order[0] = Field::kYear, order[1] = Field::kMonth, order[2] = Field::kDay;
  } else {
    order[0] = Field::kMonth, order[1] = Field::kDay, order[2] = Field::kYear;
  }
}

// Cells of one field of the long date for a run of `count` equal letters.
void add_long_field(CellWriter& w, char letter, int count) {
  switch (letter) {
    case 'M':
      if (count == 1) {
        w.add(CellCode::kMonth, ' ');
        w.add(CellCode::kMonth, '0');
      } else if (count == 2) {
        w.add_run(CellCode::kMonth, '0', 2);
      } else {
        w.add_run(CellCode::kMonthName, ' ', count == 3 ? 3 : 9);
      }
      break;
    case 'd':
      w.add(CellCode::kDay, count >= 2 ? '0' : ' ');
      w.add(CellCode::kDay, '0');
      break;
    default:  // 'y'
      w.add_run(CellCode::kYear, '0', std::min(count, 4));
      break;
  }
}

bool is_field_letter(char c) {
  return c == 'M' || c == 'd' || c == 'y';
}

}  // namespace

CompiledPicture build_short_date_picture(std::string_view text) {
  CompiledPicture p = date_picture(17);
  Field order[3];
  order_from(text.empty() ? 'M' : text.front(), order);
  const size_t last_m = text.rfind('M');
  const uint8_t separator = (last_m != std::string_view::npos && last_m + 1 < text.size())
                                ? static_cast<uint8_t>(text[last_m + 1])
                                : '/';
  const bool day_zero = text.find("dd") != std::string_view::npos;
  const bool month_zero = text.find("MM") != std::string_view::npos;
  const int year_cells = text.find("yyy") != std::string_view::npos ? 4 : 2;

  CellWriter w(p);
  for (int i = 0; i < 3; ++i) {
    if (i > 0) w.add(CellCode::kSeparator, separator);
    switch (order[i]) {
      case Field::kMonth:
        w.add(CellCode::kMonth, month_zero ? '0' : ' ');
        w.add(CellCode::kMonth, '0');
        break;
      case Field::kDay:
        w.add(CellCode::kDay, day_zero ? '0' : ' ');
        w.add(CellCode::kDay, '0');
        break;
      case Field::kYear:
        w.add_run(CellCode::kYear, '0', year_cells);
        break;
    }
  }
  return p;
}

CompiledPicture build_long_date_picture(std::string_view text) {
  CompiledPicture p = date_picture(18);
  CellWriter w(p);
  bool seen_field = false;
  std::string pending;  // text since the last field, shown before the next one
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\'') {
      // Quoted text: '' inside stands for one quote.
      ++i;
      std::string quoted;
      while (i < text.size()) {
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            quoted += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        quoted += text[i++];
      }
      if (seen_field) pending += quoted;
      continue;
    }
    if (is_field_letter(c)) {
      size_t run = i;
      while (run < text.size() && text[run] == c) ++run;
      const int count = static_cast<int>(run - i);
      i = run;
      if (c == 'd' && count >= 3) {
        // The day of the week is not shown; nor is the text that led up to it.
        pending.clear();
        continue;
      }
      for (char s : pending) w.add(CellCode::kSeparator, static_cast<uint8_t>(s));
      pending.clear();
      add_long_field(w, c, count);
      seen_field = true;
      continue;
    }
    if (seen_field) pending += c;
    ++i;
  }
  for (char s : pending) w.add(CellCode::kSeparator, static_cast<uint8_t>(s));
  return p;
}

CompiledPicture build_time_picture(bool with_seconds, bool leading_zero, char separator,
                                   bool twelve_hour) {
  CompiledPicture p;
  p.kind = PictureKind::kTime;
  p.family = kFamilyDateTime;
  p.number = with_seconds ? 8 : 7;
  CellWriter w(p);
  const auto sep = static_cast<uint8_t>(separator);
  w.add(CellCode::kHour, leading_zero ? '0' : ' ');
  w.add(CellCode::kHour, '0');
  w.add(CellCode::kSeparator, sep);
  w.add_run(CellCode::kMinute, '0', 2);
  if (with_seconds) {
    w.add(CellCode::kSeparator, sep);
    w.add_run(CellCode::kSecond, '0', 2);
  }
  if (twelve_hour) {
    w.add(CellCode::kLiteral, ' ');
    w.add(CellCode::kDayPart, ' ');
    w.add(CellCode::kLiteral, 'M');
  }
  return p;
}

void build_locale_pictures() {
  const IntlSettings& intl = intl_settings();
  LocalePictures& s = state();
  const char separator = intl.s_time.empty() ? ':' : intl.s_time.front();
  const bool leading_zero = intl.i_tlzero != 0;
  const bool twelve_hour = intl.i_time == 0;
  s.pictures[0] = build_short_date_picture(intl.s_short_date);
  s.pictures[1] = build_long_date_picture(intl.s_long_date);
  s.pictures[2] = build_time_picture(false, leading_zero, separator, twelve_hour);
  s.pictures[3] = build_time_picture(true, leading_zero, separator, twelve_hour);
  s.am = intl.s1159.substr(0, 2);
  s.pm = intl.s2359.substr(0, 2);
  s.built = true;
}

const CompiledPicture& locale_picture(LocalePicture which) {
  return built_state().pictures[static_cast<int>(which)];
}

std::string_view locale_day_part(bool pm) {
  const LocalePictures& s = built_state();
  return pm ? s.pm : s.am;
}

}  // namespace vtn
