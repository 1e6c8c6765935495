// How a comma-delimited file marks the parts of a record: the field delimiter, the end-of-record
// sequence, the quote character and the two switches that decide what ends a value. The parser,
// the writer and the record scanner share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/files/basic/basic_options.hpp"
#include "runtime/files/basic/stop_bytes.hpp"

namespace vtn::basic {

// The UTF-8 mark with which some programs begin a text file. It belongs to the file, not to its
// first record: reading passes over it and rewriting the first record keeps it.
inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

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

  // The length of the end of record that begins at text[pos] (0 when none); the sequence must
  // lie wholly within `size` bytes.
  size_t end_of_record_at(const uint8_t* text, size_t size, size_t pos) const {
    if (pos >= size) return 0;
    const uint8_t c = text[pos];
    if (c == eor_first_ && sequence_at(end_of_record, text, size, pos)) return end_of_record.size();
    if (c == '\n' && lf_) return 1;
    return 0;
  }

  bool delimiter_at(const uint8_t* text, size_t size, size_t pos) const {
    return pos < size && text[pos] == delimiter_first_ && sequence_at(delimiter, text, size, pos);
  }

  // The bytes that can begin a delimiter, an end of record or a Ctrl-Z that ends the file: where
  // passing over the text between values must look closer.
  const StopBytes& stops_between_values() const { return between_values_; }
  // ... a delimiter, an end of record or a Ctrl-Z: where a bare text value may end.
  const StopBytes& stops_in_bare_text() const { return bare_text_; }
  // ... a quote, an end of record, a Ctrl-Z or a delimiter of more than one byte: where a quoted
  // text value may end or hold a sequence that is stored as a whole. A one-byte delimiter inside
  // quotes is stored like any other byte.
  const StopBytes& stops_in_quoted_text() const { return quoted_text_; }
  // ... an end of record or a Ctrl-Z: where the rest of a line may end.
  const StopBytes& stops_at_line_end() const { return line_end_; }

  // Whether a value that begins with `c` is neither empty nor at the end of the line nor preceded
  // by blanks: the value can be converted at once.
  bool plain_value_start(uint8_t c) const { return plain_start_[c] != 0; }

  // The delimiter when it is one byte that cannot also begin an end of record or a Ctrl-Z that
  // ends the file, so that finding it settles the matter; otherwise -1 (no byte).
  int simple_delimiter() const { return simple_delimiter_; }

  // REQUIRES: called again after any of the fields above changes.
  void mark_special_bytes() {
    lf_ = lf_ends_record();
    delimiter_first_ = delimiter.empty() ? 0 : static_cast<uint8_t>(delimiter[0]);
    eor_first_ = end_of_record.empty() ? 0 : static_cast<uint8_t>(end_of_record[0]);
    between_values_ = bare_text_ = quoted_text_ = line_end_ = StopBytes{};
    for (StopBytes* set : {&between_values_, &bare_text_, &quoted_text_, &line_end_}) {
      if (!end_of_record.empty()) set->add(eor_first_);
      if (lf_) set->add('\n');
      if (ctrl_z_is_eof) set->add(26);
    }
    if (!delimiter.empty()) {
      between_values_.add(delimiter_first_);
      bare_text_.add(delimiter_first_);
      if (delimiter.size() > 1) quoted_text_.add(delimiter_first_);
    }
    quoted_text_.add(quote);
    simple_delimiter_ =
        delimiter.size() == 1 && !line_end_.contains(delimiter_first_) ? delimiter_first_ : -1;
    for (int c = 0; c < 256; ++c) {
      const auto b = static_cast<uint8_t>(c);
      plain_start_[b] = !line_end_.contains(b) &&
                        !(delimiter.size() > 0 && b == delimiter_first_) && b != ' ' && b != '\t' &&
                        b != '\r';
    }
  }

 private:
  // Whether `sequence` (not empty) lies wholly within `size` bytes at text[pos]; the caller has
  // compared the first byte.
  static bool sequence_at(std::string_view sequence, const uint8_t* text, size_t size, size_t pos) {
    if (sequence.empty() || pos + sequence.size() > size) return false;
    for (size_t k = 1; k < sequence.size(); ++k)
      if (text[pos + k] != static_cast<uint8_t>(sequence[k])) return false;
    return true;
  }

  StopBytes between_values_;
  StopBytes bare_text_;
  StopBytes quoted_text_;
  StopBytes line_end_;
  std::array<uint8_t, 256> plain_start_ = {};
  uint8_t delimiter_first_ = 0;
  uint8_t eor_first_ = 0;
  int simple_delimiter_ = -1;
  bool lf_ = false;
};

}  // namespace vtn::basic
