// Numbers read from arbitrary text and arbitrary packed bytes: the readers must stay inside their
// input, the decimal stack must keep its working values well-formed, a decimal's text must read
// back as the same decimal, and an operation on two fields must give the same result whether its
// operands keep the form a field load gives them or are turned into digits first.
//
// Input: byte 0 is the byte size of a packed field (1..32), byte 1 its places (0..31); the next
// size bytes are the packed field and the rest is a text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/values/conversions.hpp"
#include "runtime/values/decimal.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void check_well_formed(const vtn::DecimalValue& v) {
  check(v.lo <= v.hi && v.hi < 64);
  check(v.sign <= 1);
  for (int i = v.lo; i <= v.hi; ++i) check(v.digit[i] <= 9);
}

// Loads the field as DECIMAL and as PDECIMAL, optionally turns both entries into digit form,
// runs operation `op` and stores the result back into the field's shape; returns its text.
std::string field_operation(const uint8_t* packed, uint32_t bytes, uint32_t places, int op,
                            bool as_digits) {
  vtn::DecimalStack& stack = vtn::decimal_stack();
  stack.clear();
  stack.push_decimal(packed, bytes, places);
  if (as_digits) check_well_formed(stack.entry(1));
  stack.push_pdecimal(packed, bytes, places);
  if (as_digits) check_well_formed(stack.entry(1));
  switch (op) {
    case 0:
      stack.add();
      break;
    case 1:
      stack.subtract();
      break;
    case 2:
      stack.multiply();
      break;
    case 3:
      stack.divide();
      break;
    default:
      return std::to_string(stack.compare());
  }
  uint8_t out[32];
  stack.pop_decimal(out, bytes, places);
  stack.push_decimal(out, bytes, places);
  return stack.pop_text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t bytes = 1 + data[0] % 32;
  const uint32_t places = data[1] % 32;
  if (size < 2 + bytes) return 0;
  const uint8_t* packed = data + 2;
  const std::string_view text(reinterpret_cast<const char*>(data + 2 + bytes), size - 2 - bytes);

  vtn::text_to_long(text);
  vtn::text_to_real(text);
  const vtn::DecimalText d = vtn::read_decimal_text(text);
  for (char c : d.digits) check(c >= '0' && c <= '9');

  vtn::DecimalStack& stack = vtn::decimal_stack();
  stack.clear();

  // Text -> decimal -> text -> decimal gives the same value.
  stack.push_text(text);
  check_well_formed(stack.entry(1));
  const std::string once = stack.pop_text();
  stack.push_text(once);
  check(stack.pop_text() == once);

  // Packed bytes of any content, through both layouts and every operation.
  stack.push_decimal(packed, bytes, places);
  stack.push_pdecimal(packed, bytes, places);
  check_well_formed(stack.entry(1));
  check_well_formed(stack.entry(2));
  stack.multiply();
  check_well_formed(stack.entry(1));
  stack.push_text(text);
  stack.divide();
  check_well_formed(stack.entry(1));
  stack.push_decimal(packed, bytes, places);
  stack.add();
  check_well_formed(stack.entry(1));
  uint8_t out[32];
  stack.pop_decimal(out, bytes, places);
  stack.push_decimal(out, bytes, places);
  stack.pop_pdecimal(out, bytes, places);
  check(stack.depth() == 0);

  for (int op = 0; op < 5; ++op) {
    check(field_operation(packed, bytes, places, op, false) ==
          field_operation(packed, bytes, places, op, true));
  }
  return 0;
}
