// Dates and times through @D and @T pictures.
//
// A run of equal date or time cells shows one field: month, day, hour, minute and second in two
// digits, the year in its last two digits (fewer than four cells) or all four. A leading zero
// prints the cell's fill. Month-name cells print the month's full name, one letter per cell; a
// name shorter than its cells closes up. On a picture with a day-part cell the hour follows the
// 12-hour clock and the day-part cell and the literal after it print the two letters of the mark.
#include <algorithm>

#include "runtime/format/date_names.hpp"
#include "runtime/format/picture_detail.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/char_tables.hpp"

namespace vtn::picture_detail {
namespace {

int run_end(const CompiledPicture& p, int start) {
  int end = start + 1;
  while (end < p.cell_count && p.cells[end].code == p.cells[start].code) ++end;
  return end;
}

// Prints `value` into cells [start, end): the last (end - start) digits, leading zeros as fill.
void print_field(const CompiledPicture& p, int start, int end, int value, std::string& out) {
  const int count = end - start;
  char digits[CompiledPicture::kMaxCells];
  for (int k = count - 1; k >= 0; --k) {
    digits[k] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  bool leading = true;
  for (int k = 0; k < count; ++k) {
    leading = leading && digits[k] == '0' && k < count - 1;
    out += leading ? printed_fill(p.cells[start + k].fill) : digits[k];
  }
}

void print_blank(int count, std::string& out) {
  out.append(static_cast<size_t>(count), ' ');
}

// A field of a date or time that is no date or time prints blank.
void print_field_or_blank(bool valid, const CompiledPicture& p, int start, int end, int value,
                          std::string& out) {
  if (valid) {
    print_field(p, start, end, value, out);
  } else {
    print_blank(end - start, out);
  }
}

// Pads with spaces to the picture's width (closed-up name cells leave room at the end).
std::string finish(const CompiledPicture& p, std::string out) {
  if (out.size() < static_cast<size_t>(p.cell_count)) out.resize(p.cell_count, ' ');
  return out;
}

}  // namespace

std::string format_date(int32_t serial, const CompiledPicture& p) {
  CalendarDate date;
  const bool valid = serial_to_date(serial, date) == 0;
  // The long month names print as written; every other picture shows them in capitals.
  const bool capitals = p.number != 4 && p.number != 18;
  std::string out;
  int i = 0;
  while (i < p.cell_count) {
    const PictureCell& cell = p.cells[i];
    const int end = run_end(p, i);
    switch (cell.code) {
      case CellCode::kMonth:
      case CellCode::kDay:
      case CellCode::kYear: {
        int value = cell.code == CellCode::kMonth ? date.month
                    : cell.code == CellCode::kDay ? date.day
                                                  : date.year;
        if (cell.code == CellCode::kYear && end - i < 4) value %= 100;
        print_field_or_blank(valid, p, i, end, value, out);
        break;
      }
      case CellCode::kMonthName: {
        if (!valid) {
          print_blank(end - i, out);
          break;
        }
        const std::string_view name = date_names().month_name(date.month);
        const size_t shown = std::min(name.size(), static_cast<size_t>(end - i));
        for (size_t k = 0; k < shown; ++k) {
          const auto c = static_cast<uint8_t>(name[k]);
          out += static_cast<char>(capitals ? to_upper_char(c) : c);
        }
        break;
      }
      default:
        for (int k = i; k < end; ++k) out += printed_fill(p.cells[k].fill);
        break;
    }
    i = end;
  }
  return finish(p, std::move(out));
}

std::string format_time(int32_t serial, const CompiledPicture& p) {
  ClockTime time;
  const bool valid = serial_to_time(serial, time) == 0;
  bool day_part = false;
  for (int i = 0; i < p.cell_count; ++i)
    day_part = day_part || p.cells[i].code == CellCode::kDayPart;
  const bool pm = time.hours >= 12;
  int hours = time.hours;
  if (day_part) {
    hours %= 12;
    if (hours == 0) hours = 12;
  }
  std::string_view mark;
  if (p.number == 7 || p.number == 8) {
    mark = locale_day_part(pm);
  } else {
    mark = date_names().day_part[pm ? 1 : 0];
  }

  std::string out;
  int i = 0;
  while (i < p.cell_count) {
    const PictureCell& cell = p.cells[i];
    const int end = run_end(p, i);
    switch (cell.code) {
      case CellCode::kHour:
      case CellCode::kMinute:
      case CellCode::kSecond: {
        const int value = cell.code == CellCode::kHour     ? hours
                          : cell.code == CellCode::kMinute ? time.minutes
                                                           : time.seconds;
        print_field_or_blank(valid, p, i, end, value, out);
        break;
      }
      case CellCode::kDayPart: {
        // The mark's first letter here, its second in the literal that follows.
        out += valid && !mark.empty() ? mark[0] : ' ';
        int next = i + 1;
        if (next < p.cell_count && p.cells[next].code == CellCode::kLiteral) {
          out += valid && mark.size() > 1 ? mark[1] : ' ';
          ++next;
        }
        i = next;
        continue;
      }
      default:
        for (int k = i; k < end; ++k) out += printed_fill(p.cells[k].fill);
        break;
    }
    i = end;
  }
  return finish(p, std::move(out));
}

}  // namespace vtn::picture_detail
