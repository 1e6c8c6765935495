// Decimals, pictures and dates: exact arithmetic on the decimal stack, and display pictures.
#include <cstdio>
#include <string>

#include "runtime/format/dates.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/decimal.hpp"

int main() {
  // Decimal arithmetic is exact: 0.1 + 0.2 is 0.3. Operands are pushed, the operation works on
  // the top entries, and the result is popped.
  vtn::DecimalStack& decimals = vtn::decimal_stack();
  decimals.push_text("0.1");
  decimals.push_text("0.2");
  decimals.add();
  std::string sum = decimals.pop_text();  // "0.3"

  // A price of 19.99 times 3, shown through a numeric picture with two places.
  decimals.push_text("19.99");
  decimals.push_long(3);
  decimals.multiply();
  std::string total = vtn::format_picture(decimals.pop_digits(), "@N10.2");  // "     59.97"

  // Dates are serial day numbers; pictures show them, DEFORMAT reads them back.
  int32_t day = vtn::DATE(3, 15, 2026);
  std::string shown = vtn::format_picture(day, "@D6");     // "15/03/2026"
  std::string back = vtn::deformat_picture(shown, "@D6");  // the serial again, as text

  std::printf("%s [%s] %s %s\n", sum.c_str(), total.c_str(), shown.c_str(), back.c_str());
  return sum == "0.3" && total == "     59.97" && back == std::to_string(day) ? 0 : 1;
}
