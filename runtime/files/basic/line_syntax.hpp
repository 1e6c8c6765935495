// How a comma-delimited file marks the parts of a record: the field delimiter, the end-of-record
// sequence, the quote character and the two switches that decide what ends a value. The parser,
// the writer and the record scanner share it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/files/basic/basic_options.hpp"

namespace vtn::basic {

struct LineSyntax {
  std::string_view delimiter = ",";
  std::string_view end_of_record = "\r\n";
  uint8_t quote = '"';
  bool end_of_record_in_quote = true;
  bool ctrl_z_is_eof = true;

  static LineSyntax of(const BasicOptions& o) {
    return {o.field_delimiter, o.end_of_record, o.quote, o.end_of_record_in_quote, o.ctrl_z_is_eof};
  }

  // Files written on Unix end their lines with a bare LF; where records end with CR LF, a bare
  // LF ends a record as well.
  bool lf_ends_record() const { return end_of_record == "\r\n"; }

  // The length of the end of record that begins at text[pos] (0 when none); the sequence must
  // lie wholly within `size` bytes.
  size_t end_of_record_at(const uint8_t* text, size_t size, size_t pos) const {
    if (pos + end_of_record.size() <= size &&
        std::memcmp(text + pos, end_of_record.data(), end_of_record.size()) == 0)
      return end_of_record.size();
    if (pos < size && text[pos] == '\n' && lf_ends_record()) return 1;
    return 0;
  }

  bool delimiter_at(const uint8_t* text, size_t size, size_t pos) const {
    return pos + delimiter.size() <= size &&
           std::memcmp(text + pos, delimiter.data(), delimiter.size()) == 0;
  }
};

}  // namespace vtn::basic
