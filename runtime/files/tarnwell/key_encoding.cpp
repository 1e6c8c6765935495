#include "runtime/files/tarnwell/key_encoding.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {
namespace {

constexpr size_t kAnsiRanks = 0, kOemRanks = 256, kPartner = 512, kClass = 768;
constexpr size_t kDigraphsAnsi = 1024, kDigraphsOem = 1072;

void put_digraphs(const std::array<Digraph, CharTables::kDigraphSlots>& d, uint8_t* out) {
  for (const Digraph& g : d) {
    *out++ = g.character;
    *out++ = g.first;
    *out++ = g.second;
  }
}

// The field's bytes in the opposite order (little-endian numbers become most significant byte
// first); the usual sizes in one swap.
void reverse_into(const uint8_t* in, size_t n, uint8_t* out) {
  switch (n) {
    case 2: {
      uint16_t v;
      std::memcpy(&v, in, 2);
      v = __builtin_bswap16(v);
      std::memcpy(out, &v, 2);
      return;
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, in, 4);
      v = __builtin_bswap32(v);
      std::memcpy(out, &v, 4);
      return;
    }
    case 8: {
      uint64_t v;
      std::memcpy(&v, in, 8);
      v = __builtin_bswap64(v);
      std::memcpy(out, &v, 8);
      return;
    }
    default:
      for (size_t i = 0; i < n; ++i) out[i] = in[n - 1 - i];
  }
}

void complement(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(255 - p[i]);
}

// A byte of text, mapped through case and collation.
uint8_t collate_byte(uint8_t b, bool case_insensitive, const TableCollation& c) {
  if (case_insensitive) b = c.upper(b);
  if (c.oem) b = platform::ansi_to_oem_char(b);
  return c.ranks()[b];
}

// The key value of `record` into `out`; `collate(to, from, n)` maps the n bytes of text at
// `from` into `to` (the two may be the same).
template <typename Collate>
void encode_with(const KeyShape& shape, std::span<const uint8_t> record, std::span<uint8_t> out,
                 Collate collate) {
  assert(out.size() >= shape.value_length);
  uint8_t* o = out.data();
  for (const KeyComponent& k : shape.components) {
    assert(size_t{k.offset} + k.size <= record.size());
    const uint8_t* f = record.data() + k.offset;
    const size_t n = k.size;
    bool descending = k.descending;
    switch (static_cast<ValueType>(k.type)) {
      case ValueType::STRING:
      case ValueType::GROUP:
        collate(o, f, n);
        break;
      case ValueType::CSTRING: {
        const auto* end = static_cast<const uint8_t*>(std::memchr(f, 0, n));
        const size_t used = end ? static_cast<size_t>(end - f) : n;
        std::memcpy(o, f, used);
        std::memset(o + used, 0, n - used);
        collate(o, o, n);
        break;
      }
      case ValueType::PSTRING: {
        const size_t used = n == 0 ? 0 : std::min<size_t>(f[0], n - 1);
        if (used) std::memcpy(o, f + 1, used);
        std::memset(o + used, 0, n - used);
        collate(o, o, n);
        break;
      }
      case ValueType::USHORT:
      case ValueType::ULONG:
      case ValueType::DATE:
      case ValueType::TIME:
        reverse_into(f, n, o);
        break;
      case ValueType::SHORT:
      case ValueType::LONG:
        reverse_into(f, n, o);
        if (n) o[0] ^= 0x80;
        break;
      case ValueType::SREAL:
      case ValueType::REAL:
        reverse_into(f, n, o);
        if (n && (o[0] & 0x80))
          descending = !descending;  // a negative value: complemented below
        else if (n)
          o[0] |= 0x80;
        break;
      case ValueType::DECIMAL:
        std::memcpy(o, f, n);
        if (n && (o[0] & 0xF0)) {
          o[0] &= 0x0F;
          descending = !descending;
        }
        if (n) o[0] ^= 0x80;
        break;
      default:
        std::memcpy(o, f, n);
        break;
    }
    if (descending) complement(o, n);
    o += n;
  }
}

}  // namespace

TableCollation collation_from(const CharTables& t, bool oem) {
  TableCollation c;
  c.oem = oem;
  uint8_t* b = c.bytes.data();
  std::copy(t.collation_ansi.begin(), t.collation_ansi.end(), b + kAnsiRanks);
  std::copy(t.collation_oem.begin(), t.collation_oem.end(), b + kOemRanks);
  std::copy(t.case_partner.begin(), t.case_partner.end(), b + kPartner);
  std::copy(t.case_class.begin(), t.case_class.end(), b + kClass);
  put_digraphs(t.digraphs_ansi, b + kDigraphsAnsi);
  put_digraphs(t.digraphs_oem, b + kDigraphsOem);
  return c;
}

TableCollation default_collation(bool oem) {
  CharTables t;
  reset_collation(t);
  t.collation_oem = t.collation_ansi;
  reset_case_tables(t);
  return collation_from(t, oem);
}

void encode_key_value(const KeyShape& shape, std::span<const uint8_t> record,
                      const TableCollation& collation, std::span<uint8_t> out) {
  const bool case_insensitive = shape.case_insensitive;
  encode_with(shape, record, out, [&](uint8_t* to, const uint8_t* from, size_t n) {
    for (size_t i = 0; i < n; ++i) to[i] = collate_byte(from[i], case_insensitive, collation);
  });
}

KeyEncoder::KeyEncoder(const KeyShape& shape, const TableCollation& collation) : shape_(shape) {
  for (size_t b = 0; b < text_map_.size(); ++b)
    text_map_[b] = collate_byte(static_cast<uint8_t>(b), shape.case_insensitive, collation);
}

void KeyEncoder::encode(std::span<const uint8_t> record, std::span<uint8_t> out) const {
  const uint8_t* map = text_map_.data();
  encode_with(shape_, record, out, [map](uint8_t* to, const uint8_t* from, size_t n) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {  // four independent lookups per step
      const uint8_t a = map[from[i]], b = map[from[i + 1]], c = map[from[i + 2]],
                    d = map[from[i + 3]];
      to[i] = a;
      to[i + 1] = b;
      to[i + 2] = c;
      to[i + 3] = d;
    }
    for (; i < n; ++i) to[i] = map[from[i]];
  });
}

}  // namespace vtn::tarnwell
