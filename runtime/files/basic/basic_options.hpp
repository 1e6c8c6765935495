// The options of the comma-delimited driver: how a file's text is cut into records and values,
// and how the driver reads it. A program sets them per file, in the driver options text of the
// FILE (DRIVER('BASIC', '/QUOTE=39/ALWAYSQUOTE=OFF')) or at run time with SEND(file, 'QUOTE=39').
//
//   option               value                       default       SEND answers
//   FILEBUFFERS          n (units of 512 bytes)      512 / 1024    buffer size in bytes
//   FIELDDELIMITER       n,c1,...,cn (char codes)    44 (",")      the delimiter bytes
//   COMMA                c                           44            the code, one-byte delimiter
//   QUOTE                c                           34 ('"')      the code
//   ENDOFRECORD          n,c1,...,cn                 13,10         the bytes
//   ENDOFRECORDINQUOTE   OFF / anything else: on     on            ON / OFF
//   CTRLZISEOF           OFF / anything else: on     on            ON / OFF
//   QUICKSCAN            ON / OFF                    exclusive     ON / OFF
//   ALWAYSQUOTE          ON / OFF                    on            ON / OFF
//
// A text has its blanks removed and is upper-cased first; an option is recognised by its name at
// the start of the text and "=" right after the name introduces the new value. Numbers begin at
// the first digit after "=", list items after each ",". SEND answers the value before the change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vtn::basic {

inline constexpr uint32_t kBufferUnit = 512;
// The largest FILEBUFFERS count that a buffer size can hold; larger counts take this one.
inline constexpr uint32_t kMaxBufferUnits = 0x7FFFFF;

struct BasicOptions {
  uint32_t buffer_size = kBufferUnit;
  std::string field_delimiter = ",";
  uint8_t quote = '"';
  std::string end_of_record = "\r\n";
  bool end_of_record_in_quote = true;
  bool ctrl_z_is_eof = true;
  bool quick_scan = false;
  bool always_quote = true;
};

// What changed, so that the driver can reconfigure its buffered file at once.
struct OptionChange {
  bool buffer = false;  // FILEBUFFERS or QUICKSCAN
};

// The text with its blanks removed, upper-cased.
std::string clean_option_text(std::string_view text);

// Applies one cleaned option. Returns the value before the change, or nothing for an unknown
// name (which changes nothing). A buffer smaller than `min_buffer` is raised to it.
std::optional<std::string> apply_option(BasicOptions& options, std::string_view cleaned,
                                        uint32_t min_buffer, OptionChange* change = nullptr);

// Applies a driver options text: every "/" starts an option; text before the first "/" and
// unknown options are ignored.
void apply_driver_options(BasicOptions& options, std::string_view text, uint32_t min_buffer);

}  // namespace vtn::basic
