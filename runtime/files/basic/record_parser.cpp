#include "runtime/files/basic/record_parser.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/files/basic/number_scan.hpp"
#include "runtime/files/basic/packed_from_text.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"

namespace vtn::basic {
namespace {

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

  enum class Start { kValue, kEmpty, kEnded };
  // Moves to the start of the next value: kEnded when the line ends before it (this and every
  // later value keep what the cleared record holds), kEmpty for an empty value.
  Start next_value(bool first) {
    if (!first) {
      if (!ended_ && pos_ < limit_ && p_[pos_] == s_.simple_delimiter()) {
        ++pos_;
      } else {
        if (at_end()) return Start::kEnded;
        pass_delimiter();
      }
    }
    // Most values start right away.
    if (!ended_ && pos_ < limit_ && s_.plain_value_start(p_[pos_])) return Start::kValue;
    if (at_end()) return Start::kEnded;
    if (delimiter_here()) return Start::kEmpty;
    if (skip_blanks() && at_end()) return Start::kEnded;
    return Start::kValue;
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
  size_t position() const { return pos_; }
  void move_to(size_t pos) { pos_ = pos; }

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
  // A real at the cursor, read as real_of reads its number_text.
  double real_here();
  void convert_text(const TableField& f, char* storage);

  const LineSyntax& s_;
  const uint8_t* p_;
  size_t size_;
  size_t limit_;
  size_t pos_ = 0;
  bool ended_ = false;
  bool consumed_ = false;
};

bool is_digit(uint8_t c) {
  return is_decimal_digit(c);
}

std::string_view LineScanner::number_text(bool real, NumberShape* shape) {
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

int64_t LineScanner::integer_here(bool is_signed) {
  int64_t value = 0;
  pos_ = scan_integer(p_, pos_, limit_, is_signed, value);
  return value;
}

// The common real, digits with at most a point and no exponent, whose digits fit the 53 bits of
// a double: dividing by an exact power of ten then rounds once, as the full reader does.
bool simple_real(std::string_view text, double& value) {
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
    if (!is_digit(static_cast<uint8_t>(c)) || ++count > kSimpleRealDigits) return false;
    digits = digits * 10 + static_cast<uint64_t>(c - '0');
    if (point) ++fraction;
  }
  if (count == 0) return false;
  value = static_cast<double>(digits) / kExactPowersOfTen[fraction];
  if (negative) value = -value;
  return true;
}

double real_of(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (double value = 0; simple_real(text, value)) return value;
  double value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  // Beyond the range of a REAL: infinity or zero, as the C library reads it.
  if (r.ec == std::errc::result_out_of_range)
    value = std::strtod(std::string(text).c_str(), nullptr);
  return value;
}

double LineScanner::real_here() {
  double value = 0;
  if (const size_t end = scan_simple_real(p_, pos_, limit_, value); end != kNotSimple) {
    pos_ = end;
    return value;
  }
  return real_of(number_text(true));
}

void store_integer(const TableField& f, char* storage, int64_t value) {
  const auto v = static_cast<uint64_t>(value);
  uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  std::memcpy(storage, bytes, std::min<uint32_t>(f.size, 4));
}

void LineScanner::convert(const TableField& f, char* storage) {
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
      const auto v = static_cast<float>(real_here());
      std::memcpy(storage, &v, sizeof v);
      break;
    }
    case ValueType::REAL: {
      const double v = real_here();
      std::memcpy(storage, &v, sizeof v);
      break;
    }
    case ValueType::BFLOAT4:
      real_to_bfloat4(real_here(), reinterpret_cast<uint8_t*>(storage));
      break;
    case ValueType::BFLOAT8:
      real_to_bfloat8(real_here(), reinterpret_cast<uint8_t*>(storage));
      break;
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL: {
      const PackedLayout layout =
          f.type == ValueType::DECIMAL ? PackedLayout::kSignFirst : PackedLayout::kSignLast;
      auto* bytes = reinterpret_cast<uint8_t*>(storage);
      if (const size_t end = scan_simple_packed(p_, pos_, limit_, layout, bytes, f.size, f.places);
          end != kNotSimple) {
        pos_ = end;
        break;
      }
      NumberShape shape;
      const std::string_view text = number_text(true, &shape);
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

void LineScanner::convert_text(const TableField& f, char* storage) {
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

void LineScanner::pass_line_end() {
  if (ended_) return;
  const StopBytes& stops = s_.stops_at_line_end();
  for (size_t i = pos_; i < size_; ++i) {
    // Most lines end right after their last value.
    if (!stops.contains(p_[i]) && (i = stops.find(p_, i, size_)) == size_) return;
    if (s_.ctrl_z_is_eof && p_[i] == kCtrlZ) return;  // the line ends here; nothing to pass
    if (const size_t n = s_.end_of_record_at(p_, size_, i); n != 0) {
      pos_ = i + n;
      consumed_ = ended_ = true;
      return;
    }
  }
}

// Copies `n` bytes as memcpy does, without a call: texts are short. Only [0, n) of `to` is
// written, by fixed-size moves that overlap where n is not a multiple of their size.
inline void copy_text(char* to, const uint8_t* from, size_t n) {
  if (n >= 16) {
    size_t k = 0;
    for (; k + 16 <= n; k += 16) std::memcpy(to + k, from + k, 16);
    if (k < n) std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n > 0) {
    to[0] = static_cast<char>(from[0]);
    to[n / 2] = static_cast<char>(from[n / 2]);
    to[n - 1] = static_cast<char>(from[n - 1]);
  }
}

// How the values of a field are converted on the common way.
enum class Conversion : uint8_t {
  kSigned,
  kUnsigned,
  kReal,
  kShortReal,
  kDecimal,
  kPdecimal,
  kText,
  kOther
};

constexpr Conversion conversion_of(ValueType type) {
  switch (type) {
    case ValueType::BYTE:
    case ValueType::SHORT:
    case ValueType::LONG:
      return Conversion::kSigned;
    case ValueType::USHORT:
    case ValueType::ULONG:
    case ValueType::DATE:
    case ValueType::TIME:
      return Conversion::kUnsigned;
    case ValueType::REAL:
      return Conversion::kReal;
    case ValueType::SREAL:
      return Conversion::kShortReal;
    case ValueType::DECIMAL:
      return Conversion::kDecimal;
    case ValueType::PDECIMAL:
      return Conversion::kPdecimal;
    case ValueType::STRING:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      return Conversion::kText;
    default:
      return Conversion::kOther;
  }
}

// What the common way needs of a field of each type.
struct TypeReading {
  Conversion conversion = Conversion::kOther;
  bool counted = false;     // PSTRING: a length byte, then the text
  bool terminated = false;  // CSTRING: the text, then a zero byte
};

constexpr auto kTypeReadings = [] {
  std::array<TypeReading, 256> table{};
  for (size_t t = 0; t < table.size(); ++t) {
    const auto type = static_cast<ValueType>(t);
    table[t] = {conversion_of(type), type == ValueType::PSTRING, type == ValueType::CSTRING};
  }
  return table;
}();

// What the common way needs of a run's field, worked out once for all its values.
struct RunPlan {
  explicit RunPlan(const TableField& f)
      : field(f), reading(kTypeReadings[static_cast<uint8_t>(f.type)]) {}

  // The bytes of text a value holds.
  uint32_t capacity() const {
    return reading.counted || reading.terminated ? field.size - 1 : field.size;
  }

  const TableField& field;
  TypeReading reading;
};

// The low bytes of an integer into a field of 1, 2 or 4 bytes.
void store_low_bytes(uint32_t size, char* storage, int64_t value) {
  const auto v = static_cast<uint32_t>(static_cast<uint64_t>(value));
  if (size >= 4) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    std::memcpy(storage, bytes, 4);
  } else if (size == 2) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    std::memcpy(storage, bytes, 2);
  } else if (size == 1) {
    storage[0] = static_cast<char>(v);
  }
}

// The values of a line the common way: numbers of the common shapes and texts that end at their
// delimiter, closing quote or end of record, read with the cursor in a register. Each value that
// is not common (and every start of a value that is not plain) goes to the scanner, which reads
// it from its start as it reads any value: both ways store the same bytes.
class FastValues {
 public:
  FastValues(const LineSyntax& syntax, LineScanner& scan, const TextView& text, size_t window)
      : s_(syntax),
        scan_(scan),
        p_(text.data),
        readable_(text.size),
        limit_(std::min(window, text.size)),
        delimiter_(syntax.simple_delimiter()),
        quote_(syntax.quote),
        digits_end_known_(!is_decimal_digit(p_[limit_])) {}

  void read(const FieldTable& table, char* record) {
    size_t pos = 0;
    bool first = true;
    for (const ValueRun& run : table.runs) {
      const RunPlan plan(table.fields[run.field]);
      const uint32_t count = run.count;
      const uint32_t stride = run.stride;
      char* storage = record + run.offset;
      for (uint32_t e = 0; e < count; ++e, storage += stride) {
        // Most values follow a one-byte delimiter and start with a byte of their own.
        const size_t start = pos + (first ? 0 : 1);
        if (start < limit_ && (first || p_[pos] == delimiter_) && s_.plain_value_start(p_[start])) {
          pos = start;
        } else {
          scan_.move_to(pos);
          const LineScanner::Start how = scan_.next_value(first);
          if (how == LineScanner::Start::kEnded) return;
          pos = scan_.position();
          first = false;
          if (how == LineScanner::Start::kEmpty) continue;
        }
        first = false;
        const size_t end = convert(plan, pos, storage);
        if (end != kNotSimple) {
          pos = end;
        } else {
          scan_.move_to(pos);
          scan_.convert(plan.field, storage);
          pos = scan_.position();
        }
      }
    }
    scan_.move_to(pos);
    scan_.pass_line_end();
  }

 private:
  // The value at p_[i] (a plain start); returns where it ends, or kNotSimple.
  size_t convert(const RunPlan& plan, size_t i, char* storage) const {
    const Conversion conversion = plan.reading.conversion;
    if (conversion == Conversion::kText) return text(plan, i, storage);
    if (conversion == Conversion::kOther) return kNotSimple;
    const bool quoted = p_[i] == quote_;
    if (quoted) ++i;
    switch (conversion) {
      case Conversion::kSigned:
      case Conversion::kUnsigned: {
        int64_t value = 0;
        const bool is_signed = conversion == Conversion::kSigned;
        i = digits_end_known_
                ? scan_integer<DigitsEnd::kAtNonDigit>(p_, i, limit_, is_signed, value)
                : scan_integer(p_, i, limit_, is_signed, value);
        store_low_bytes(plan.field.size, storage, value);
        break;
      }
      case Conversion::kReal:
      case Conversion::kShortReal: {
        double value = 0;
        i = digits_end_known_ ? scan_simple_real<DigitsEnd::kAtNonDigit>(p_, i, limit_, value)
                              : scan_simple_real(p_, i, limit_, value);
        if (i == kNotSimple) return kNotSimple;
        if (conversion == Conversion::kReal) {
          std::memcpy(storage, &value, sizeof value);
        } else {
          const auto v = static_cast<float>(value);
          std::memcpy(storage, &v, sizeof v);
        }
        break;
      }
      default: {
        const PackedLayout layout =
            conversion == Conversion::kDecimal ? PackedLayout::kSignFirst : PackedLayout::kSignLast;
        auto* bytes = reinterpret_cast<uint8_t*>(storage);
        i = digits_end_known_
                ? scan_simple_packed<DigitsEnd::kAtNonDigit>(p_, i, limit_, layout, bytes,
                                                             plan.field.size, plan.field.places)
                : scan_simple_packed(p_, i, limit_, layout, bytes, plan.field.size,
                                     plan.field.places);
      }
        if (i == kNotSimple) return kNotSimple;
        break;
    }
    if (quoted && i < limit_ && p_[i] == quote_) ++i;
    return i;
  }

  // A text that ends before its capacity: at its closing quote (doubled quotes inside), or, bare,
  // at the delimiter or the end of the record.
  size_t text(const RunPlan& plan, size_t i, char* storage) const {
    const uint32_t capacity = plan.capacity();
    char* const out = storage + (plan.reading.counted ? 1 : 0);
    uint32_t n = 0;
    if (p_[i] == quote_) {
      ++i;
      for (;;) {
        const size_t bound = std::min<size_t>(limit_, i + (capacity - n));
        const size_t stop = s_.stops_in_quoted_text().find(p_, i, bound, readable_);
        copy_text(out + n, p_ + i, stop - i);
        n += static_cast<uint32_t>(stop - i);
        i = stop;
        if (i >= bound || p_[i] != quote_) return kNotSimple;
        if (i + 1 < limit_ && p_[i + 1] == quote_) {
          out[n++] = static_cast<char>(quote_);
          i += 2;
          continue;
        }
        ++i;
        break;
      }
    } else {
      const size_t bound = std::min<size_t>(limit_, i + capacity);
      const size_t stop = s_.stops_in_bare_text().find(p_, i, bound, readable_);
      copy_text(out, p_ + i, stop - i);
      n = static_cast<uint32_t>(stop - i);
      i = stop;
      if (i < bound && p_[i] != delimiter_ && s_.end_of_record_at(p_, readable_, i) == 0 &&
          !(s_.ctrl_z_is_eof && p_[i] == kCtrlZ))
        return kNotSimple;
    }
    if (plan.reading.terminated) out[n] = '\0';
    if (plan.reading.counted) storage[0] = static_cast<char>(n);
    return i;
  }

  const LineSyntax& s_;
  LineScanner& scan_;
  const uint8_t* const p_;
  const size_t readable_;
  const size_t limit_;
  const int delimiter_;
  const uint8_t quote_;
  // No number runs past the window: its digits end at the first byte that is no digit.
  const bool digits_end_known_;
};

}  // namespace

ParsedLine parse_line(const FieldTable& table, const LineSyntax& syntax, const TextView& text,
                      size_t window, char* record) {
  LineScanner scan(syntax, text, window);
  FastValues(syntax, scan, text, window).read(table, record);
  return scan.result();
}

bool find_line_end(BufferedTextFile& file, const LineSyntax& syntax, uint64_t from, uint64_t& end) {
  const size_t sequence = syntax.end_of_record.size();
  for (;;) {
    TextView v;
    if (!file.view(from, file.buffer_size(), v)) return false;
    if (!v.ends_file && v.size < sequence) {  // a buffer shorter than the sequence
      end = from + (syntax.ctrl_z_is_eof && v.size > 0 && v.data[0] == kCtrlZ ? 0 : v.size);
      return true;
    }
    size_t i = 0;
    for (; (i = syntax.stops_at_line_end().find(v.data, i, v.size)) < v.size; ++i) {
      if (syntax.ctrl_z_is_eof && v.data[i] == kCtrlZ) {
        end = from + i;
        return true;
      }
      if (i + sequence > v.size && !v.ends_file) break;  // the sequence may straddle the view
      if (const size_t n = syntax.end_of_record_at(v.data, v.size, i); n != 0) {
        end = from + i + n;
        return true;
      }
    }
    if (v.ends_file && i == v.size) {
      end = from + v.size;
      return true;
    }
    if (i == 0) {  // nothing was read: nothing more can match
      end = from + v.size;
      return true;
    }
    from += i;
  }
}

}  // namespace vtn::basic
