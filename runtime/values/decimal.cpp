#include "runtime/values/decimal.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/core/fatal_error.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/decimal_arithmetic.hpp"
#include "runtime/values/decimal_bcd.hpp"
#include "runtime/values/decimal_chunks.hpp"
#include "runtime/values/decimal_fast_path.hpp"
#include "runtime/values/decimal_number.hpp"
#include "runtime/values/decimal_packed.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {

using decimal::kTop;
using decimal::kUnits;

namespace {

constexpr int32_t kStackFault = 501;
constexpr const char* kStackFaultText = "Decimal Stack Error";

constexpr int kRealDigitsIn = 15;
constexpr int kRealDigitsOut = 16;
constexpr double kPowersOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

void set_unsigned(DecimalNumber& v, uint32_t magnitude) {
  v.coefficient = {magnitude, 0, 0, 0};
  v.exponent = 0;
  v.sign = 0;
}

// Writes `digits` significant digits of `magnitude` as "d.ddd...e+NN" followed by a NUL (correctly
// rounded, ties to even) and returns the decimal exponent of the first digit.
int scientific_digits(double magnitude, int digits, char* text, size_t size) {
  const auto written =
      std::to_chars(text, text + size - 1, magnitude, std::chars_format::scientific, digits - 1);
  *written.ptr = '\0';
  return std::atoi(text + digits + 2);  // after "d.ddd...e"
}

// True when the exact decimal expansion of `magnitude` ends with a 5 in the 16th significant
// digit: the value lies exactly halfway between two 15-digit decimals. The exact expansion (a
// double has at most 767 significant digits) is needed only when 21 digits already show the
// pattern.
bool is_halfway_at_16_digits(double magnitude) {
  char probe[40];
  scientific_digits(magnitude, 21, probe, sizeof probe);  // probe[k] is digit k for k >= 2
  if (std::strncmp(probe + 16, "500000", 6) != 0) return false;
  char exact[800];
  scientific_digits(magnitude, 771, exact, sizeof exact);
  if (exact[16] != '5') return false;
  for (const char* p = exact + 17; *p != 'e'; ++p) {
    if (*p != '0') return false;
  }
  return true;
}

}  // namespace

DecimalStack& decimal_stack() {
  static DecimalStack stack;
  return stack;
}

DecimalValue& DecimalStack::entry(int n) {
  Slot& slot = slots_[depth_ - n];
  if (slot.form != Form::kDigits) {
    if (slot.form != Form::kBinary) to_binary(slot);
    decimal::to_digits(slot.number, slot.digits);
    slot.form = Form::kDigits;
  }
  return slot.digits;
}

void DecimalStack::to_binary(Slot& slot) {
  DecimalNumber& v = slot.number;
  switch (slot.form) {
    case Form::kBinary:
      return;
    case Form::kPacked:
      decimal::bcd::to_binary(v);
      break;
    case Form::kChunks:
      // What the general multiplication and division do to their results.
      v.coefficient = decimal::chunks::to_binary(v.coefficient);
      decimal::wrap(v);
      decimal::normalise(v);
      break;
    case Form::kDigits:
      decimal::to_number(slot.digits, v);
      break;
  }
  slot.form = Form::kBinary;
}

inline DecimalNumber& DecimalStack::binary(Slot& slot) {
  if (slot.form == Form::kPacked) {
    decimal::bcd::to_binary(slot.number);
    slot.form = Form::kBinary;
  } else if (slot.form != Form::kBinary) {
    to_binary(slot);
  }
  return slot.number;
}

// The digit form, or the binary or packed one (whose sign and zero read alike); chunks turn
// binary first, since the digits beyond the 32 integer places they may hold can leave a zero.
template <typename Change>
auto DecimalStack::with_signed_value(Slot& slot, Change change) {
  if (slot.form == Form::kDigits) return change(slot.digits);
  if (slot.form == Form::kChunks) to_binary(slot);
  return change(slot.number);
}

DecimalStack::Slot& DecimalStack::push_slot() {
  if (depth_ >= kCapacity) {
    fatal_runtime_error(kStackFault, kStackFaultText);
    // Reached only after the program procedure has returned: reuse the top entry.
    depth_ = kCapacity - 1;
  }
  return slots_[depth_++];
}

DecimalNumber& DecimalStack::push_binary() {
  Slot& slot = push_slot();
  slot.form = Form::kBinary;
  return slot.number;
}

DecimalNumber& DecimalStack::push_number() {
  DecimalNumber& v = push_binary();
  decimal::set_zero(v);
  return v;
}

DecimalValue& DecimalStack::push_digits() {
  Slot& slot = push_slot();
  slot.form = Form::kDigits;
  decimal::set_zero(slot.digits);
  return slot.digits;
}

void DecimalStack::require(int n) {
  if (depth_ >= n) return;
  fatal_runtime_error(kStackFault, kStackFaultText);
  while (depth_ < n) push_number();
}

DecimalValue DecimalStack::pop_value() {
  require(1);
  DecimalValue& v = entry(1);
  --depth_;
  return v;
}

DecimalNumber& DecimalStack::pop_number() {
  require(1);
  DecimalNumber& v = number(1);
  --depth_;
  return v;
}

void DecimalStack::push_long(int32_t value) {
  DecimalNumber& v = push_binary();
  const uint32_t magnitude =
      value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  set_unsigned(v, magnitude);
  v.sign = value < 0 ? 1 : 0;
}

void DecimalStack::push_ulong(uint32_t value) {
  set_unsigned(push_binary(), value);
}

[[gnu::noinline]] void DecimalStack::push_field(const uint8_t* storage, uint32_t bytes,
                                                uint32_t places, int first_nibble) {
  Slot& slot = push_slot();
  DecimalNumber& v = slot.number;
  const bool negative = bytes != 0 && (first_nibble == decimal::kDecimalFirstNibble
                                           ? (storage[0] >> 4) != 0
                                           : (storage[bytes - 1] & 0x0F) == 0x0D);
  if (bytes - 1 < decimal::kShortFieldBytes && places <= decimal::bcd::kMostPlaces) {
    uint64_t w0, w1;
    decimal::bcd::load(storage, bytes, first_nibble, w0, w1);
    decimal::bcd::set(v, w0, w1, -static_cast<int>(places), negative ? 1 : 0);
    slot.form = Form::kPacked;
    return;
  }
  slot.form = Form::kBinary;
  decimal::unpack(v, storage, bytes, places, first_nibble);
  if (negative && !decimal::is_zero(v)) v.sign = 1;
}

void DecimalStack::push_real(double value) {
  DecimalValue& v = push_digits();
  if (!std::isfinite(value) || value == 0.0) return;
  const double magnitude = std::fabs(value);
  // 15 significant digits, correctly rounded, with the decimal exponent of the first one. A
  // value exactly halfway between two 15-digit decimals brings its 16th digit (a 5) along, so
  // that the rounding below takes it away from zero as every decimal store does.
  char text[40];
  int count = kRealDigitsIn;
  int exponent = scientific_digits(magnitude, count, text, sizeof text);
  if (exponent + kUnits >= kRealDigitsIn && is_halfway_at_16_digits(magnitude)) {
    count = kRealDigitsIn + 1;
    exponent = scientific_digits(magnitude, count, text, sizeof text);
  }
  const int first = exponent + kUnits;
  if (first > kTop) return;  // too large for the working value: stays zero
  if (first < 0) return;
  const int last = std::max(first - (count - 1), 0);
  for (int k = 0; first - k >= last; ++k) {
    const char c = text[k == 0 ? 0 : k + 1];
    v.digit[first - k] = static_cast<uint8_t>(c - '0');
  }
  v.lo = static_cast<uint8_t>(last);
  v.hi = static_cast<uint8_t>(first);
  v.sign = value < 0 ? 1 : 0;
  if (first >= kRealDigitsIn) decimal::round_places(v, 46 - first);
  decimal::normalise(v);
}

void DecimalStack::push_text(std::string_view text) {
  DecimalValue& v = push_digits();
  DecimalTextDigits number;
  read_decimal_text(text, number);
  const int64_t count = number.count;
  if (count == 0) return;
  // Digit k (most significant first) has the power count - 1 - k + exponent. Digits above the 32
  // integer places and below the 32 decimal places are dropped.
  const int64_t top = count - 1 + number.exponent + kUnits;
  const int64_t bottom = number.exponent + kUnits;
  const int64_t hi = std::min<int64_t>(top, kTop);
  const int64_t lo = std::max<int64_t>(bottom, 0);
  if (lo > hi) return;
  // Eight characters at a time: reversed, they are the digits of eight ascending positions.
  int64_t pos = lo;
  for (; pos + 7 <= hi; pos += 8) {
    uint64_t x;
    std::memcpy(&x, number.digits + (top - pos - 7), 8);
    x = __builtin_bswap64(x) - 0x3030303030303030ull;
    std::memcpy(v.digit + pos, &x, 8);
  }
  for (; pos <= hi; ++pos) {
    v.digit[pos] = static_cast<uint8_t>(number.digits[static_cast<size_t>(top - pos)] - '0');
  }
  v.lo = static_cast<uint8_t>(lo);
  v.hi = static_cast<uint8_t>(hi);
  v.sign = number.negative ? 1 : 0;
  decimal::trim_high(v);
}

void DecimalStack::push_from_string_stack() {
  push_text(string_stack().pop_string());
}

[[gnu::noinline]] void DecimalStack::pop_field(uint8_t* storage, uint32_t bytes, uint32_t places,
                                               int first_nibble) {
  require(1);
  // The popped entry stays in place until the next push (the general store rounds it there).
  Slot& slot = slots_[--depth_];
  DecimalNumber& v = slot.number;
  if (bytes == 0) return;
  if (slot.form == Form::kPacked && decimal::bcd::pack(v, storage, bytes, places, first_nibble)) {
    return;
  }
  if (slot.form == Form::kChunks && decimal::chunks::store(v.coefficient, v.exponent, v.sign != 0,
                                                           storage, bytes, places, first_nibble)) {
    return;
  }
  binary(slot);
  if (decimal::fast::store(v, storage, bytes, places, first_nibble)) return;
  if (v.exponent < -static_cast<int64_t>(places)) decimal::round_places(v, places);
  const bool negative = decimal::pack(v, storage, bytes, places, first_nibble) && v.sign;
  if (first_nibble == decimal::kDecimalFirstNibble) {
    if (negative) storage[0] = static_cast<uint8_t>(storage[0] | 0xF0);
  } else {
    storage[bytes - 1] = static_cast<uint8_t>(storage[bytes - 1] | (negative ? 0x0D : 0x0F));
  }
}

int32_t DecimalStack::pop_long() {
  const DecimalNumber& v = pop_number();
  // Only the integer digits count; overflow wraps.
  uint32_t result = decimal::integer_part_wrapped(v);
  if (v.sign) result = 0u - result;
  return static_cast<int32_t>(result);
}

double DecimalStack::pop_real() {
  DecimalValue v = pop_value();
  decimal::normalise(v);
  if (decimal::is_zero(v)) return 0.0;
  uint64_t digits = 0;
  int i = v.hi;
  for (int taken = 0; i >= v.lo && taken < kRealDigitsOut; --i, ++taken) {
    digits = digits * 10u + v.digit[i];
  }
  double result = static_cast<double>(digits);
  int exponent = i + 1 - kUnits;  // the power of the last digit taken
  if (exponent > 0) {
    for (; exponent >= 16; exponent -= 16) result *= 1e16;
    result *= kPowersOfTen[exponent];
  } else if (exponent < 0) {
    exponent = -exponent;
    for (; exponent >= 16; exponent -= 16) result /= 1e16;
    result /= kPowersOfTen[exponent];
  }
  return v.sign ? -result : result;
}

std::string DecimalStack::pop_text() {
  DecimalValue v = pop_value();
  decimal::normalise(v);
  std::string text;
  if (v.sign && !decimal::is_zero(v)) text += '-';
  if (v.hi < kUnits) {
    text += '0';
  } else {
    for (int i = v.hi; i >= kUnits; --i)
      text += static_cast<char>('0' + (i >= v.lo ? v.digit[i] : 0));
  }
  if (v.lo < kUnits) {
    text += '.';
    for (int i = kUnits - 1; i >= v.lo; --i)
      text += static_cast<char>('0' + (i <= v.hi ? v.digit[i] : 0));
  }
  return text;
}

void DecimalStack::pop_to_string_stack() {
  string_stack().push_copy(pop_text());
}

DecimalDigits DecimalStack::pop_digits() {
  DecimalValue v = pop_value();
  decimal::trim_high(v);
  DecimalDigits result;
  const int from = std::max<int>(v.hi, kUnits);
  const int to = std::min<int>(v.lo, kUnits);
  result.digits.reserve(static_cast<size_t>(from - to + 1));
  for (int i = from; i >= to; --i) {
    result.digits += static_cast<char>('0' + ((i >= v.lo && i <= v.hi) ? v.digit[i] : 0));
  }
  result.integer_digits = std::max(v.hi - 31, 1);
  result.negative = v.sign && !decimal::is_zero(v);
  return result;
}

[[gnu::noinline]] void DecimalStack::add_general() {
  require(2);
  DecimalNumber& a = number(2);
  const DecimalNumber& b = number(1);
  if (!decimal::fast::add(a, b)) decimal::add(a, b);
  --depth_;
}

[[gnu::noinline]] void DecimalStack::subtract_general() {
  require(2);
  negate();
  add();
}

void DecimalStack::reverse_subtract() {
  require(2);
  with_signed_value(slots_[depth_ - 2], [](auto& minuend) {
    if (!decimal::is_zero(minuend)) minuend.sign ^= 1;
  });
  add();
}

void DecimalStack::multiply() {
  require(2);
  Slot& x = slots_[depth_ - 2];
  Slot& y = slots_[depth_ - 1];
  if (x.form == Form::kPacked && y.form == Form::kPacked &&
      decimal::chunks::multiply_packed(x.number, y.number)) {
    x.form = Form::kChunks;
  } else {
    DecimalNumber& a = binary(x);
    const DecimalNumber& b = binary(y);
    if (!decimal::fast::multiply(a, b)) decimal::multiply(a, b);
  }
  --depth_;
}

void DecimalStack::divide() {
  require(2);
  Slot& x = slots_[depth_ - 2];
  DecimalNumber& a = binary(x);
  const DecimalNumber& b = binary(slots_[depth_ - 1]);
  if (decimal::fast::divide_to_chunks(a, b)) {
    x.form = Form::kChunks;
  } else if (!decimal::fast::divide(a, b)) {
    decimal::divide(a, b);
  }
  --depth_;
}

void DecimalStack::power_of_ten(int32_t n) {
  require(1);
  // Nothing moves for n = 0 or a zero: an entry in digit form stays exactly as written.
  const Slot& slot = slots_[depth_ - 1];
  if (slot.form == Form::kDigits && (n == 0 || decimal::is_zero(slot.digits))) return;
  decimal::scale_by_power_of_ten(number(1), n);
}

int DecimalStack::compare() {
  require(2);
  const int result = decimal::compare(number(2), number(1));
  depth_ -= 2;
  return result;
}

int DecimalStack::compare_reversed() {
  return -compare();
}

int DecimalStack::test_sign() {
  require(1);
  const int sign = with_signed_value(slots_[depth_ - 1], [](const auto& v) {
    return decimal::is_zero(v) ? 0 : (v.sign ? -1 : 1);
  });
  --depth_;
  return sign;
}

void DecimalStack::negate() {
  require(1);
  with_signed_value(slots_[depth_ - 1],
                    [](auto& v) { v.sign = decimal::is_zero(v) ? 0 : v.sign ^ 1; });
}

void DecimalStack::absolute() {
  require(1);
  with_signed_value(slots_[depth_ - 1], [](auto& v) { v.sign = 0; });
}

void DecimalStack::round(int32_t places) {
  require(1);
  // A value with no digit below the place rounded to is left alone, in whatever form.
  const Slot& slot = slots_[depth_ - 1];
  if (slot.form == Form::kDigits && slot.digits.lo >= kUnits - static_cast<int64_t>(places)) return;
  decimal::round_places(number(1), places);
}

}  // namespace vtn
