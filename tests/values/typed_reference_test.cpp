// Typed references to integers, reals, dates and times, and texts: stores, reads, conversions
// through the stacks, clears, hashes and the fatal paths.
#include "runtime/values/typed_reference.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/values/calendar.hpp"
#include "values/scratch_directory.hpp"

namespace vtn {
namespace {

using Bytes = std::vector<uint8_t>;

// Storage with a guard byte on each side, so that a store past its size shows.
struct Storage {
  explicit Storage(size_t size, uint8_t fill = 0xEE) : raw(size + 2, fill) {
    raw.front() = raw.back() = 0xA5;
  }
  uint8_t* data() { return raw.data() + 1; }
  Bytes bytes() const { return Bytes(raw.begin() + 1, raw.end() - 1); }
  bool guards_intact() const { return raw.front() == 0xA5 && raw.back() == 0xA5; }
  Bytes raw;
};

Bytes text_bytes(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

class TypedReferenceTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(string_stack().depth(), 0) << "the stack is unbalanced"; }
};

TEST_F(TypedReferenceTest, IntegerStoresKeepTheLowBytesAndTruncateReals) {
  const struct {
    ValueType type;
    bool from_real;
    int32_t long_value;
    double real_value;
    Bytes bytes;
    int32_t read;
  } cases[] = {
      {ValueType::SHORT, false, 70000, 0, {0x70, 0x11}, 4464},
      {ValueType::SHORT, true, 0, 3.99, {0x03, 0x00}, 3},
      {ValueType::SHORT, true, 0, -3.99, {0xFD, 0xFF}, -3},
      {ValueType::BYTE, false, 300, 0, {44}, 44},
      {ValueType::BYTE, false, -1, 0, {0xFF}, 255},
      {ValueType::USHORT, false, -1, 0, {0xFF, 0xFF}, 65535},
      {ValueType::LONG, false, -2, 0, {0xFE, 0xFF, 0xFF, 0xFF}, -2},
      {ValueType::LONG, true, 0, 3e9, {0x00, 0x5E, 0xD0, 0xB2}, -1294967296},
      {ValueType::LONG, true, 0, NAN, {0x00, 0x00, 0x00, 0x80}, INT32_MIN},
      {ValueType::LONG, true, 0, 1e300, {0x00, 0x00, 0x00, 0x80}, INT32_MIN},
      {ValueType::ULONG, false, -1, 0, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {ValueType::ULONG, true, 0, 3e9, {0x00, 0x5E, 0xD0, 0xB2}, -1294967296},
      {ValueType::BYTE, true, 0, 255.9, {0xFF}, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << value_type_name(c.type) << " " << c.long_value << " " << c.real_value);
    Storage s(c.bytes.size());
    auto r = make_typed_reference(c.type, s.data());
    if (c.from_real) {
      r->assign_real(c.real_value);
    } else {
      r->assign_long(c.long_value);
    }
    EXPECT_EQ(s.bytes(), c.bytes);
    EXPECT_TRUE(s.guards_intact());
    EXPECT_EQ(r->read_long(), c.read);
    EXPECT_EQ(r->size(), c.bytes.size());
    EXPECT_EQ(r->natural_kind(), ValueType::LONG);
  }
  uint32_t big = 0;
  auto u = make_typed_reference(ValueType::ULONG, &big);
  u->assign_real(4294967295.0);
  EXPECT_EQ(u->read_real(), 4294967295.0);
}

TEST_F(TypedReferenceTest, ClearSetsZeroHighestOrLowest) {
  const struct {
    ValueType type;
    uint32_t size;
    Bytes zero, highest, lowest;
  } cases[] = {
      {ValueType::BYTE, 1, {0}, {0xFF}, {0}},
      {ValueType::SHORT, 2, {0, 0}, {0xFF, 0x7F}, {0x00, 0x80}},
      {ValueType::USHORT, 2, {0, 0}, {0xFF, 0xFF}, {0, 0}},
      {ValueType::LONG, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0x7F}, {0, 0, 0, 0x80}},
      {ValueType::ULONG, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}},
      {ValueType::DATE, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}},
      {ValueType::TIME, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}},
      {ValueType::BFLOAT4, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0x7F, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {ValueType::BFLOAT8,
       8,
       Bytes(8, 0),
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF},
       Bytes(8, 0xFF)},
      {ValueType::SREAL, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0x7F, 0x7F}, {0xFF, 0xFF, 0x7F, 0xFF}},
      {ValueType::REAL,
       8,
       Bytes(8, 0),
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x7F},
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xFF}},
      {ValueType::GROUP, 3, {' ', ' ', ' '}, {0xFF, 0xFF, 0xFF}, {0, 0, 0}},
      {ValueType::STRING, 3, {' ', ' ', ' '}, {0xFF, 0xFF, 0xFF}, {0, 0, 0}},
      {ValueType::CSTRING, 4, {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}, {0, 0, 0, 0}},
      {ValueType::PSTRING, 4, {0, ' ', ' ', ' '}, {3, 0xFF, 0xFF, 0xFF}, {3, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(value_type_name(c.type));
    Storage s(c.size);
    auto r = make_typed_reference(c.type, s.data(), c.size);
    r->clear(0);
    EXPECT_EQ(s.bytes(), c.zero);
    EXPECT_TRUE(r->is_empty() || c.type == ValueType::PSTRING);
    r->clear(1);
    EXPECT_EQ(s.bytes(), c.highest);
    r->clear(-5);
    EXPECT_EQ(s.bytes(), c.lowest);
    EXPECT_TRUE(s.guards_intact());
  }
  int32_t value = 0;
  auto r = make_typed_reference(ValueType::LONG, &value);
  r->clear(1);
  EXPECT_EQ(value, 2147483647);
  r->clear(-1);
  EXPECT_EQ(value, INT32_MIN);
  double real = 1;
  auto d = make_typed_reference(ValueType::REAL, &real);
  d->clear(1);
  EXPECT_EQ(real, DBL_MAX);
  d->clear(-1);
  EXPECT_EQ(real, -DBL_MAX);
  d->clear(0);
  EXPECT_EQ(real, 0.0);
}

TEST_F(TypedReferenceTest, FloatingKinds) {
  const struct {
    ValueType type;
    double stored;
    double read;
    int32_t read_long;
  } cases[] = {
      {ValueType::REAL, -2.75, -2.75, -2},
      {ValueType::SREAL, 0.1, static_cast<float>(0.1), 0},
      {ValueType::BFLOAT4, 1.0, 1.0, 1},
      {ValueType::BFLOAT4, -10.0, -10.0, -10},
      {ValueType::BFLOAT8, 123.456, 123.456, 123},
      {ValueType::BFLOAT8, -1e-300, 0.0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << value_type_name(c.type) << " " << c.stored);
    Storage s(8);
    auto r = make_typed_reference(c.type, s.data());
    r->assign_real(c.stored);
    EXPECT_EQ(r->read_real(), c.read);
    EXPECT_EQ(r->read_long(), c.read_long);
    EXPECT_EQ(r->natural_kind(), ValueType::REAL);
    r->assign_long(-7);
    EXPECT_EQ(r->read_real(), -7.0);
  }
  std::array<uint8_t, 4> mbf{};
  make_typed_reference(ValueType::BFLOAT4, mbf.data())->assign_long(1);
  EXPECT_EQ(mbf, (std::array<uint8_t, 4>{0, 0, 0, 0x81}));
}

TEST_F(TypedReferenceTest, DateStoresCalendarFieldsAndReadsSerials) {
  const int32_t dec_7_2026 = date_to_serial({2026, 7, 12});
  ASSERT_EQ(dec_7_2026, 82524);
  const struct {
    Bytes stored;  // day, month, year low, year high
    int32_t serial;
  } reads[] = {
      {{7, 12, 0xEA, 0x07}, 82524},
      {{1, 1, 0x09, 0x07}, 4},
      {{31, 12, 0x0F, 0x27}, kLastDateSerial},
      {{0, 0, 0, 0}, 0},                      // no date
      {{1, 1, 0x10, 0x27}, kLastDateSerial},  // year 10000
      {{0xFF, 0xFF, 0xFF, 0xFF}, kLastDateSerial},
      {{30, 2, 0xE8, 0x07}, 0},  // 30 February 2024
      {{1, 13, 0xE8, 0x07}, 0},
      {{31, 12, 0x08, 0x07}, 0},  // 1800: before the first date
  };
  for (const auto& c : reads) {
    Storage s(4);
    std::memcpy(s.data(), c.stored.data(), 4);
    EXPECT_EQ(make_typed_reference(ValueType::DATE, s.data())->read_long(), c.serial)
        << int(c.stored[0]) << "." << int(c.stored[1]);
  }
  const struct {
    int32_t serial;
    Bytes stored;
  } stores[] = {
      {82524, {7, 12, 0xEA, 0x07}},
      {kLastDateSerial, {31, 12, 0x0F, 0x27}},
      {kLastDateSerial + 1, {0, 0, 0, 0}},
      {3, {0, 0, 0, 0}},
      {-5, {0, 0, 0, 0}},
  };
  for (const auto& c : stores) {
    Storage s(4);
    make_typed_reference(ValueType::DATE, s.data())->assign_long(c.serial);
    EXPECT_EQ(s.bytes(), c.stored) << c.serial;
  }
  // A REAL serial is truncated first; the stored bytes sort as the dates do.
  uint32_t earlier = 0, later = 0;
  make_typed_reference(ValueType::DATE, &earlier)->assign_real(82524.9);
  make_typed_reference(ValueType::DATE, &later)->assign_long(82525);
  EXPECT_EQ(make_typed_reference(ValueType::DATE, &earlier)->read_long(), 82524);
  EXPECT_LT(earlier, later);
}

TEST_F(TypedReferenceTest, TimeStoresClockFieldsAndReadsSerials) {
  const struct {
    Bytes stored;  // hundredths, seconds, minutes, hours
    int32_t serial;
  } reads[] = {
      {{0, 0, 0, 0}, 0},
      {{1, 0, 0, 0}, 2},
      {{99, 59, 59, 23}, kLastTimeSerial},
      {{0, 30, 15, 10}, 10 * 360000 + 15 * 6000 + 30 * 100 + 1},
      {{0, 0, 0, 24}, -1},
      {{0, 60, 0, 0}, -1},
      {{100, 0, 0, 0}, -1},
  };
  for (const auto& c : reads) {
    Storage s(4);
    std::memcpy(s.data(), c.stored.data(), 4);
    EXPECT_EQ(make_typed_reference(ValueType::TIME, s.data())->read_long(), c.serial);
  }
  const struct {
    int32_t serial;
    Bytes stored;
  } stores[] = {
      {kLastTimeSerial, {99, 59, 59, 23}},
      {2, {1, 0, 0, 0}},
      {kLastTimeSerial + 1, {0, 0, 0, 0}},
      {0, {0, 0, 0, 0}},
      {-1, {0, 0, 0, 0}},
  };
  for (const auto& c : stores) {
    Storage s(4, 0x77);
    make_typed_reference(ValueType::TIME, s.data())->assign_long(c.serial);
    EXPECT_EQ(s.bytes(), c.stored) << c.serial;
  }
}

TEST_F(TypedReferenceTest, TextStoresCutAndPad) {
  const struct {
    ValueType type;
    uint32_t size;
    Bytes stored;
    std::string_view text;  // what push_string gives
  } cases[] = {
      {ValueType::STRING, 8, text_bytes("hello   "), "hello   "},
      {ValueType::STRING, 3, text_bytes("hel"), "hel"},
      {ValueType::GROUP, 6, text_bytes("hello "), "hello "},
      {ValueType::CSTRING, 4, {'h', 'e', 'l', 0}, "hel"},
      {ValueType::CSTRING, 8, {'h', 'e', 'l', 'l', 'o', 0, 0xEE, 0xEE}, "hello"},
      {ValueType::PSTRING, 4, {3, 'h', 'e', 'l'}, "hel"},
      {ValueType::PSTRING, 8, {5, 'h', 'e', 'l', 'l', 'o', 0xEE, 0xEE}, "hello"},
  };
  const char hello[] = "hello";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << value_type_name(c.type) << "(" << c.size << ")");
    Storage s(c.size);
    auto r = make_typed_reference(c.type, s.data(), c.size);
    EXPECT_EQ(r->type(), c.type);
    EXPECT_EQ(r->natural_kind(), ValueType::STRING);
    string_stack().push_borrowed(hello, 5);
    r->pop_string();
    EXPECT_EQ(s.bytes(), c.stored);
    EXPECT_TRUE(s.guards_intact());
    r->push_string();
    EXPECT_EQ(string_stack().pop_string(), c.text);
    // A text reference as source gives the same store.
    char source_bytes[5] = {'h', 'e', 'l', 'l', 'o'};
    auto source = make_typed_reference(ValueType::STRING, source_bytes, 5);
    Storage t(c.size);
    make_typed_reference(c.type, t.data(), c.size)->assign(*source);
    EXPECT_EQ(t.bytes(), c.stored);
  }
}

TEST_F(TypedReferenceTest, PstringHoldsAt255Characters) {
  // The length byte cannot count more, whatever the declared size.
  Storage s(300);
  auto r = make_typed_reference(ValueType::PSTRING, s.data(), 300);
  const std::string long_text(299, 'x');
  string_stack().push_borrowed(long_text);
  r->pop_string();
  EXPECT_EQ(s.data()[0], 255);
  EXPECT_EQ(s.data()[256], 0xEE);
  r->push_string();
  EXPECT_EQ(string_stack().pop_string(), std::string(255, 'x'));
  Storage tiny(3);
  auto t = make_typed_reference(ValueType::PSTRING, tiny.data(), 3);
  tiny.data()[0] = 200;  // a damaged length byte reads only as far as the field goes
  t->push_string();
  EXPECT_EQ(string_stack().pop_string().size(), 2u);
  uint8_t out[3];
  EXPECT_EQ(t->copy_out(out), 3u);
}

TEST_F(TypedReferenceTest, NumbersAndTextConvertBothWays) {
  char text[10];
  auto t = make_typed_reference(ValueType::STRING, text, sizeof text);
  int32_t number = -7;
  auto n = make_typed_reference(ValueType::LONG, &number);
  double real = 100.0;
  auto d = make_typed_reference(ValueType::REAL, &real);

  t->assign(*n);
  EXPECT_EQ(std::string(text, 10), "-7        ");
  t->assign(*d);
  EXPECT_EQ(std::string(text, 10), "100       ");
  t->assign_real(0.1);
  EXPECT_EQ(std::string(text, 10), "0.1       ");
  uint32_t big = 3000000000u;
  t->assign(*make_typed_reference(ValueType::ULONG, &big));
  EXPECT_EQ(std::string(text, 10), "3000000000");

  const struct {
    std::string_view text;
    int32_t as_long;
    double as_real;
  } reads[] = {
      {"  -12.50", -12, -12.5}, {"+5", 0, 5.0},   {"1E3", 1, 1000.0},
      {"1.E3", 1000, 1000.0},   {"3,75", 3, 3.0}, {"abc", 0, 0.0},
  };
  for (const auto& c : reads) {
    SCOPED_TRACE(c.text);
    t->clear(0);
    std::memcpy(text, c.text.data(), c.text.size());
    EXPECT_EQ(t->read_long(), c.as_long);
    EXPECT_EQ(t->read_real(), c.as_real);
    n->assign(*t);
    EXPECT_EQ(number, c.as_long);
    n->assign_natural(*t);
    EXPECT_EQ(number, c.as_long);
    d->assign(*t);
    EXPECT_EQ(real, c.as_real);
  }
}

TEST_F(TypedReferenceTest, CompareThroughTheCommonKind) {
  char ab[2] = {'a', 'b'};
  char ab_blanks[5] = {'a', 'b', ' ', ' ', ' '};
  char abc[3] = {'a', 'b', 'c'};
  char twelve[4] = {'1', '2', ' ', ' '};
  int32_t long_12 = 12, long_minus_1 = -1;
  uint32_t ulong_big = 3000000000u;
  double real_12_5 = 12.5;
  auto s_ab = make_typed_reference(ValueType::STRING, ab, 2);
  auto s_ab_blanks = make_typed_reference(ValueType::STRING, ab_blanks, 5);
  auto s_abc = make_typed_reference(ValueType::STRING, abc, 3);
  auto s_12 = make_typed_reference(ValueType::STRING, twelve, 4);
  auto l_12 = make_typed_reference(ValueType::LONG, &long_12);
  auto l_m1 = make_typed_reference(ValueType::LONG, &long_minus_1);
  auto u_big = make_typed_reference(ValueType::ULONG, &ulong_big);
  auto r_12_5 = make_typed_reference(ValueType::REAL, &real_12_5);
  const struct {
    const TypedReference* a;
    const TypedReference* b;
    int result;
  } cases[] = {
      {s_ab.get(), s_ab_blanks.get(), 0}, {s_ab_blanks.get(), s_ab.get(), 0},
      {s_ab.get(), s_abc.get(), -1},      {s_abc.get(), s_ab_blanks.get(), 1},
      {l_12.get(), l_m1.get(), 1},        {u_big.get(), l_m1.get(), 1},
      {l_m1.get(), u_big.get(), -1},      {r_12_5.get(), l_12.get(), 1},
      {s_12.get(), r_12_5.get(), -1},     {r_12_5.get(), s_12.get(), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a->compare(*c.b), c.result);
    EXPECT_EQ(c.a->compare_mixed(*c.b), c.result);
  }
  const struct {
    const TypedReference* a;
    int32_t value;
    int result;
  } with_long[] = {
      {l_12.get(), 12, 0},   {l_12.get(), 13, -1},   {u_big.get(), -1, 1},
      {r_12_5.get(), 12, 1}, {r_12_5.get(), 13, -1},
  };
  for (const auto& c : with_long) EXPECT_EQ(c.a->compare_long(c.value), c.result);
}

TEST_F(TypedReferenceTest, HashAndCopyOutCoverTheStoredBytes) {
  const struct {
    ValueType type;
    Bytes storage;
    Bytes stored;  // the bytes that count
    uint32_t hash;
  } cases[] = {
      {ValueType::LONG, {1, 0, 0, 0}, {1, 0, 0, 0}, 0x5A55BC3A},
      {ValueType::STRING, text_bytes("ab      "), text_bytes("ab      "), 0xA926352E},
      {ValueType::CSTRING, {'a', 'b', 'c', 0, 'x', 'y', 'z', 0}, {'a', 'b', 'c', 0}, 0x5A5A98FA},
      {ValueType::PSTRING, {3, 'a', 'b', 'c', 'x', 'y'}, {3, 'a', 'b', 'c'}, 0x5A54B1D2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(value_type_name(c.type));
    Bytes storage = c.storage;
    auto r = make_typed_reference(c.type, storage.data(), static_cast<uint32_t>(storage.size()));
    EXPECT_EQ(r->hash(), c.hash);
    Bytes out(storage.size(), 0xEE);
    const uint32_t n = r->copy_out(out.data());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.stored);
  }
  // Equal values hash alike whatever lies beyond the text.
  char a[6] = {'x', 'y', 0, 'p', 'q', 'r'};
  char b[6] = {'x', 'y', 0, 0, 0, 0};
  EXPECT_EQ(make_typed_reference(ValueType::CSTRING, a, 6)->hash(),
            make_typed_reference(ValueType::CSTRING, b, 6)->hash());
}

TEST_F(TypedReferenceTest, SlicesReferToPartOfTheText) {
  char text[11];
  std::memcpy(text, "hello world", 11);
  auto r = make_typed_reference(ValueType::STRING, text, 11);
  auto world = r->slice(7, 11);
  ASSERT_NE(world, nullptr);
  EXPECT_EQ(world->type(), ValueType::STRING);
  EXPECT_EQ(world->size(), 5u);
  world->push_string();
  EXPECT_EQ(string_stack().pop_string(), "world");
  world->assign_long(42);
  EXPECT_EQ(std::string(text, 11), "hello 42   ");
  r->character(1)->assign_long(7);
  EXPECT_EQ(std::string(text, 11), "7ello 42   ");
  EXPECT_EQ(r->slice(3, 2)->size(), 0u);  // an empty part

  uint8_t p[6] = {2, 'a', 'b', 'c', 'd', 'e'};
  auto ps = make_typed_reference(ValueType::PSTRING, p, 6);
  ps->slice(4, 5)->clear(0);
  EXPECT_EQ(Bytes(p, p + 6), (Bytes{2, 'a', 'b', 'c', ' ', ' '}));
}

TEST_F(TypedReferenceTest, ReferencesShareOrOwnTheirStorage) {
  int16_t value = 5;
  auto r = make_typed_reference(ValueType::SHORT, &value);
  auto twin = r->clone();
  twin->assign_long(9);
  EXPECT_EQ(value, 9);
  EXPECT_EQ(twin->address(), &value);
  EXPECT_TRUE(r->same_type_info(*twin));
  EXPECT_EQ(r->flags(), 0);

  int16_t other = -3;
  r->set_address(&other);
  EXPECT_EQ(r->read_long(), -3);
  r->release();
  EXPECT_EQ(r->address(), nullptr);

  const struct {
    ValueType code;
    uint32_t size;
    ValueType type;
    uint32_t expected_size;
  } temporaries[] = {
      {ValueType::TEMP_LONG, 0, ValueType::LONG, 4},
      {ValueType::TEMP_REAL, 0, ValueType::REAL, 8},
      {ValueType::TEMP_STRING, 12, ValueType::STRING, 12},
  };
  for (const auto& c : temporaries) {
    auto t = make_typed_reference(c.code, nullptr, c.size);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->type(), c.type);
    EXPECT_EQ(t->size(), c.expected_size);
    EXPECT_EQ(t->flags() & TypedReference::kOwnsBuffer, TypedReference::kOwnsBuffer);
    EXPECT_NE(t->address(), nullptr);
    EXPECT_TRUE(t->is_empty());
    t->assign_long(123);
    EXPECT_EQ(t->read_long(), 123);
    t->release();
    EXPECT_EQ(t->flags(), 0);
    EXPECT_EQ(t->address(), nullptr);
  }
}

TEST_F(TypedReferenceTest, CopyFromCopiesBytesOfTheSameTypeAndConvertsOthers) {
  char a[4] = {'a', 'b', 'c', 'd'};
  char b[4] = {'w', 'x', 'y', 'z'};
  char shorter[2] = {'q', 'r'};
  auto ra = make_typed_reference(ValueType::STRING, a, 4);
  ra->copy_from(*make_typed_reference(ValueType::STRING, b, 4));
  EXPECT_EQ(std::string(a, 4), "wxyz");
  ra->copy_from(*make_typed_reference(ValueType::STRING, shorter, 2));
  EXPECT_EQ(std::string(a, 4), "qr  ");
  EXPECT_FALSE(ra->same_type_info(*make_typed_reference(ValueType::STRING, shorter, 2)));

  int32_t l = 0;
  int16_t s = -2;
  auto rl = make_typed_reference(ValueType::LONG, &l);
  rl->copy_from(*make_typed_reference(ValueType::SHORT, &s));
  EXPECT_EQ(l, -2);
}

TEST_F(TypedReferenceTest, AddThroughTheCommonKind) {
  int32_t l = 2147483647;
  auto rl = make_typed_reference(ValueType::LONG, &l);
  int16_t one = 1;
  rl->add(*make_typed_reference(ValueType::SHORT, &one));
  EXPECT_EQ(l, INT32_MIN);  // wraps like every integer store
  double d = 0.5;
  auto rd = make_typed_reference(ValueType::REAL, &d);
  rd->add(*rl);
  EXPECT_EQ(d, -2147483647.5);
}

TEST_F(TypedReferenceTest, VariantsAndCodePages) {
  char text[4];
  auto t = make_typed_reference(ValueType::STRING, text, 4);
  t->assign_variant(int32_t{12});
  EXPECT_EQ(std::string(text, 4), "12  ");
  t->assign_variant(2.5);
  EXPECT_EQ(std::string(text, 4), "2.5 ");
  t->assign_variant(std::u16string(u"\u0410\u0431"));  // Аб
  EXPECT_EQ(Bytes(text, text + 4), (Bytes{0xC0, 0xE1, ' ', ' '}));
  t->ansi_to_oem();
  EXPECT_EQ(Bytes(text, text + 4), (Bytes{0x80, 0xA1, ' ', ' '}));
  t->oem_to_ansi();
  EXPECT_EQ(Bytes(text, text + 4), (Bytes{0xC0, 0xE1, ' ', ' '}));
  t->assign_variant(std::monostate{});
  EXPECT_EQ(std::string(text, 4), "    ");
  EXPECT_TRUE(t->is_empty());
  EXPECT_TRUE(t->is_blank());

  int32_t n = 0;
  auto rn = make_typed_reference(ValueType::LONG, &n);
  rn->assign_variant(std::u16string(u"77"));
  EXPECT_EQ(n, 77);
  rn->ansi_to_oem();  // no effect on numbers
  EXPECT_EQ(n, 77);
}

TEST_F(TypedReferenceTest, AnyHoldsAValueOrWritesThroughItsBinding) {
  AnyValue any;
  auto a = make_typed_reference(ValueType::ANY, &any);
  EXPECT_EQ(a->type(), ValueType::ANY);
  EXPECT_EQ(a->read_long(), 0);  // holds nothing
  EXPECT_TRUE(a->is_empty());
  a->push_string();
  EXPECT_EQ(string_stack().pop_string(), "");

  a->assign_long(41);
  ASSERT_NE(any.target, nullptr);
  EXPECT_EQ(any.target->type(), ValueType::LONG);
  EXPECT_EQ(a->natural_kind(), ValueType::LONG);
  a->assign_real(2.5);  // a new value of the new kind
  EXPECT_EQ(any.target->type(), ValueType::REAL);
  EXPECT_EQ(a->read_real(), 2.5);
  string_stack().push_copy("some text");
  a->pop_string();
  EXPECT_EQ(any.target->type(), ValueType::STRING);
  EXPECT_EQ(a->size(), 9u);

  // A copy of the source's type, independent of the source afterwards.
  uint32_t date = 0;
  auto d = make_typed_reference(ValueType::DATE, &date);
  d->assign_long(82524);
  a->assign(*d);
  d->assign_long(4);
  EXPECT_EQ(any.target->type(), ValueType::DATE);
  EXPECT_EQ(a->read_long(), 82524);

  // Bound by reference: stores convert to the bound type.
  int16_t field = 0;
  any.bind(make_typed_reference(ValueType::SHORT, &field));
  a->assign_long(70000);
  EXPECT_EQ(field, 4464);
  a->assign_real(-3.99);
  EXPECT_EQ(field, -3);
  string_stack().push_copy("12");
  a->pop_string();
  EXPECT_EQ(field, 12);
  EXPECT_EQ(a->compare_long(12), 0);

  // Another reference to the same ANY sees the same binding; ANY_REFERENCE behaves alike.
  auto b = make_typed_reference(ValueType::ANY_REFERENCE, &any);
  EXPECT_EQ(b->type(), ValueType::ANY_REFERENCE);
  b->assign_long(5);
  EXPECT_EQ(field, 5);
  EXPECT_EQ(a->clone()->read_long(), 5);

  any.reset();
  EXPECT_EQ(a->read_long(), 0);
  a->assign_variant(int32_t{3});
  EXPECT_EQ(any.target->read_long(), 3);
  a->assign_variant(std::monostate{});
  EXPECT_EQ(any.target, nullptr);

  // An ANY made without storage keeps its own.
  auto own = make_owned_reference(ValueType::ANY);
  own->assign_long(8);
  EXPECT_EQ(own->read_long(), 8);
  EXPECT_EQ(own->flags() & TypedReference::kOwnsBuffer, TypedReference::kOwnsBuffer);
}

using TypedReferenceDeathTest = TypedReferenceTest;

TEST_F(TypedReferenceDeathTest, UnsupportedCodesAndOperationsAreFatal) {
  for (const ValueType code :
       {ValueType::END, ValueType::DUM1, ValueType::TEMPUFO, static_cast<ValueType>(17),
        ValueType::MEMO, ValueType::QUEUE, ValueType::BLOB, static_cast<ValueType>(44)}) {
    EXPECT_EXIT(make_typed_reference(code, nullptr, 4), ::testing::ExitedWithCode(2),
                "Runtime error: Internal error 01 : String Stack Error")
        << static_cast<int>(code);
  }
  int32_t value = 0;
  EXPECT_EXIT(make_typed_reference(ValueType::LONG, &value)->slice(1, 2),
              ::testing::ExitedWithCode(2), "Runtime error: Parameter typing error");
  EXPECT_EXIT(make_typed_reference(ValueType::REAL, &value)->character(1),
              ::testing::ExitedWithCode(2), "Runtime error: Parameter typing error");
  AnyValue empty;
  EXPECT_EXIT(make_typed_reference(ValueType::ANY, &empty)->slice(1, 1),
              ::testing::ExitedWithCode(2), "Runtime error: Parameter typing error");
}

TEST_F(TypedReferenceDeathTest, PartsOutsideTheTextAndNullStorageAreFatal) {
  char text[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EXIT(make_typed_reference(ValueType::STRING, text, 4)->slice(2, 5),
              ::testing::ExitedWithCode(2), "Runtime error: Index out of range");
  EXPECT_EXIT(make_typed_reference(ValueType::STRING, text, 4)->character(0),
              ::testing::ExitedWithCode(2), "Runtime error: Index out of range");
  EXPECT_EXIT(make_typed_reference(ValueType::CSTRING, text, 4)->slice(1, 4),
              ::testing::ExitedWithCode(2), "Runtime error: Index out of range");
  EXPECT_EXIT(make_typed_reference(ValueType::LONG, nullptr)->assign_long(1),
              ::testing::ExitedWithCode(2), "Runtime error: Null pointer de-reference");
}

}  // namespace
}  // namespace vtn
