// Exact decimal arithmetic on the decimal stack: at most 10 working values of 64 decimal digits,
// 32 before and 32 after the point. Loading a packed decimal, a LONG, a REAL or a text pushes a
// working value; the arithmetic works on the top entries (entry 1 is the top, entry 2 the one
// below); storing pops the top into packed storage, rounded half away from zero.
//
// A working value has two forms: the digit form (DecimalValue, one byte per digit, what text,
// REAL and FORMAT read and write) and the binary form (DecimalNumber, an integer coefficient and a
// power of ten, what the arithmetic uses). A value loaded from a field of up to 16 bytes keeps its
// coefficient as the field's digit nibbles until an operation needs it in binary; a product of
// two such values and a quotient of up to 39 digits keep theirs as chunks of sixteen decimal
// digits until then. Each entry is kept in the form that made it and turned into another only
// when an operation needs it.
//
// REQUIRES: callers keep within 10 entries and pop only what they pushed (a breach ends the
// program with a fatal run-time error rather than corrupting memory).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/values/decimal_bcd.hpp"
#include "runtime/values/decimal_value.hpp"

namespace vtn {

// The digits that FORMAT lays into a picture: from max(hi, 32) down to min(lo, 32), with the count
// of integer digits (hi - 31, at least 1) and the sign. Leading zeros are dropped first (a packed
// field's unused high positions are no integer digits); trailing zeros down to lo stay, so a
// value rounded to p places shows at least p decimal digits unless it had fewer. A zero is never
// negative.
struct DecimalDigits {
  std::string digits;
  int integer_digits = 1;
  bool negative = false;
};

class DecimalStack {
 public:
  static constexpr int kCapacity = 10;

  int depth() const { return depth_; }
  void clear() { depth_ = 0; }
  // Entry n from the top (1 = top) in digit form; what is written to it is the entry's value until
  // the next operation on the stack. REQUIRES: 1 <= n <= depth().
  DecimalValue& entry(int n);
  // Entry n in binary form. REQUIRES: 1 <= n <= depth().
  DecimalNumber& number(int n) {
    Slot& slot = slots_[depth_ - n];
    if (slot.form != Form::kBinary) to_binary(slot);
    return slot.number;
  }

  void push_long(int32_t value);
  void push_ulong(uint32_t value);
  void push_decimal(const uint8_t* storage, uint32_t bytes, uint32_t places);
  void push_pdecimal(const uint8_t* storage, uint32_t bytes, uint32_t places);
  void push_real(double value);           // to 15 significant digits
  void push_text(std::string_view text);  // the decimal reader
  // Pops the top of the StringStack and pushes the number it reads as.
  void push_from_string_stack();

  void pop_decimal(uint8_t* storage, uint32_t bytes, uint32_t places);
  void pop_pdecimal(uint8_t* storage, uint32_t bytes, uint32_t places);
  int32_t pop_long();
  double pop_real();
  std::string pop_text();      // "-12.5", "0.05", "3"
  void pop_to_string_stack();  // the same text, pushed on the StringStack
  DecimalDigits pop_digits();

  void add();                    // entry 2 + entry 1
  void subtract();               // entry 2 - entry 1
  void reverse_subtract();       // entry 1 - entry 2
  void multiply();               // entry 2 x entry 1
  void divide();                 // entry 2 / entry 1, rounded to 31 places; by zero gives 0
  void power_of_ten(int32_t n);  // top x 10^n
  int compare();                 // entry 2 against entry 1, pops both: -1, 0, 1
  int compare_reversed();        // entry 1 against entry 2, pops both
  int test_sign();               // pops the top: -1, 0, 1
  void negate();
  void absolute();
  void round(int32_t places);

 private:
  // A push onto a full stack and an operation short of operands are program faults: they end the
  // program with the fatal run-time error 501, "Decimal Stack Error".
  enum class Form : uint8_t { kBinary, kPacked, kChunks, kDigits };
  struct alignas(64) Slot {
    // Binary; in kPacked the field's digit nibbles as the coefficient; in kChunks the coefficient
    // in chunks of sixteen digits, neither wrapped nor normalised.
    DecimalNumber number;
    DecimalValue digits;
    Form form;
  };

  static void to_binary(Slot& slot);
  // The binary form of an entry, a packed one turned inline.
  static DecimalNumber& binary(Slot& slot);
  // Runs `change` on the form of the entry that holds its sign.
  template <typename Change>
  static auto with_signed_value(Slot& slot, Change change);
  Slot& push_slot();
  DecimalNumber& push_binary();  // not yet set
  DecimalNumber& push_number();  // zero
  DecimalValue& push_digits();
  void require(int n);
  DecimalValue pop_value();
  // The popped entry, in place until the next push.
  DecimalNumber& pop_number();
  // The general cases of the busiest operations.
  void push_packed(const uint8_t* storage, uint32_t bytes, uint32_t places, int first_nibble);
  void push_field(const uint8_t* storage, uint32_t bytes, uint32_t places, int first_nibble);
  void pop_packed(uint8_t* storage, uint32_t bytes, uint32_t places, int first_nibble);
  void pop_field(uint8_t* storage, uint32_t bytes, uint32_t places, int first_nibble);
  void add_general();
  void subtract_general();

  Slot slots_[kCapacity + 1];
  int depth_ = 0;
};

// The busiest operations try the common case inline (a free entry, fields of up to 16 bytes,
// operands in packed form) and leave everything else to a general function. Each writes the stack
// depth last, so that an inlined sequence of them keeps it in a register.

[[gnu::always_inline]] inline void DecimalStack::push_packed(const uint8_t* storage, uint32_t bytes,
                                                             uint32_t places, int first_nibble) {
  const int depth = depth_;
  if (depth < kCapacity && bytes - 1 < decimal::kShortFieldBytes &&
      places <= decimal::bcd::kMostPlaces) [[likely]] {
    Slot& slot = slots_[depth];
    uint64_t w0, w1;
    const uint32_t sign = decimal::bcd::load(storage, bytes, first_nibble, w0, w1);
    // DECIMAL: a sign nibble other than 0 is minus; PDECIMAL: 0xD is.
    const bool negative = first_nibble == decimal::kDecimalFirstNibble ? sign != 0 : sign == 0xD;
    decimal::bcd::set(slot.number, w0, w1, -static_cast<int>(places), negative ? 1 : 0);
    slot.form = Form::kPacked;
    depth_ = depth + 1;
    return;
  }
  push_field(storage, bytes, places, first_nibble);
}

// The sign is the high nibble of byte 0; the digits start with its low nibble.
inline void DecimalStack::push_decimal(const uint8_t* storage, uint32_t bytes, uint32_t places) {
  push_packed(storage, bytes, places, decimal::kDecimalFirstNibble);
}

// The digits start with the high nibble of byte 0; the low nibble of the last byte is the sign.
inline void DecimalStack::push_pdecimal(const uint8_t* storage, uint32_t bytes, uint32_t places) {
  push_packed(storage, bytes, places, decimal::kPDecimalFirstNibble);
}

[[gnu::always_inline]] inline void DecimalStack::pop_packed(uint8_t* storage, uint32_t bytes,
                                                            uint32_t places, int first_nibble) {
  const int depth = depth_;
  if (depth > 0) [[likely]] {
    const Slot& slot = slots_[depth - 1];
    if (slot.form == Form::kPacked &&
        decimal::bcd::pack(slot.number, storage, bytes, places, first_nibble)) [[likely]] {
      depth_ = depth - 1;
      return;
    }
  }
  pop_field(storage, bytes, places, first_nibble);
}

inline void DecimalStack::pop_decimal(uint8_t* storage, uint32_t bytes, uint32_t places) {
  pop_packed(storage, bytes, places, decimal::kDecimalFirstNibble);
}

inline void DecimalStack::pop_pdecimal(uint8_t* storage, uint32_t bytes, uint32_t places) {
  pop_packed(storage, bytes, places, decimal::kPDecimalFirstNibble);
}

inline void DecimalStack::add() {
  const int depth = depth_;
  if (depth >= 2) [[likely]] {
    Slot& x = slots_[depth - 2];
    const Slot& y = slots_[depth - 1];
    if (x.form == Form::kPacked && y.form == Form::kPacked && decimal::bcd::add(x.number, y.number))
        [[likely]] {
      depth_ = depth - 1;
      return;
    }
  }
  add_general();
}

inline void DecimalStack::subtract() {
  if (depth_ >= 2) [[likely]] {
    DecimalNumber& subtrahend = slots_[depth_ - 1].number;
    if (slots_[depth_ - 1].form == Form::kPacked) [[likely]] {
      if (!decimal::bcd::is_zero(subtrahend)) subtrahend.sign ^= 1;
      add();
      return;
    }
  }
  subtract_general();
}

// The process-wide decimal stack.
DecimalStack& decimal_stack();

}  // namespace vtn
