// Comma-delimited lines of any content, under any options: parsing must end and stay inside the
// text it is given and inside the record (the sanitizers watch both); the line that the writer
// makes of whatever was read must parse again the same way.
//
// Input: byte 0 is the length n of an options text (a driver options text, "/" before each
// option), byte 1 chooses the window; then the n bytes of options, then the line's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/files/basic/basic_options.hpp"
#include "runtime/files/basic/field_table.hpp"
#include "runtime/files/basic/line_syntax.hpp"
#include "runtime/files/basic/record_parser.hpp"
#include "runtime/files/basic/record_writer.hpp"
#include "runtime/files/file_declaration.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// A record with every kind of value, nested dimensioned GROUPs and a field OVER a GROUP.
vtn::File& record() {
  using namespace vtn;
  static File file(FileDeclaration("Z")
                       .field("L", ftype::LONG)
                       .field("T", ftype::STRING(5), {.dim = {2}})
                       .group("G", {.dim = {2}})
                       .field("C", ftype::CSTRING(4))
                       .group("H", {.dim = {3}})
                       .field("P", ftype::PSTRING(3))
                       .field("B", ftype::BYTE)
                       .end()
                       .field("D", ftype::DECIMAL(7, 2))
                       .end()
                       .field("O", ftype::STRING(6), {.over = "G"})
                       .field("R", ftype::REAL)
                       .field("S", ftype::SREAL)
                       .field("F", ftype::BFLOAT4)
                       .field("E", ftype::BFLOAT8)
                       .field("PD", ftype::PDECIMAL(5, 1))
                       .field("U", ftype::ULONG)
                       .field("DT", ftype::DATE));
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t option_length = std::min<size_t>(data[0], size - 2);
  const std::string_view options(reinterpret_cast<const char*>(data + 2), option_length);
  const size_t line_length = size - 2 - option_length;

  vtn::basic::BasicOptions o;
  vtn::basic::apply_driver_options(o, options, 512);
  check(!o.field_delimiter.empty() && !o.end_of_record.empty());
  const vtn::basic::LineSyntax syntax = vtn::basic::LineSyntax::of(o);

  vtn::File& file = record();
  const uint32_t record_size = file.record_type().size;
  vtn::basic::FieldTable table;
  check(vtn::basic::build_field_table(&file.record_type(), record_size, table) == 0);

  // The line in a buffer of its own size (plus the one byte a view guarantees), so that a read
  // beyond it is caught.
  auto text = std::make_unique<uint8_t[]>(line_length + 1);
  std::memcpy(text.get(), data + 2 + option_length, line_length);
  text[line_length] = vtn::basic::kCtrlZ;
  const vtn::basic::TextView view{text.get(), line_length, true};
  const size_t window = (data[1] & 0x80) ? line_length : std::min<size_t>(data[1], line_length);

  auto buffer = std::make_unique<char[]>(record_size);
  vtn::clear_record(&file.record_type(), buffer.get(), record_size);
  const vtn::basic::ParsedLine line =
      vtn::basic::parse_line(table, syntax, view, window, buffer.get());
  check(line.used <= line_length);

  std::string written;
  vtn::basic::write_line(table, syntax, o.always_quote, buffer.get(), written);
  auto again = std::make_unique<uint8_t[]>(written.size() + 1);
  std::memcpy(again.get(), written.data(), written.size());
  again[written.size()] = vtn::basic::kCtrlZ;
  auto second = std::make_unique<char[]>(record_size);
  vtn::clear_record(&file.record_type(), second.get(), record_size);
  const vtn::basic::ParsedLine reread = vtn::basic::parse_line(
      table, syntax, {again.get(), written.size(), true}, written.size(), second.get());
  check(reread.used <= written.size());
  return 0;
}
