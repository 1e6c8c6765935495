#include "tools/twl/field_values.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"
#include "runtime/values/value_type.hpp"

namespace twl {

namespace tw = vtn::tarnwell;
using vtn::ValueType;

namespace {

template <typename T>
T load(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// The UTF-8 form of every byte of a code page, made once.
struct Utf8Table {
  struct Entry {
    char bytes[3];
    uint8_t length;
  };
  Entry entries[256];

  explicit Utf8Table(char16_t (*unicode_of)(uint8_t)) {
    for (int c = 0; c < 256; ++c) {
      const char16_t u = unicode_of(static_cast<uint8_t>(c));
      Entry& e = entries[c];
      if (u < 0x80) {
        e = {{static_cast<char>(u)}, 1};
      } else if (u < 0x800) {
        e = {{static_cast<char>(0xC0 | u >> 6), static_cast<char>(0x80 | (u & 0x3F))}, 2};
      } else {
        e = {{static_cast<char>(0xE0 | u >> 12), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
              static_cast<char>(0x80 | (u & 0x3F))},
             3};
      }
    }
  }
};

// Without its trailing blanks; eight bytes at a time over a field's usual blank tail.
std::string_view clip(std::string_view bytes) {
  size_t n = bytes.size();
  constexpr uint64_t kBlanks = 0x2020202020202020;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + n - 8, 8);
    if (word != kBlanks) break;
    n -= 8;
  }
  while (n > 0 && bytes[n - 1] == ' ') --n;
  return bytes.substr(0, n);
}

void set_text(FieldValue& out, std::string_view stored, bool oem) {
  out.kind = FieldValue::Kind::text;
  out.text.clear();
  append_utf8(out.text, stored, oem);
}

void set_integer(FieldValue& out, int64_t n) {
  out.kind = FieldValue::Kind::integer;
  out.integer = n;
}

void set_real(FieldValue& out, double r) {
  out.kind = FieldValue::Kind::real;
  out.real = r;
}

// The element count of a field: its DIM's product, 1 when it is not dimensioned (or when the
// stored size cannot be divided into that many elements).
uint32_t elements_of(const tw::FieldDefinition& f) {
  const uint32_t n = f.members_after_size[1];
  return n > 1 && f.size % n == 0 ? n : 1;
}

// The columns of fields [first, last), lying `shift` bytes further into the record than the
// definition says (an element of an enclosing dimensioned GROUP). `outer` numbers the elements of
// the enclosing GROUPs through (from 0, of `outer_count`). `budget` bounds the work that a
// definition with absurd dimensions could ask for.
void expand(const tw::TableDefinition& d, size_t first, size_t last, uint64_t shift, uint64_t outer,
            uint64_t outer_count, size_t& budget, std::vector<Column>& out) {
  const auto spend = [&budget] {
    if (budget == 0) {
      throw std::invalid_argument("the table has more than " + std::to_string(kMaxColumns) +
                                  " columns");
    }
    --budget;
  };
  for (size_t i = first; i < last;) {
    const tw::FieldDefinition& f = d.fields[i];
    const uint32_t n = elements_of(f);
    const uint32_t size = f.size / n;
    if (f.type == static_cast<uint8_t>(ValueType::GROUP)) {
      const size_t end = std::min<size_t>(last, i + 1 + f.member_before_size);
      for (uint32_t e = 0; e < n; ++e) {
        spend();
        expand(d, i + 1, end, shift + uint64_t{e} * size, outer * n + e, outer_count * n, budget,
               out);
      }
      i = end;
      continue;
    }
    const std::string name = vtn::platform::ansi_to_utf8(f.name.value_or(""));
    const bool numbered = outer_count * n > 1;
    for (uint32_t j = 0; j < n; ++j) {
      spend();
      Column c;
      c.name = name;
      c.element = numbered ? static_cast<uint32_t>(outer * n + j + 1) : 0;
      c.label = numbered ? name + "[" + std::to_string(c.element) + "]" : name;
      c.source = Column::Source::field;
      c.index = i;
      c.type = f.type;
      const uint64_t offset = f.offset + shift + uint64_t{j} * size;
      c.offset = static_cast<uint32_t>(std::min<uint64_t>(offset, UINT32_MAX));
      c.size = size;
      c.places = f.places;
      out.push_back(std::move(c));
    }
    ++i;
  }
}

}  // namespace

void append_utf8(std::string& out, std::string_view stored, bool oem) {
  static const Utf8Table ansi(vtn::platform::ansi_to_unicode);
  static const Utf8Table oem_table(vtn::platform::oem_to_unicode);
  const Utf8Table& table = oem ? oem_table : ansi;
  // Codes below 80h are the same in UTF-8: the part of the text before the first other byte goes
  // in one piece.
  const auto other = std::find_if(stored.begin(), stored.end(),
                                  [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
  out.append(stored.begin(), other);
  stored.remove_prefix(static_cast<size_t>(other - stored.begin()));
  for (const char c : stored) {
    const Utf8Table::Entry& e = table.entries[static_cast<uint8_t>(c)];
    if (e.length == 1) {
      out += e.bytes[0];
    } else {
      out.append(e.bytes, e.length);
    }
  }
}

std::vector<Column> columns_of(const tw::TableDefinition& definition) {
  std::vector<Column> columns;
  size_t budget = kMaxColumns;
  expand(definition, 0, definition.fields.size(), 0, 0, 1, budget, columns);
  for (size_t i = 0; i < definition.memos.size(); ++i) {
    Column c;
    c.label = c.name = vtn::platform::ansi_to_utf8(definition.memos[i].label.value_or(""));
    c.source = Column::Source::memo;
    c.index = i;
    columns.push_back(std::move(c));
  }
  return columns;
}

std::string iso_date(std::span<const uint8_t, 4> stored) {
  const int day = stored[0], month = stored[1], year = stored[2] | stored[3] << 8;
  if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1) return "";
  char out[16];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d", year, month, day);
  return out;
}

std::string iso_time(std::span<const uint8_t, 4> stored) {
  const int hundredths = stored[0], seconds = stored[1], minutes = stored[2], hours = stored[3];
  if (hundredths > 99 || seconds > 59 || minutes > 59 || hours > 23) return "";
  char out[16];
  std::snprintf(out, sizeof out, "%02d:%02d:%02d.%02d", hours, minutes, seconds, hundredths);
  return out;
}

void read_field(const Column& column, std::span<const uint8_t> buffer, bool oem, FieldValue& out) {
  out.kind = FieldValue::Kind::null;
  if (column.offset > buffer.size() || column.size > buffer.size() - column.offset) return;
  const uint8_t* p = buffer.data() + column.offset;
  const std::string_view bytes(reinterpret_cast<const char*>(p), column.size);
  const auto set_iso = [&out](std::string iso) {
    if (iso.empty()) return;
    out.kind = FieldValue::Kind::text;
    out.text = iso;
  };
  const auto fits = [&column](size_t bytes_needed) { return column.size >= bytes_needed; };
  switch (static_cast<ValueType>(column.type)) {
    case ValueType::BYTE:
      if (fits(1)) set_integer(out, p[0]);
      return;
    case ValueType::SHORT:
      if (fits(2)) set_integer(out, load<int16_t>(p));
      return;
    case ValueType::USHORT:
      if (fits(2)) set_integer(out, load<uint16_t>(p));
      return;
    case ValueType::LONG:
      if (fits(4)) set_integer(out, load<int32_t>(p));
      return;
    case ValueType::ULONG:
      if (fits(4)) set_integer(out, load<uint32_t>(p));
      return;
    case ValueType::SREAL:
      if (fits(4)) set_real(out, load<float>(p));
      return;
    case ValueType::REAL:
      if (fits(8)) set_real(out, load<double>(p));
      return;
    case ValueType::BFLOAT4:
      if (fits(4)) set_real(out, vtn::bfloat4_to_real(p));
      return;
    case ValueType::BFLOAT8:
      if (fits(8)) set_real(out, vtn::bfloat8_to_real(p));
      return;
    case ValueType::DATE:
      if (fits(4)) set_iso(iso_date(std::span<const uint8_t, 4>(p, 4)));
      return;
    case ValueType::TIME:
      if (fits(4)) set_iso(iso_time(std::span<const uint8_t, 4>(p, 4)));
      return;
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL: {
      if (column.size == 0) return;
      vtn::DecimalStack& decimals = vtn::decimal_stack();
      if (column.type == static_cast<uint8_t>(ValueType::DECIMAL)) {
        decimals.push_decimal(p, column.size, column.places);
      } else {
        decimals.push_pdecimal(p, column.size, column.places);
      }
      out.kind = FieldValue::Kind::exact;
      out.text = decimals.pop_text();
      if (column.places > 0) {  // every place shown, as declared: "12.50", "0.00"
        size_t point = out.text.find('.');
        if (point == std::string::npos) {
          point = out.text.size();
          out.text += '.';
        }
        out.text.append(
            column.places - std::min<size_t>(column.places, out.text.size() - point - 1), '0');
      }
      return;
    }
    case ValueType::STRING:
      set_text(out, clip(bytes), oem);
      return;
    case ValueType::CSTRING:
      set_text(out, bytes.substr(0, bytes.find('\0')), oem);
      return;
    case ValueType::PSTRING: {
      const size_t length =
          std::min<size_t>(column.size > 0 ? p[0] : 0, column.size > 0 ? column.size - 1 : 0);
      set_text(out, bytes.substr(column.size > 0 ? 1 : 0, length), oem);
      return;
    }
    default:
      return;
  }
}

FieldValue memo_value(const tw::MemoDefinition& memo, const std::vector<uint8_t>& contents,
                      bool oem) {
  std::string bytes(contents.begin(), contents.end());
  if (memo.is_blob() || (memo.flags & tw::kMemoBinary)) {
    return {FieldValue::Kind::blob, 0, 0, std::move(bytes)};
  }
  FieldValue value{FieldValue::Kind::text, 0, 0, {}};
  append_utf8(value.text, bytes, oem);
  return value;
}

}  // namespace twl
