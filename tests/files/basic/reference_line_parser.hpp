// The line parser as it was before values were read the common way, kept as the reference that
// the faster parser must agree with byte for byte.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/files/basic/packed_from_text.hpp"
#include "runtime/files/basic/record_parser.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"

namespace vtn::basic::reference {
namespace detail {

class LineScanner {
 public:
  LineScanner(const LineSyntax& syntax, const TextView& text, size_t window)
      : s_(syntax), p_(text.data), size_(text.size), limit_(std::min(window, text.size)) {}

  // Steps 2 and 3 of a value: the end of the window, the end-of-record sequence (consumed) or a
  // Ctrl-Z that ends the file.
  bool at_end() {
    if (ended_) return true;
    if (pos_ >= limit_) return ended_ = true;
    if (!s_.stops_at_line_end().contains(p_[pos_])) return false;
    if (const size_t n = s_.end_of_record_at(p_, size_, pos_); n != 0) {
      pos_ += n;
      consumed_ = true;
      return ended_ = true;
    }
    if (ctrl_z_here()) return ended_ = true;
    return false;
  }

  // Passes over everything up to and including the next delimiter.
  void pass_delimiter() {
    // Most often the value ended right at a one-byte delimiter.
    if (!ended_ && pos_ < limit_ && p_[pos_] == s_.simple_delimiter()) {
      ++pos_;
      return;
    }
    while (!at_end()) {
      pos_ = s_.stops_between_values().find(p_, pos_, limit_, size_);
      if (at_end()) return;
      if (delimiter_here()) {
        pos_ += s_.delimiter.size();
        return;
      }
      ++pos_;
    }
  }

  // Returns whether anything was skipped.
  bool skip_blanks() {
    const size_t start = pos_;
    while (pos_ < limit_ && (p_[pos_] == ' ' || p_[pos_] == '\t' || p_[pos_] == '\r') &&
           s_.end_of_record_at(p_, size_, pos_) == 0)
      ++pos_;
    return pos_ != start;
  }

  bool delimiter_here() const { return s_.delimiter_at(p_, size_, pos_); }
  bool ctrl_z_here() const { return s_.ctrl_z_is_eof && pos_ < limit_ && p_[pos_] == kCtrlZ; }
  bool ended() const { return ended_; }

  void convert(const TableField& f, char* storage);
  // After the last value: passes over the rest of the line, as far as the text reaches.
  void pass_line_end();
  ParsedLine result() const { return {pos_, consumed_}; }

 private:
  // The extent of a number at the cursor: [sign] digits [. digits] [e [sign] digits].
  // `shape`, when given, learns whether a point and an exponent were met.
  struct NumberShape {
    bool point = false;
    bool exponent = false;
  };
  std::string_view number_text(bool real, NumberShape* shape = nullptr);
  // An integer at the cursor: [sign] digits, read into 64 bits that wrap (the low bytes count);
  // the cursor stays where it is, and the value is 0, when an unsigned field meets a "-".
  int64_t integer_here(bool is_signed);
  void convert_text(const TableField& f, char* storage);

  const LineSyntax& s_;
  const uint8_t* p_;
  size_t size_;
  size_t limit_;
  size_t pos_ = 0;
  bool ended_ = false;
  bool consumed_ = false;
};

inline bool is_digit(uint8_t c) {
  return c >= '0' && c <= '9';
}

inline std::string_view LineScanner::number_text(bool real, NumberShape* shape) {
  const size_t start = pos_;
  size_t i = pos_;
  auto digits = [&] {
    while (i < limit_ && is_digit(p_[i])) ++i;
  };
  if (i < limit_ && (p_[i] == '-' || p_[i] == '+')) ++i;
  digits();
  if (real) {
    if (i < limit_ && p_[i] == '.') {
      ++i;
      digits();
      if (shape != nullptr) shape->point = true;
    }
    if (i < limit_ && (p_[i] == 'e' || p_[i] == 'E')) {
      size_t e = i + 1;
      if (e < limit_ && (p_[e] == '-' || p_[e] == '+')) ++e;
      if (e < limit_ && is_digit(p_[e])) {
        i = e;
        digits();
        if (shape != nullptr) shape->exponent = true;
      }
    }
  }
  pos_ = i;
  return {reinterpret_cast<const char*>(p_ + start), i - start};
}

inline int64_t LineScanner::integer_here(bool is_signed) {
  size_t i = pos_;
  bool negative = false;
  if (i < limit_ && (p_[i] == '-' || p_[i] == '+')) negative = p_[i++] == '-';
  if (negative && !is_signed) return 0;  // an unsigned field takes no minus sign: no number here
  uint64_t n = 0;
  for (; i < limit_ && is_digit(p_[i]); ++i)
    n = n * 10 + static_cast<uint64_t>(p_[i] - '0');  // wraps: the low bytes count
  pos_ = i;
  return static_cast<int64_t>(negative ? 0 - n : n);
}

// The common real, digits with at most a point and no exponent, whose digits fit the 53 bits of
// a double: dividing by an exact power of ten then rounds once, as the full reader does.
inline bool simple_real(std::string_view text, double& value) {
  static constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  uint64_t digits = 0;
  uint32_t count = 0;
  uint32_t fraction = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    // 15 digits stay below 2^53.
    if (!is_digit(static_cast<uint8_t>(c)) || ++count > 15) return false;
    digits = digits * 10 + static_cast<uint64_t>(c - '0');
    if (point) ++fraction;
  }
  if (count == 0) return false;
  value = static_cast<double>(digits) / kExactPowers[fraction];
  if (negative) value = -value;
  return true;
}

inline double real_of(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (double value = 0; simple_real(text, value)) return value;
  double value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  // Beyond the range of a REAL: infinity or zero, as the C library reads it.
  if (r.ec == std::errc::result_out_of_range)
    value = std::strtod(std::string(text).c_str(), nullptr);
  return value;
}

inline void store_integer(const TableField& f, char* storage, int64_t value) {
  const auto v = static_cast<uint64_t>(value);
  uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  std::memcpy(storage, bytes, std::min<uint32_t>(f.size, 4));
}

inline void LineScanner::convert(const TableField& f, char* storage) {
  switch (f.type) {
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      convert_text(f, storage);
      return;
    default:
      break;
  }
  // A quoted number: the quotes do not belong to it.
  const bool quoted = pos_ < limit_ && p_[pos_] == s_.quote;
  if (quoted) ++pos_;
  const bool is_signed =
      f.type == ValueType::BYTE || f.type == ValueType::SHORT || f.type == ValueType::LONG;
  switch (f.type) {
    case ValueType::BYTE:
    case ValueType::SHORT:
    case ValueType::LONG:
    case ValueType::USHORT:
    case ValueType::ULONG:
    case ValueType::DATE:
    case ValueType::TIME: {
      store_integer(f, storage, integer_here(is_signed));
      break;
    }
    case ValueType::SREAL: {
      const auto v = static_cast<float>(real_of(number_text(true)));
      std::memcpy(storage, &v, sizeof v);
      break;
    }
    case ValueType::REAL: {
      const double v = real_of(number_text(true));
      std::memcpy(storage, &v, sizeof v);
      break;
    }
    case ValueType::BFLOAT4:
      real_to_bfloat4(real_of(number_text(true)), reinterpret_cast<uint8_t*>(storage));
      break;
    case ValueType::BFLOAT8:
      real_to_bfloat8(real_of(number_text(true)), reinterpret_cast<uint8_t*>(storage));
      break;
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL: {
      NumberShape shape;
      const std::string_view text = number_text(true, &shape);
      const PackedLayout layout =
          f.type == ValueType::DECIMAL ? PackedLayout::kSignFirst : PackedLayout::kSignLast;
      auto* bytes = reinterpret_cast<uint8_t*>(storage);
      // The decimal reader takes an exponent only after a point; "1E5" goes through REAL.
      if (shape.exponent && !shape.point) {
        decimal_stack().push_real(real_of(text));
        pop_packed(layout, bytes, f.size, f.places);
      } else {
        store_packed_text(text, layout, bytes, f.size, f.places);
      }
      break;
    }
    default:
      break;
  }
  if (quoted && pos_ < limit_ && p_[pos_] == s_.quote) ++pos_;
}

inline void LineScanner::convert_text(const TableField& f, char* storage) {
  const bool counted = f.type == ValueType::PSTRING;
  const uint32_t capacity = f.type == ValueType::STRING ? f.size : f.size - 1;
  char* out = storage + (counted ? 1 : 0);
  uint32_t n = 0;
  auto store = [&](uint8_t c) {
    if (n < capacity) out[n++] = static_cast<char>(c);
  };
  const uint8_t quote = s_.quote;
  const bool quoted = pos_ < limit_ && p_[pos_] == quote;
  if (quoted) ++pos_;
  bool closed = false;
  const StopBytes& stops = quoted ? s_.stops_in_quoted_text() : s_.stops_in_bare_text();
  while (n < capacity && pos_ < limit_) {
    // A run of plain text goes in at once.
    const size_t run =
        stops.find(p_, pos_, std::min<size_t>(limit_, pos_ + (capacity - n)), size_) - pos_;
    std::memcpy(out + n, p_ + pos_, run);
    n += static_cast<uint32_t>(run);
    pos_ += run;
    if (n >= capacity || pos_ >= limit_) break;
    const uint8_t c = p_[pos_];
    if (quoted && c == quote) {
      if (pos_ + 1 < limit_ && p_[pos_ + 1] == quote) {
        store(quote);
        pos_ += 2;
        continue;
      }
      ++pos_;
      closed = true;
      break;
    }
    if (ctrl_z_here()) break;
    if (delimiter_here()) {
      if (!quoted) break;
      for (char d : s_.delimiter) store(static_cast<uint8_t>(d));
      pos_ += s_.delimiter.size();
      continue;
    }
    if (const size_t eor = s_.end_of_record_at(p_, size_, pos_); eor != 0) {
      if (!quoted || !s_.end_of_record_in_quote) break;
      for (size_t k = 0; k < eor; ++k) store(p_[pos_ + k]);
      pos_ += eor;
      continue;
    }
    store(c);
    ++pos_;
  }
  if (quoted && !closed && n >= capacity) {
    // The rest of a quoted text cut at the capacity, closing quote included; a doubled quote
    // is text, not the end.
    while (pos_ < limit_ && !ctrl_z_here()) {
      pos_ = s_.stops_in_quoted_text().find(p_, pos_, limit_, size_);
      if (pos_ >= limit_ || ctrl_z_here()) break;
      if (!s_.end_of_record_in_quote && s_.end_of_record_at(p_, size_, pos_) != 0) break;
      if (p_[pos_] == quote) {
        if (pos_ + 1 < limit_ && p_[pos_ + 1] == quote) {
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      ++pos_;
    }
  }
  if (f.type == ValueType::CSTRING) out[n] = '\0';
  if (counted) storage[0] = static_cast<char>(n);
}

inline void LineScanner::pass_line_end() {
  if (ended_) return;
  for (size_t i = pos_; (i = s_.stops_at_line_end().find(p_, i, size_)) < size_; ++i) {
    if (s_.ctrl_z_is_eof && p_[i] == kCtrlZ) return;  // the line ends here; nothing to pass
    if (const size_t n = s_.end_of_record_at(p_, size_, i); n != 0) {
      pos_ = i + n;
      consumed_ = ended_ = true;
      return;
    }
  }
}

}  // namespace detail

inline ParsedLine parse_line(const FieldTable& table, const LineSyntax& syntax,
                             const TextView& text, size_t window, char* record) {
  detail::LineScanner scan(syntax, text, window);
  bool first = true;
  for_each_value(table, [&](const TableField& f, uint32_t offset) {
    if (scan.at_end()) return;
    if (!first) {
      scan.pass_delimiter();
      if (scan.at_end()) return;
    }
    first = false;
    if (scan.delimiter_here()) return;  // an empty value
    if (scan.skip_blanks() && scan.at_end()) return;
    scan.convert(f, record + offset);
  });
  scan.pass_line_end();
  return scan.result();
}

}  // namespace vtn::basic::reference
