// The comma-delimited driver's writing: ADD and APPEND at the end of the file, PUT over the
// current record, PUT at a pointer, and the forms with a length, where 0 cuts the file instead.
//
// A record rewritten with a text of another length than the old one replaces the old text, and
// the rest of the file moves up or down behind it, under the driver's lock; the next pointer and
// the file size move with it. The bytes before the record are never touched. If the process dies
// in the middle of the move, the damage is bounded to the rewritten record and what follows it:
// growing, the tail is copied from its end backwards before the new text goes in, so the old
// record stays whole and some following bytes appear twice; shrinking, the new text goes in
// first and the tail is copied forwards, so a stretch of the tail may appear twice before the
// file is cut to its new end.
#include <algorithm>
#include <optional>
#include <string>

#include "runtime/files/basic/basic_operations.hpp"
#include "runtime/files/basic/record_parser.hpp"
#include "runtime/files/basic/record_writer.hpp"
#include "runtime/values/typed_reference.hpp"

namespace vtn::basic {
namespace {

constexpr int32_t kAccessDenied = 5;
constexpr int32_t kRecordNotAvailable = 33;

// The record as its line: from the record buffer, or for an OEM file from a copy whose texts are
// in the OEM character set.
std::string line_of(BasicInstance& in) {
  const char* record = in.record;
  if (in.attributes & 0x10) {
    std::copy(in.record, in.record + in.record_length, in.conversion_record.begin());
    for_each_value(in.table, [&](const TableField& f, uint32_t offset) {
      if (f.type == ValueType::STRING || f.type == ValueType::CSTRING ||
          f.type == ValueType::PSTRING)
        make_typed_reference(f.type, in.conversion_record.data() + offset, f.size)->ansi_to_oem();
    });
    record = in.conversion_record.data();
  }
  std::string line;
  line.reserve(in.table.longest_text + in.table.value_count * 3 + 4);
  write_line(in.table, in.syntax(), in.options.always_quote, record, line);
  return line;
}

// The length of the UTF-8 mark that begins the file within the `old_length` bytes of a record
// at offset 0 (0 when there is none).
bool file_mark_length(BasicInstance& in, uint64_t old_length, uint64_t& mark) {
  mark = 0;
  if (old_length < kUtf8Mark.size()) return true;
  TextView text;
  if (!in.text.view(0, kUtf8Mark.size(), text)) return false;
  if (std::string_view(reinterpret_cast<const char*>(text.data), text.size) == kUtf8Mark)
    mark = kUtf8Mark.size();
  return true;
}

// Writes `line` in place of the `old_length` bytes at `offset` (an append when offset is the end
// of the file).
int32_t replace_text(BasicInstance& in, uint64_t offset, uint64_t old_length,
                     const std::string& line) {
  const uint64_t old_end = std::min(offset + old_length, in.file_size);
  const uint64_t new_end = offset + line.size();
  const uint64_t tail = in.file_size - old_end;
  if (offset == in.file_size) {
    if (!in.text.write(offset, line, in.may_hold_back_writes())) return kAccessDenied;
  } else if (tail == 0) {
    // The last record: nothing behind it moves.
    if (!in.text.write(offset, line, false)) return kAccessDenied;
    if (new_end < old_end && !in.text.set_size(new_end)) return kAccessDenied;
  } else if (new_end == old_end) {
    if (!in.text.write(offset, line, false)) return kAccessDenied;
  } else if (new_end > old_end) {
    if (!in.text.move_bytes(old_end, new_end, tail) || !in.text.write(offset, line, false))
      return kAccessDenied;
  } else {
    if (!in.text.write(offset, line, false) || !in.text.move_bytes(old_end, new_end, tail) ||
        !in.text.set_size(new_end + tail))
      return kAccessDenied;
  }
  in.file_size = new_end + tail;
  // Records behind the rewritten one have moved.
  if (in.next_pointer > old_end) in.next_pointer = in.next_pointer - old_end + new_end;
  in.record_offset = offset;
  in.line_length = line.size();
  in.flags |= BF_CURRENT;
  return 0;
}

// The write of one record at `offset` (none: at the end of the file) over `old_length` bytes,
// inside the driver's lock for a shared file.
int32_t write_record(BasicInstance& in, std::optional<uint64_t> offset, uint64_t old_length) {
  if (in.flags & BF_READ_ONLY) return kAccessDenied;
  if (in.shared() && take_lock(in) != 0) return kAccessDenied;
  int32_t r = 0;
  if (!refresh_size(in)) r = system_failure();
  if (r == 0) {
    const uint64_t at = offset.value_or(in.file_size);
    if (at > in.file_size) {
      r = kRecordNotAvailable;
    } else {
      // The UTF-8 mark at the start of the file belongs to the file, not to its first record:
      // the record's new text goes after it. The record still begins at offset 0.
      uint64_t mark = 0;
      if (at == 0 && !file_mark_length(in, old_length, mark)) r = system_failure();
      if (r == 0) r = replace_text(in, at + mark, old_length - mark, line_of(in));
      if (r == 0 && mark != 0) {
        in.record_offset = 0;
        in.line_length += mark;
      }
    }
  }
  if (in.shared()) {
    // Another process may read the file as soon as the lock goes.
    if (r == 0 && !in.text.flush()) r = kAccessDenied;
    release_lock(in);
  }
  return r;
}

// The length of the record that begins at `offset`, as reading it would pass over it.
bool old_record_length(BasicInstance& in, uint64_t offset, uint64_t& length) {
  if (offset >= in.file_size) {
    length = 0;
    return true;
  }
  uint64_t end = offset;
  if (!find_line_end(in.text, in.syntax(), offset, end)) return false;
  length = end - offset;
  return true;
}

// Cuts the file at `offset` (a write of length 0).
int32_t cut_file(BasicInstance& in, uint64_t offset) {
  if (in.flags & BF_READ_ONLY) return kAccessDenied;
  if (in.shared() && take_lock(in) != 0) return kAccessDenied;
  const int32_t r = in.text.set_size(offset) ? 0 : kAccessDenied;
  if (r == 0) {
    in.file_size = offset;
    if (in.record_offset >= offset) in.flags &= ~BF_CURRENT;
  }
  if (in.shared()) release_lock(in);
  return r;
}

int32_t put_at_pointer(BasicInstance& in, uint32_t pointer) {
  if (pointer == 0) return kRecordNotAvailable;
  if (!refresh_size(in)) return system_failure();
  const uint64_t offset = pointer - 1;
  if (offset > in.file_size) return kRecordNotAvailable;
  uint64_t old_length = 0;
  if ((in.flags & BF_CURRENT) && in.record_offset == offset)
    old_length = in.line_length;
  else if (!old_record_length(in, offset, old_length))
    return system_failure();
  return write_record(in, offset, old_length);
}

}  // namespace

int32_t add_record(FileCall& call) {
  return write_record(instance_of(call), std::nullopt, 0);
}

int32_t add_record_length(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (static_cast<uint32_t>(call.operand(0)) != 0) return write_record(in, std::nullopt, 0);
  if (!refresh_size(in)) return system_failure();
  return cut_file(in, in.file_size);
}

int32_t put_record(FileCall& call) {
  BasicInstance& in = instance_of(call);
  if (!(in.flags & BF_CURRENT)) return kRecordNotAvailable;
  return write_record(in, in.record_offset, in.line_length);
}

int32_t put_record_pointer(FileCall& call) {
  return put_at_pointer(instance_of(call), static_cast<uint32_t>(call.operand(0)));
}

int32_t put_record_pointer_length(FileCall& call) {
  BasicInstance& in = instance_of(call);
  const auto pointer = static_cast<uint32_t>(call.operand(0));
  if (static_cast<uint32_t>(call.operand(1)) != 0) return put_at_pointer(in, pointer);
  if (pointer == 0) return kRecordNotAvailable;
  return cut_file(in, pointer - 1);
}

}  // namespace vtn::basic
