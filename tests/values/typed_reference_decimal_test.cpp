// Typed references to packed decimals, and the conversions that go through the decimal stack
// (text read as a decimal, text compared with numbers, ANY holding a decimal).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference.hpp"

namespace vtn {
namespace {

using Bytes = std::vector<uint8_t>;

class TypedDecimalTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(string_stack().depth(), 0);
    EXPECT_EQ(decimal_stack().depth(), 0);
  }
};

TEST_F(TypedDecimalTest, StoresRoundHalfAwayFromZeroIntoBothLayouts) {
  const struct {
    ValueType type;
    uint32_t size, places;
    double value;
    Bytes bytes;
    std::string text;
  } cases[] = {
      {ValueType::DECIMAL, 3, 2, 2.345, {0x00, 0x02, 0x35}, "2.35"},
      {ValueType::DECIMAL, 3, 2, -2.345, {0xF0, 0x02, 0x35}, "-2.35"},
      {ValueType::DECIMAL, 3, 2, 2.344, {0x00, 0x02, 0x34}, "2.34"},
      {ValueType::DECIMAL, 2, 0, 0.5, {0x00, 0x01}, "1"},
      {ValueType::DECIMAL, 2, 0, -0.5, {0xF0, 0x01}, "-1"},
      {ValueType::DECIMAL, 3, 0, 123456, {0x02, 0x34, 0x56}, "23456"},  // high digits dropped
      {ValueType::DECIMAL, 2, 2, 0.1, {0x00, 0x10}, "0.1"},
      {ValueType::PDECIMAL, 3, 2, 2.345, {0x00, 0x23, 0x5F}, "2.35"},
      {ValueType::PDECIMAL, 3, 2, -2.345, {0x00, 0x23, 0x5D}, "-2.35"},
      {ValueType::PDECIMAL, 2, 1, 12.5, {0x12, 0x5F}, "12.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << value_type_name(c.type) << "(" << c.size << "," << c.places << ") " << c.value);
    Bytes storage(c.size, 0xEE);
    auto r = make_typed_reference(c.type, storage.data(), c.size, c.places);
    EXPECT_EQ(r->natural_kind(), ValueType::DECIMAL);
    EXPECT_EQ(r->size(), c.size);
    EXPECT_EQ(r->places(), c.places);
    r->assign_real(c.value);
    EXPECT_EQ(storage, c.bytes);
    r->push_string();
    EXPECT_EQ(string_stack().pop_string(), c.text);
  }
}

TEST_F(TypedDecimalTest, ReadsSignNibblesAsTheLayoutSays) {
  const struct {
    ValueType type;
    Bytes bytes;
    uint32_t places;
    double real;
    int32_t long_value;
  } cases[] = {
      {ValueType::DECIMAL, {0x10, 0x02, 0x99}, 2, -2.99, -2},  // any non-zero sign is negative
      {ValueType::DECIMAL, {0x00, 0x02, 0x99}, 2, 2.99, 2},
      {ValueType::PDECIMAL, {0x00, 0x29, 0x9B}, 2, 2.99, 2},  // only D is negative
      {ValueType::PDECIMAL, {0x00, 0x29, 0x9D}, 2, -2.99, -2},
      {ValueType::PDECIMAL, {0x00, 0x29, 0x9F}, 0, 299, 299},
  };
  for (const auto& c : cases) {
    Bytes storage = c.bytes;
    auto r = make_typed_reference(c.type, storage.data(), static_cast<uint32_t>(storage.size()),
                                  c.places);
    EXPECT_DOUBLE_EQ(r->read_real(), c.real);
    EXPECT_EQ(r->read_long(), c.long_value);
  }
}

TEST_F(TypedDecimalTest, ClearAndEmpty) {
  const struct {
    ValueType type;
    Bytes zero, highest, lowest;
  } cases[] = {
      {ValueType::DECIMAL, {0, 0, 0}, {0x09, 0x99, 0x99}, {0xF9, 0x99, 0x99}},
      {ValueType::PDECIMAL, {0, 0, 0x0F}, {0x99, 0x99, 0x9F}, {0x99, 0x99, 0x9D}},
  };
  for (const auto& c : cases) {
    Bytes storage(3, 0x55);
    auto r = make_typed_reference(c.type, storage.data(), 3, 1);
    r->clear(0);
    EXPECT_EQ(storage, c.zero);
    EXPECT_TRUE(r->is_empty());
    r->clear(1);
    EXPECT_EQ(storage, c.highest);
    EXPECT_EQ(r->compare_long(9999), 1);  // 9999.9 at one place
    EXPECT_EQ(r->compare_long(10000), -1);
    r->clear(-1);
    EXPECT_EQ(storage, c.lowest);
    EXPECT_FALSE(r->is_empty());
  }
  Bytes minus_zero = {0xF0, 0x00, 0x00};
  EXPECT_TRUE(make_typed_reference(ValueType::DECIMAL, minus_zero.data(), 3, 0)->is_empty());
}

TEST_F(TypedDecimalTest, TextReadAsADecimal) {
  const struct {
    std::string text;
    Bytes bytes;  // DECIMAL(3, 2)
  } cases[] = {
      {"3,75", {0x00, 0x03, 0x75}},      {"1E3", {0x00, 0x01, 0x00}}, {"1.E1", {0x00, 0x10, 0x00}},
      {"  -12.505", {0xF0, 0x12, 0x51}}, {"+5", {0x00, 0x00, 0x00}},  {"abc", {0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Bytes storage(3, 0xEE);
    auto d = make_typed_reference(ValueType::DECIMAL, storage.data(), 3, 2);
    std::vector<char> text(c.text.begin(), c.text.end());
    auto t =
        make_typed_reference(ValueType::STRING, text.data(), static_cast<uint32_t>(text.size()));
    d->assign(*t);
    EXPECT_EQ(storage, c.bytes);
    storage.assign(3, 0xEE);
    d->assign_natural(*t);
    EXPECT_EQ(storage, c.bytes);
  }
  // 1.E3 is a thousand: five digits at no places.
  char thousand[4] = {'1', '.', 'E', '3'};
  Bytes wide(3, 0);
  auto d = make_typed_reference(ValueType::DECIMAL, wide.data(), 3, 0);
  d->assign(*make_typed_reference(ValueType::STRING, thousand, 4));
  EXPECT_EQ(d->read_long(), 1000);
}

TEST_F(TypedDecimalTest, IntegersAndDecimalsMeetExactly) {
  uint32_t big = 3000000000u;
  Bytes storage(6, 0xEE);
  auto d = make_typed_reference(ValueType::DECIMAL, storage.data(), 6, 0);
  d->assign(*make_typed_reference(ValueType::ULONG, &big));
  EXPECT_EQ(storage, (Bytes{0x00, 0x30, 0x00, 0x00, 0x00, 0x00}));  // 11 digits, 3 x 10^9
  d->assign_long(-7);
  EXPECT_EQ(storage, (Bytes{0xF0, 0x00, 0x00, 0x00, 0x00, 0x07}));

  int32_t l = 0;
  auto rl = make_typed_reference(ValueType::LONG, &l);
  Bytes frac = {0xF0, 0x02, 0x99};  // -2.99
  auto rf = make_typed_reference(ValueType::DECIMAL, frac.data(), 3, 2);
  rl->assign(*rf);
  EXPECT_EQ(l, -2);
  EXPECT_EQ(rf->compare(*rl), -1);  // -2.99 below -2, as decimals
  EXPECT_EQ(rl->compare(*rf), 1);
  rf->add(*rl);  // -4.99
  EXPECT_EQ(frac, (Bytes{0xF0, 0x04, 0x99}));
}

TEST_F(TypedDecimalTest, TextComparedWithAndAddedToNumbers) {
  char twelve[6] = {'1', '2', ' ', ' ', ' ', ' '};
  char twelve_half[6] = {'1', '2', '.', '5', ' ', ' '};
  char word[6] = {'a', 'b', 'c', ' ', ' ', ' '};
  auto t12 = make_typed_reference(ValueType::STRING, twelve, 6);
  auto t12h = make_typed_reference(ValueType::STRING, twelve_half, 6);
  auto tw = make_typed_reference(ValueType::STRING, word, 6);
  EXPECT_EQ(t12->compare_long(12), 0);
  EXPECT_EQ(t12h->compare_long(12), 1);
  EXPECT_EQ(t12h->compare_long(13), -1);
  EXPECT_EQ(tw->compare_long(0), 0);  // not a number: 0
  int32_t eleven = 11;
  EXPECT_EQ(t12->compare(*make_typed_reference(ValueType::LONG, &eleven)), 1);

  char three[2] = {'3', ' '};
  t12->add(*make_typed_reference(ValueType::STRING, three, 2));  // two texts add as numbers
  EXPECT_EQ(std::string(twelve, 6), "15    ");
  t12h->add(*make_typed_reference(ValueType::LONG, &eleven));
  EXPECT_EQ(std::string(twelve_half, 6), "23.5  ");
}

TEST_F(TypedDecimalTest, AnyHoldsADecimalExactly) {
  AnyValue any;
  auto a = make_typed_reference(ValueType::ANY, &any);
  decimal_stack().push_text("1234567890.0123456789");
  a->pop_decimal();
  ASSERT_NE(any.target, nullptr);
  EXPECT_EQ(any.target->type(), ValueType::DECIMAL);
  a->push_string();
  EXPECT_EQ(string_stack().pop_string(), "1234567890.0123456789");
  a->push_decimal();
  decimal_stack().push_text("1234567890.0123456789");
  EXPECT_EQ(decimal_stack().compare(), 0);

  // Bound to a decimal field, stores round to its places.
  Bytes field(3, 0);
  any.bind(make_typed_reference(ValueType::DECIMAL, field.data(), 3, 2));
  a->assign_real(2.345);
  EXPECT_EQ(field, (Bytes{0x00, 0x02, 0x35}));
}

}  // namespace
}  // namespace vtn
