// Pieces shared by the picture formatter's files; not part of the public interface.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/format/picture.hpp"
#include "runtime/format/picture_format.hpp"

namespace vtn::picture_detail {

// @N, @E and @P. `overflow` forces "#" into every digit cell (a value that has no digits, such
// as an infinite REAL).
std::string format_numeric(const NumberDigits& number, const CompiledPicture& picture,
                           bool overflow);

// @D and @T with a serial.
std::string format_date(int32_t serial, const CompiledPicture& picture);
std::string format_time(int32_t serial, const CompiledPicture& picture);

// The empty display: spaces, as wide as the picture shows.
inline std::string blank_output(const CompiledPicture& picture) {
  return std::string(static_cast<size_t>(picture.display_width()), ' ');
}

// A fill character as printed: the fill "_" of dates and times prints as a space.
inline char printed_fill(uint8_t fill) {
  return fill == '_' ? ' ' : static_cast<char>(fill);
}

}  // namespace vtn::picture_detail
