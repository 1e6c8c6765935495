// FORMAT and DEFORMAT: showing a value through a display picture and reading it back.
//
// FORMAT turns a number (a REAL, with 14 significant digits, or a decimal-stack value, with all
// its digits), a date or time serial, or a text into display text of the picture's width.
// DEFORMAT takes display text back to the plain text of the value: digits with an optional
// leading "-" and "." for numbers, the serial in decimal digits for dates and times. Neither ever
// fails: a picture that does not compile formats as an empty text, overflow shows "#" in every
// digit cell, and text that does not match the picture is read as far as it can be.
#pragma once

#include <string>
#include <string_view>

#include "runtime/format/picture.hpp"
#include "runtime/values/decimal.hpp"

namespace vtn {

// The number text that formatting consumes: significant digits, how many of them stand before
// the point (may be 0 or negative for values below 1, or exceed the digits for large values),
// and the sign.
using NumberDigits = DecimalDigits;

// The digits of a REAL: 14 significant digits.
NumberDigits real_to_number_digits(double value);

// --- With a compiled picture ------------------------------------------------------------------

// A number shown through any picture: numeric kinds lay out the digits, dates and times take the
// integer part as a serial, text kinds show the number as text.
std::string format_number(const NumberDigits& number, const CompiledPicture& picture);
std::string format_real(double value, const CompiledPicture& picture);
// Text: @S and @K copy it; numeric kinds read it as a number; dates and times as a serial.
std::string format_text(std::string_view text, const CompiledPicture& picture);

std::string deformat(std::string_view text, const CompiledPicture& picture);

// --- With a picture text ----------------------------------------------------------------------

std::string format_picture(double value, std::string_view picture);
std::string format_picture(const NumberDigits& number, std::string_view picture);
std::string format_picture_text(std::string_view text, std::string_view picture);
std::string deformat_picture(std::string_view text, std::string_view picture);

// --- The language's functions: the result is pushed on the StringStack ---------------------

void FORMAT(double value, std::string_view picture);  // a REAL, or a date/time serial
void FORMAT_TEXT(std::string_view text, std::string_view picture);
void FORMAT_DECIMAL(std::string_view picture);  // pops the decimal stack's top
void DEFORMAT(std::string_view text, std::string_view picture);

}  // namespace vtn
