// The picture texts that entry fields show the user for date and time pictures.
#include "runtime/format/picture.hpp"

namespace vtn {
namespace {

constexpr std::string_view kTimeTexts[] = {
    "",            // @T0
    "hh:mm",       // @T1
    "hhmm",        // @T2
    "Hh:mmPP",     // @T3
    "hh:mm:ss",    // @T4
    "hhmmss",      // @T5
    "Hh:mm:ssPP",  // @T6
};

// @D17 and @D18 have no text of their own: the entry field uses the locale pictures.
constexpr std::string_view kDateTexts[] = {
    "",                    // @D0
    "Mm/dd/yy",            // @D1
    "Mm/dd/yyyy",          // @D2
    "NNN Dd, yyyy",        // @D3
    "NNNNNNNNN Dd, yyyy",  // @D4
    "Dd/mm/yy",            // @D5
    "Dd/mm/yyyy",          // @D6
    "Dd NNN yy",           // @D7
    "Dd NNN yyyy",         // @D8
    "yy/mm/dd",            // @D9
    "yyyy/mm/dd",          // @D10
    "yymmdd",              // @D11
    "yyyymmdd",            // @D12
    "Mm/yy",               // @D13
    "Mm/yyyy",             // @D14
    "yy/mm",               // @D15
    "yyyy/mm",             // @D16
    "",                    // @D17
    "",                    // @D18
    "Dd NNNNNNNNN yyyy",   // @D19
    "NNNNNNNNN Dd yyyy",   // @D20
};

template <size_t N>
std::string_view lookup(const std::string_view (&table)[N], int number) {
  return number >= 0 && static_cast<size_t>(number) < N ? table[number] : std::string_view();
}

}  // namespace

std::string_view picture_entry_text(char kind, int number) {
  switch (kind) {
    case 'T':
    case 't':
      return lookup(kTimeTexts, number);
    case 'D':
    case 'd':
      return lookup(kDateTexts, number);
    default:
      return {};
  }
}

}  // namespace vtn
