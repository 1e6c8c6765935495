// How a comma-delimited file marks the parts of a record: the field delimiter, the end-of-record
// sequence, the quote character and the two switches that decide what ends a value. The parser,
// the writer and the record scanner share it.
#pragma once

#include <array>
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

  LineSyntax() { mark_special_bytes(); }
  LineSyntax(std::string_view delimiter_, std::string_view end_of_record_, uint8_t quote_,
             bool end_of_record_in_quote_, bool ctrl_z_is_eof_)
      : delimiter(delimiter_),
        end_of_record(end_of_record_),
        quote(quote_),
        end_of_record_in_quote(end_of_record_in_quote_),
        ctrl_z_is_eof(ctrl_z_is_eof_) {
    mark_special_bytes();
  }
  // The syntax of the options; it views their texts, so it lives no longer than they do.
  static LineSyntax of(const BasicOptions& o) {
    return {o.field_delimiter, o.end_of_record, o.quote, o.end_of_record_in_quote, o.ctrl_z_is_eof};
  }

  // Files written on Unix end their lines with a bare LF; where records end with CR LF, a bare
  // LF ends a record as well.
  bool lf_ends_record() const { return end_of_record == "\r\n"; }

  // Whether a byte may begin something other than plain text: a delimiter, an end of record, a
  // quote or a Ctrl-Z. Runs of other bytes can be taken without looking further.
  bool special(uint8_t c) const { return special_[c] != 0; }

  // The length of the end of record that begins at text[pos] (0 when none); the sequence must
  // lie wholly within `size` bytes.
  size_t end_of_record_at(const uint8_t* text, size_t size, size_t pos) const {
    if (pos >= size) return 0;
    const uint8_t c = text[pos];
    if (!end_of_record.empty() && c == static_cast<uint8_t>(end_of_record[0]) &&
        pos + end_of_record.size() <= size &&
        std::memcmp(text + pos, end_of_record.data(), end_of_record.size()) == 0)
      return end_of_record.size();
    if (c == '\n' && lf_) return 1;
    return 0;
  }

  bool delimiter_at(const uint8_t* text, size_t size, size_t pos) const {
    return pos < size && !delimiter.empty() && text[pos] == static_cast<uint8_t>(delimiter[0]) &&
           pos + delimiter.size() <= size &&
           std::memcmp(text + pos, delimiter.data(), delimiter.size()) == 0;
  }

  // REQUIRES: called again after any of the fields above changes.
  void mark_special_bytes() {
    special_.fill(0);
    lf_ = lf_ends_record();
    if (!delimiter.empty()) special_[static_cast<uint8_t>(delimiter[0])] = 1;
    if (!end_of_record.empty()) special_[static_cast<uint8_t>(end_of_record[0])] = 1;
    if (lf_) special_['\n'] = 1;
    special_[quote] = 1;
    special_[26] = 1;  // Ctrl-Z
  }

 private:
  std::array<uint8_t, 256> special_ = {};
  bool lf_ = false;
};

}  // namespace vtn::basic
