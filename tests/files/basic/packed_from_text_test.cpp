// Numbers read from a line into DECIMAL and PDECIMAL storage: the direct conversion must store
// exactly the bytes that the decimal stack stores for the same text, field and places.
#include "runtime/files/basic/packed_from_text.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "runtime/values/decimal.hpp"

namespace vtn::basic {
namespace {

struct Field {
  uint32_t bytes;
  uint32_t places;
};

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// The bytes the decimal stack stores.
std::vector<uint8_t> through_stack(std::string_view text, PackedLayout layout, Field f) {
  std::vector<uint8_t> out(f.bytes + 1, 0xAA);
  decimal_stack().push_text(text);
  if (layout == PackedLayout::kSignFirst)
    decimal_stack().pop_decimal(out.data(), f.bytes, f.places);
  else
    decimal_stack().pop_pdecimal(out.data(), f.bytes, f.places);
  return out;
}

std::vector<uint8_t> direct(std::string_view text, PackedLayout layout, Field f) {
  std::vector<uint8_t> out(f.bytes + 1, 0xAA);
  store_packed_text(text, layout, out.data(), f.bytes, f.places);
  return out;
}

void expect_same(std::string_view text, PackedLayout layout, Field f) {
  ASSERT_EQ(hex(direct(text, layout, f)), hex(through_stack(text, layout, f)))
      << "text \"" << text << "\" bytes " << f.bytes << " places " << f.places
      << (layout == PackedLayout::kSignFirst ? " DECIMAL" : " PDECIMAL");
}

constexpr PackedLayout kLayouts[] = {PackedLayout::kSignFirst, PackedLayout::kSignLast};

TEST(PackedFromText, KnownValues) {
  struct Case {
    const char* text;
    Field field;
    const char* decimal_hex;  // DECIMAL storage, then the guard byte
  };
  const Case cases[] = {
      {"0.01", {5, 2}, "0000000001AA"},
      {"-12.345", {3, 2}, "F01235AA"},  // rounded half away from zero
      {"-0.004", {3, 2}, "000000AA"},   // rounds to zero: no sign
      {"123456", {2, 0}, "0456AA"},     // digits above the field are dropped
      {"7,5", {2, 1}, "0075AA"},        // a comma is a point
      {"+5", {2, 0}, "0000AA"},         // a plus sign ends the number
      {"  -3", {2, 0}, "F003AA"},       // leading blanks
      {"9.995", {2, 2}, "0000AA"},      // 10.00 does not fit three digits
      {"1.5e2", {3, 0}, "000150AA"},    // an exponent after a point
      {"0000000000000000000000012", {2, 0}, "0012AA"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex(direct(c.text, PackedLayout::kSignFirst, c.field)), c.decimal_hex) << c.text;
    for (PackedLayout layout : kLayouts) expect_same(c.text, layout, c.field);
  }
}

// Random texts of every shape the parser hands over (and some it never does), into random
// fields: the direct conversion and the stack agree on every byte. VTN_PACKED_CASES sets the
// count (default one million, each in both layouts).
TEST(PackedFromText, AgreesWithTheDecimalStack) {
  const char* env = std::getenv("VTN_PACKED_CASES");
  const long cases = env != nullptr && std::atol(env) > 0 ? std::atol(env) : 1000000;
  std::mt19937_64 random(20261207);
  auto pick = [&](uint64_t n) { return static_cast<uint32_t>(random() % n); };
  auto digits = [&](uint32_t n) {
    std::string s;
    for (uint32_t i = 0; i < n; ++i) s += static_cast<char>('0' + pick(pick(4) == 0 ? 2 : 10));
    return s;
  };
  for (long i = 0; i < cases; ++i) {
    std::string text;
    if (pick(20) == 0) text.append(pick(3), ' ');
    if (pick(3) == 0) text += pick(8) == 0 ? '+' : '-';
    // Mostly short numbers (the direct way), sometimes long ones (the stack's way).
    const uint32_t longest = pick(10) == 0 ? 40 : 12;
    text += digits(pick(longest));
    if (pick(2) == 0) {
      text += pick(6) == 0 ? ',' : '.';
      text += digits(pick(longest));
    }
    if (pick(12) == 0) {
      text += pick(2) == 0 ? 'e' : 'E';
      if (pick(2) == 0) text += pick(2) == 0 ? '-' : '+';
      text += digits(pick(3));
    }
    if (pick(30) == 0) text += "x9";
    if (pick(500) == 0) text = std::string(100 + pick(20), '1') + "." + text;
    const uint32_t bytes = 1 + pick(16);
    const Field f{bytes, pick(10) == 0 ? pick(40) : pick(2 * bytes)};
    for (PackedLayout layout : kLayouts) expect_same(text, layout, f);
  }
}

}  // namespace
}  // namespace vtn::basic
