// Key values order records as their field values order: each case lists values of one field type
// in ascending order, and their encodings must compare (unsigned, byte by byte) in the same order,
// or in the reverse order for a descending component.
#include "runtime/files/tarnwell/key_encoding.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {
namespace {

using Raw = std::vector<uint8_t>;

template <typename T>
Raw raw(T v) {
  Raw r(sizeof v);
  std::memcpy(r.data(), &v, sizeof v);
  return r;
}

Raw text(std::string_view s, size_t size) {
  Raw r(size, ' ');
  std::memcpy(r.data(), s.data(), std::min(s.size(), size));
  return r;
}

Raw cstring(std::string_view s, size_t size) {
  Raw r(size, 0x55);  // garbage after the terminating zero must not count
  std::memcpy(r.data(), s.data(), s.size());
  r[s.size()] = 0;
  return r;
}

Raw pstring(std::string_view s, size_t size) {
  Raw r(size, 0x55);
  r[0] = static_cast<uint8_t>(s.size());
  std::memcpy(r.data() + 1, s.data(), s.size());
  return r;
}

// Packed decimal: sign nibble first (0 positive, 0xF negative), then digits.
Raw decimal(bool negative, std::initializer_list<uint8_t> bcd) {
  Raw r(bcd);
  if (negative) r[0] |= 0xF0;
  return r;
}

Raw encode(ValueType type, const Raw& field, bool descending = false, bool nocase = false,
           const TableCollation& c = default_collation(false)) {
  KeyShape shape;
  shape.components.push_back(
      {static_cast<uint8_t>(type), 0, static_cast<uint32_t>(field.size()), descending});
  shape.case_insensitive = nocase;
  shape.value_length = static_cast<uint32_t>(field.size());
  Raw out(field.size());
  encode_key_value(shape, field, c, out);
  return out;
}

struct OrderCase {
  const char* what;
  ValueType type;
  std::vector<Raw> ascending;  // values in ascending order
};

TEST(KeyEncoding, EncodingsSortAsTheirValues) {
  const std::vector<OrderCase> cases = {
      {"LONG",
       ValueType::LONG,
       {raw<int32_t>(INT32_MIN), raw<int32_t>(-1), raw<int32_t>(0), raw<int32_t>(1),
        raw<int32_t>(256), raw<int32_t>(INT32_MAX)}},
      {"SHORT",
       ValueType::SHORT,
       {raw<int16_t>(-300), raw<int16_t>(-1), raw<int16_t>(0), raw<int16_t>(255),
        raw<int16_t>(256)}},
      {"USHORT",
       ValueType::USHORT,
       {raw<uint16_t>(0), raw<uint16_t>(255), raw<uint16_t>(256), raw<uint16_t>(65535)}},
      {"ULONG",
       ValueType::ULONG,
       {raw<uint32_t>(1), raw<uint32_t>(0x100), raw<uint32_t>(0x80000000)}},
      {"DATE", ValueType::DATE, {raw<int32_t>(4), raw<int32_t>(80000), raw<int32_t>(2994626)}},
      {"REAL",
       ValueType::REAL,
       {raw(-1e300), raw(-2.5), raw(-1.0), raw(-1e-300), raw(0.0), raw(1e-300), raw(3.0),
        raw(1e300)}},
      {"SREAL", ValueType::SREAL, {raw(-2.5f), raw(-1.0f), raw(0.0f), raw(0.5f), raw(3.0f)}},
      {"DECIMAL",
       ValueType::DECIMAL,
       {decimal(true, {0x09, 0x99}), decimal(true, {0x00, 0x05}), decimal(false, {0x00, 0x00}),
        decimal(false, {0x00, 0x05}), decimal(false, {0x01, 0x00})}},
      {"STRING", ValueType::STRING, {text("", 4), text("A", 4), text("AB", 4), text("B", 4)}},
      {"CSTRING", ValueType::CSTRING, {cstring("", 5), cstring("A", 5), cstring("AB", 5)}},
      {"PSTRING", ValueType::PSTRING, {pstring("", 5), pstring("A", 5), pstring("AB", 5)}},
      {"BYTE", ValueType::BYTE, {Raw{0}, Raw{1}, Raw{255}}},
  };
  for (const OrderCase& c : cases) {
    for (bool descending : {false, true}) {
      for (size_t i = 0; i + 1 < c.ascending.size(); ++i) {
        const Raw a = encode(c.type, c.ascending[i], descending);
        const Raw b = encode(c.type, c.ascending[i + 1], descending);
        EXPECT_TRUE(descending ? b < a : a < b)
            << c.what << (descending ? " descending" : "") << " values " << i << ", " << i + 1;
      }
    }
  }
}

TEST(KeyEncoding, CaseInsensitiveKeysFoldThroughTheTablesCaseTables) {
  const TableCollation c = default_collation(false);
  EXPECT_EQ(encode(ValueType::STRING, text("smith", 8), false, true, c),
            encode(ValueType::STRING, text("SMITH", 8), false, true, c));
  EXPECT_NE(encode(ValueType::STRING, text("smith", 8), false, false, c),
            encode(ValueType::STRING, text("SMITH", 8), false, false, c));
  // The table's own tables decide, not the run-time's of the moment: a table made with Cyrillic
  // case pairs keeps folding them after the run-time's tables are reset.
  CharTables cyrillic;
  reset_collation(cyrillic);
  cyrillic.collation_oem = cyrillic.collation_ansi;
  reset_case_tables(cyrillic);
  cyrillic.case_partner[0xE0] = 0xC0;  // а -> А
  cyrillic.case_class[0xE0] = 2;
  cyrillic.case_partner[0xC0] = 0xE0;
  cyrillic.case_class[0xC0] = 1;
  const TableCollation table = collation_from(cyrillic, false);
  EXPECT_EQ(encode(ValueType::STRING, Raw{0xE0}, false, true, table),
            encode(ValueType::STRING, Raw{0xC0}, false, true, table));
  EXPECT_NE(encode(ValueType::STRING, Raw{0xE0}, false, true, c),
            encode(ValueType::STRING, Raw{0xC0}, false, true, c));
}

TEST(KeyEncoding, TextMapsThroughTheCollationRanks) {
  CharTables t;
  reset_collation(t);
  std::swap(t.collation_ansi['a'], t.collation_ansi['b']);  // "b" sorts before "a"
  t.collation_oem = t.collation_ansi;
  reset_case_tables(t);
  const TableCollation c = collation_from(t, false);
  EXPECT_LT(encode(ValueType::STRING, text("b", 1), false, false, c),
            encode(ValueType::STRING, text("a", 1), false, false, c));
  // An OEM table ranks the OEM form of each character by the OEM table.
  CharTables o;
  reset_collation(o);
  reset_case_tables(o);
  o.collation_oem[platform::ansi_to_oem_char(0xC0)] = 7;
  const TableCollation oem = collation_from(o, true);
  EXPECT_EQ(encode(ValueType::STRING, Raw{0xC0}, false, false, oem), Raw{7});
}

TEST(KeyEncoding, ComponentsFollowEachOtherAndDescendIndependently) {
  // -AGE (SHORT at 0), NAME (STRING(3) at 2): age descending, then name ascending.
  KeyShape shape;
  shape.components = {{static_cast<uint8_t>(ValueType::SHORT), 0, 2, true},
                      {static_cast<uint8_t>(ValueType::STRING), 2, 3, false}};
  shape.value_length = 5;
  auto key = [&](int16_t age, const char* name) {
    Raw record = raw(age);
    Raw n = text(name, 3);
    record.insert(record.end(), n.begin(), n.end());
    Raw out(5);
    encode_key_value(shape, record, default_collation(false), out);
    return out;
  };
  EXPECT_LT(key(40, "zed"), key(30, "abe"));
  EXPECT_LT(key(30, "abe"), key(30, "bob"));
  EXPECT_LT(key(30, "bob"), key(-5, "abe"));
}

// The encoder of a key build maps text through a table made once; it must give, for every shape
// and collation, the bytes the encoding of a single record gives.
TEST(KeyEncoding, TheBuildEncoderAgreesWithTheSingleEncoding) {
  using V = ValueType;
  auto component = [](V type, uint32_t offset, uint32_t size, bool descending) {
    return KeyComponent{static_cast<uint8_t>(type), offset, size, descending};
  };
  // A 32-byte record: STRING(8) at 0, CSTRING(6) at 8, PSTRING(6) at 14, LONG at 20, REAL at 24.
  const std::vector<KeyComponent> shapes[] = {
      {component(V::STRING, 0, 8, false)},
      {component(V::STRING, 0, 8, true), component(V::LONG, 20, 4, false)},
      {component(V::CSTRING, 8, 6, false), component(V::PSTRING, 14, 6, true)},
      {component(V::REAL, 24, 8, true), component(V::STRING, 0, 8, false)},
  };
  CharTables changed;
  reset_collation(changed);
  reset_case_tables(changed);
  std::swap(changed.collation_ansi['a'], changed.collation_ansi['z']);
  changed.collation_oem[0x80] = 3;
  const TableCollation collations[] = {default_collation(false), default_collation(true),
                                       collation_from(changed, false),
                                       collation_from(changed, true)};
  uint32_t seed = 1;
  auto next_byte = [&seed] {
    seed = seed * 1103515245 + 12345;
    return static_cast<uint8_t>(seed >> 16);
  };
  for (const auto& components : shapes) {
    for (bool nocase : {false, true}) {
      KeyShape shape;
      shape.components = components;
      shape.case_insensitive = nocase;
      for (const KeyComponent& k : components) shape.value_length += k.size;
      for (const TableCollation& c : collations) {
        const KeyEncoder encoder(shape, c);
        for (int n = 0; n < 200; ++n) {
          Raw record(32);
          for (auto& b : record) b = next_byte();
          record[14] = record[14] % 6;  // the PSTRING's count
          Raw single(shape.value_length), built(shape.value_length);
          encode_key_value(shape, record, c, single);
          encoder.encode(record, built);
          ASSERT_EQ(built, single) << "shape " << (&components - shapes) << " nocase " << nocase
                                   << " collation " << (&c - collations);
        }
      }
    }
  }
}

TEST(KeyEncoding, CollationRecordLayout) {
  CharTables t;
  reset_collation(t);
  t.collation_ansi[1] = 9;
  t.collation_oem[2] = 8;
  reset_case_tables(t);
  t.digraphs_ansi[0] = {0xC6, 'A', 'E'};
  t.digraphs_oem[0] = {0x92, 'A', 'E'};
  const TableCollation c = collation_from(t, true);
  EXPECT_EQ(c.bytes[1], 9);
  EXPECT_EQ(c.bytes[256 + 2], 8);
  EXPECT_EQ(c.bytes[512 + 'a'], 'A');
  EXPECT_EQ(c.bytes[768 + 'a'], 2);
  EXPECT_EQ(c.bytes[1024], 0xC6);
  EXPECT_EQ(c.bytes[1026], 'E');
  EXPECT_EQ(c.bytes[1072], 0x92);
  for (size_t i = 1120; i < c.bytes.size(); ++i) EXPECT_EQ(c.bytes[i], 0) << i;
}

}  // namespace
}  // namespace vtn::tarnwell
