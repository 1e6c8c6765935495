// The comma-delimited driver's reading: the processing sequence (SET, RESET, NEXT), direct reads
// (GET, REGET), EOF, POINTER, POSITION, BYTES and CLEAR.
#include <algorithm>
#include <cstring>

#include "runtime/files/basic/basic_operations.hpp"
#include "runtime/files/basic/record_parser.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/typed_reference.hpp"

namespace vtn::basic {
namespace {

constexpr int32_t kRecordNotAvailable = 33;
constexpr int32_t kFileSystemError = 90;

// The pointer held by a POSITION string: its first four bytes, least significant first.
uint32_t pointer_in(std::string_view position) {
  uint8_t bytes[4] = {};
  std::memcpy(bytes, position.data(), std::min<size_t>(position.size(), 4));
  return bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
         (uint32_t{bytes[3]} << 24);
}

// Pointers and sizes travel as the 32 bits of a LONG: a file of up to 4 GB has every pointer
// (those past 2 GB read as negative numbers and go back unchanged). Beyond that a position
// cannot be given, and saying so beats handing out a pointer to another record.
constexpr uint64_t kLargestPointer = UINT32_MAX;

int32_t beyond_pointer_range() {
  post_driver_error("POINTER", "The position lies beyond 4 GB and cannot be given as a pointer");
  return kFileSystemError;
}

// The current record's pointer; 0 without one.
int32_t current_pointer(const BasicInstance& in, uint32_t& pointer) {
  pointer = 0;
  if (!(in.flags & BF_CURRENT)) return 0;
  if (in.record_offset + 1 > kLargestPointer) return beyond_pointer_range();
  pointer = static_cast<uint32_t>(in.record_offset + 1);
  return 0;
}

// The text window of one record: twice the record, the longer separator and two bytes per
// value, or the whole buffer when that would be more than half of it.
size_t record_window(const BasicInstance& in) {
  const uint64_t window =
      2 * uint64_t{in.record_length} +
      std::max(in.options.field_delimiter.size(), in.options.end_of_record.size()) +
      2 * uint64_t{in.table.value_count};
  const uint32_t buffer = in.text.buffer_size();
  return window > buffer / 2 ? buffer : static_cast<size_t>(window);
}

// The text fields of the record from the OEM to the ANSI character set.
void convert_from_oem(BasicInstance& in) {
  for_each_value(in.table, [&](const TableField& f, uint32_t offset) {
    if (f.type != ValueType::STRING && f.type != ValueType::CSTRING && f.type != ValueType::PSTRING)
      return;
    make_typed_reference(f.type, in.record + offset, f.size)->oem_to_ansi();
  });
}

// Reads the record at `pointer` into the record buffer.
int32_t read_record(BasicInstance& in, uint64_t pointer) {
  in.flags &= ~BF_CURRENT;
  if (pointer == 0) return 0;
  if (!refresh_size(in)) return system_failure();
  if (pointer - 1 >= in.file_size) return kRecordNotAvailable;
  const uint64_t offset = pointer - 1;
  const LineSyntax& syntax = in.syntax();
  const size_t window = record_window(in);
  const size_t lookahead = std::max(syntax.delimiter.size(), syntax.end_of_record.size());
  TextView text;
  if (!in.text.view(offset, window + lookahead, text)) return system_failure();
  if (text.size > 0 && text.data[0] == kCtrlZ && syntax.ctrl_z_is_eof) return kRecordNotAvailable;

  // A file that begins with the UTF-8 mark: the mark is not part of the first value.
  size_t skipped = 0;
  if (offset == 0 && std::string_view(reinterpret_cast<const char*>(text.data),
                                      std::min(text.size, kUtf8Mark.size())) == kUtf8Mark) {
    skipped = kUtf8Mark.size();
    text.data += skipped;
    text.size -= skipped;
  }
  if (in.record_length != 0) std::memcpy(in.record, in.cleared_record.data(), in.record_length);
  const ParsedLine line =
      parse_line(in.table, syntax, text, window > skipped ? window - skipped : 0, in.record);
  uint64_t end = offset + skipped + line.used;
  if (!line.end_consumed && !find_line_end(in.text, syntax, end, end)) return system_failure();
  in.record_offset = offset;
  in.line_length = end - offset;
  if (in.attributes & 0x10) convert_from_oem(in);
  in.flags |= BF_CURRENT;
  return 0;
}

}  // namespace

int32_t set_file(FileCall& call) {
  instance_of(call).next_pointer = 1;
  return 0;
}

int32_t set_file_pointer(FileCall& call) {
  const auto pointer = static_cast<uint32_t>(call.operand(0));
  instance_of(call).next_pointer = pointer == 0 ? 1 : pointer;
  return 0;
}

int32_t reset_file(FileCall& call) {
  instance_of(call).next_pointer = pointer_in(call.strings[0]);
  return 0;
}

int32_t next_record(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (in.next_pointer == 0) return kRecordNotAvailable;
  const int32_t r = read_record(in, in.next_pointer);
  if (r == 0) in.next_pointer = in.record_offset + in.line_length + 1;
  return r;
}

int32_t get_record(FileCall& call) {
  return read_record(instance_of(call), static_cast<uint32_t>(call.operand(0)));
}

int32_t reget_record(FileCall& call) {
  return read_record(instance_of(call), pointer_in(call.strings[0]));
}

int32_t end_of_file(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (!refresh_size(in)) return system_failure();
  const uint64_t offset = in.next_pointer == 0 ? 0 : in.next_pointer - 1;
  call.value = 1;
  if (offset >= in.file_size) return 0;
  TextView text;
  if (!in.text.view(offset, 1, text)) return system_failure();
  if (text.size == 0 || (text.data[0] == kCtrlZ && in.options.ctrl_z_is_eof)) return 0;
  call.value = 0;
  return 0;
}

int32_t pointer_of(FileCall& call) {
  BasicInstance& in = instance_of(call);
  uint32_t pointer = 0;
  if (int32_t r = current_pointer(in, pointer); r != 0) return r;
  call.value = static_cast<int32_t>(pointer);
  return 0;
}

int32_t position_of(FileCall& call) {
  BasicInstance& in = instance_of(call);
  uint32_t pointer = 0;
  if (int32_t r = current_pointer(in, pointer); r != 0) return r;
  const char bytes[4] = {static_cast<char>(pointer), static_cast<char>(pointer >> 8),
                         static_cast<char>(pointer >> 16), static_cast<char>(pointer >> 24)};
  call.result_text.assign(bytes, 4);
  return 0;
}

int32_t bytes_of(FileCall& call) {
  BasicInstance& in = instance_of(call);
  uint64_t bytes = in.line_length;
  if (!(in.flags & BF_CURRENT)) {
    if (!refresh_size(in)) return system_failure();
    bytes = in.file_size;
  }
  if (bytes > kLargestPointer) return beyond_pointer_range();
  call.value = static_cast<int32_t>(static_cast<uint32_t>(bytes));
  return 0;
}

int32_t clear_record_buffer(FileCall& call) {
  BasicInstance& in = instance_of(call);
  const auto direction = static_cast<int>(call.operand(0));
  for_each_value(in.table, [&](const TableField& f, uint32_t offset) {
    make_typed_reference(f.type, in.record + offset, f.size, f.places)->clear(direction);
  });
  return 0;
}

}  // namespace vtn::basic
