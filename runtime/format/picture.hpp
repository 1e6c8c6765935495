// Display pictures: the compiled form of a picture text such as "@N-12.2", "@D1" or
// "@P(###)###-####P", and the compiler that builds it.
//
// A compiled picture is a list of cells, one per output character, each a fill character and a
// cell code. FORMAT walks the cells to show a value; DEFORMAT walks the cells and the display
// text side by side to read the value back (picture_format.hpp). The window engine's entry
// fields and the expression evaluator use the same compiled pictures.
//
// A picture that does not compile leaves the whole structure zero: a numeric picture with no
// cells, which formats as an empty text.
#pragma once

#include <cstdint>
#include <string_view>

namespace vtn {

enum class PictureKind : uint8_t {
  kNumeric = 0,     // @N
  kScientific = 1,  // @E
  kDate = 2,        // @D
  kTime = 3,        // @T
  kPattern = 4,     // @P...P
  kString = 5,      // @S
  kKeyIn = 6,       // @K...K
};

// The family picks the class of typed reference that holds a value shown through the picture.
enum PictureFamily : uint8_t {
  kFamilyText = 0,        // @S, @K
  kFamilyDateTime = 1,    // @D, @T
  kFamilyScientific = 2,  // @E
  kFamilyNumber = 3,      // @N, @P
};

enum class CellCode : uint8_t {
  kLiteral = 0,       // printed as is (the fill)
  kGrouping = 1,      // fill: the separator character
  kDecimalPoint = 2,  // fill: the decimal character
  kDigitZero = 3,     // fill printed for a leading zero ("0" or "*")
  kDigitBlank = 4,    // a space printed for a leading zero
  kSign = 5,          // fill "-", "(" or ")", printed only for a negative value
  kCurrency = 6,      // fill: one character of the currency text
  kMonth = 7,         // date and time digits: fill printed for a leading zero
  kDay = 8,
  kYear = 9,
  kMonthName = 10,
  kHour = 11,
  kMinute = 12,
  kSecond = 13,
  kAnyLetter = 14,  // key-in cells
  kUpperLetter = 15,
  kLowerLetter = 16,
  kAnyChar = 17,
  kSeparator = 19,  // date or time separator; fill: the separator character
  kDayPart = 20,    // AM/PM mark
  kExponentSign = 21,
  kImpliedPoint = 22,  // marks the decimal point of "v"/"V"; takes no display position
  kStopMark = 23,      // key-in stop mark
};

struct PictureCell {
  uint8_t fill = 0;
  CellCode code = CellCode::kLiteral;
};

struct CompiledPicture {
  static constexpr int kMaxCells = 255;
  static constexpr uint8_t kDefaultPivot = 80;

  PictureKind kind = PictureKind::kNumeric;
  uint8_t family = kFamilyText;
  bool blank = false;      // trailing "B": a zero value shows as all spaces
  uint8_t cell_count = 0;  // for @S the string length
  uint8_t pivot = 0;       // dates: the two-digit year pivot
  uint8_t number = 0;      // the n of @Dn and @Tn
  PictureCell cells[kMaxCells] = {};
  std::string_view source;  // the picture text it was compiled from (not owned)

  // The number of characters FORMAT produces (implied decimal points take no position).
  int display_width() const;
  // A failed compile leaves a numeric picture without cells.
  bool empty() const { return cell_count == 0 && kind == PictureKind::kNumeric; }
};

// Compiles `text` into `picture`. Returns false, and leaves `picture` all zero, when the text is
// not a picture. Trailing spaces are ignored; an empty (or all-blank) text compiles as @S255.
// The compiled picture keeps a view of `text`.
bool compile_picture(std::string_view text, CompiledPicture& picture);

// --- Locale pictures ------------------------------------------------------------------------
//
// @D17 and @D18 (short and long date) and @T7 and @T8 (short and long time) copy pictures built
// from the Windows international settings (intl_settings()). The locale initialisation calls
// build_locale_pictures() once it has read those settings; until then the pictures follow the
// settings' defaults.

enum class LocalePicture : uint8_t { kShortDate = 0, kLongDate = 1, kShortTime = 2, kLongTime = 3 };

// Rebuilds the four locale pictures, and the day-part marks they print, from intl_settings().
void build_locale_pictures();

const CompiledPicture& locale_picture(LocalePicture which);

// The day-part marks that @T7 and @T8 print: the Windows AM (pm = false) or PM text.
std::string_view locale_day_part(bool pm);

// Builders behind build_locale_pictures(), over one settings text each.
CompiledPicture build_short_date_picture(std::string_view short_date);
CompiledPicture build_long_date_picture(std::string_view long_date);
CompiledPicture build_time_picture(bool with_seconds, bool leading_zero, char separator,
                                   bool twelve_hour);

// --- Entry-field picture texts --------------------------------------------------------------

// The text that an entry field shows the user for @Tn ('T') or @Dn ('D'): "hh:mm", "Mm/dd/yy",
// ... Empty for pictures without a text of their own (@D17 and @D18 use the locale pictures).
std::string_view picture_entry_text(char kind, int number);

}  // namespace vtn
