// A small program that uses the installed run-time from outside the project: a declared file
// that gets records added and read back, fixed-length text, exact decimals, pictures, dates and
// error texts. It prints what it computed and exits with 1 when a result is not what the
// run-time promises.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/fixed_string.hpp"
#include "runtime/values/string_functions.hpp"

namespace {

int failures = 0;

void expect(std::string_view what, const std::string& got, std::string_view want) {
  std::printf("%.*s: %s\n", static_cast<int>(what.size()), what.data(), got.c_str());
  if (got != want) {
    std::fprintf(stderr, "%.*s: expected \"%.*s\"\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(want.size()), want.data());
    ++failures;
  }
}

// Declares a table in a record file of the current directory, adds two records and reads them
// back in the order of its key.
void table() {
  vtn::File items{vtn::FileDeclaration("ITM")
                      .driver(vtn::tarnwell_entry)
                      .name("items.twl")
                      .create()
                      .field("CODE", vtn::ftype::LONG)
                      .field("LABEL", vtn::ftype::STRING(10))
                      .key("BY_CODE", {"CODE"}, vtn::KA_PRIMARY)};
  vtn::CREATE(items);
  vtn::OPEN(items);
  expect("open", std::to_string(vtn::ERRORNUMBER()), "0");
  for (const auto& [code, label] : {std::pair{9, "nut"}, std::pair{7, "bolt"}}) {
    items.clear();
    std::memcpy(items.record(), &code, sizeof code);
    std::memcpy(items.record() + 4, label, std::strlen(label));
    vtn::ADD(items);
  }
  vtn::SET(items.key("BY_CODE"));
  std::string read;
  for (vtn::NEXT(items); vtn::ERRORNUMBER() == 0; vtn::NEXT(items)) {
    int32_t code = 0;
    std::memcpy(&code, items.record(), sizeof code);
    read += std::to_string(code) + "=" + std::string(items.record() + 4, 10) + ";";
  }
  expect("records", read, "7=bolt      ;9=nut       ;");
  expect("end", std::to_string(vtn::ERRORNUMBER()), "33");
  vtn::CLOSE(items);
  vtn::REMOVE(items);
}

}  // namespace

int main() {
  table();
  vtn::String<12> name = "ledger";
  expect("name", std::string(name.view()), "ledger      ");
  expect("upper", vtn::upper(name.clipped()), "LEDGER");

  // 0.1 + 0.2 is exactly 0.3 in decimal arithmetic; 1234.5 x 3 formats with a grouping comma.
  vtn::DecimalStack& decimals = vtn::decimal_stack();
  decimals.push_text("0.1");
  decimals.push_text("0.2");
  decimals.add();
  expect("sum", decimals.pop_text(), "0.3");
  decimals.push_text("1234.5");
  decimals.push_long(3);
  decimals.multiply();
  expect("total", vtn::format_picture(decimals.pop_digits(), "@N12.2"), "    3,703.50");

  expect("date", vtn::format_picture(vtn::DATE(12, 7, 2026), "@D10"), "2026/12/07");

  vtn::post_error(2);
  expect("error", std::to_string(vtn::ERRORNUMBER()) + " " + vtn::ERRORTEXT(), "2 File Not Found");
  return failures == 0 ? 0 : 1;
}
