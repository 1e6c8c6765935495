// File, key and blob properties, one table each: a property's number, whether it needs the table
// open, and how it is read and (for some) set.
#include "runtime/files/tarnwell/properties.hpp"

#include <charconv>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/locking_hooks.hpp"
#include "runtime/files/tarnwell/memo_chunks.hpp"
#include "runtime/files/tarnwell/send_options.hpp"
#include "runtime/files/tarnwell/table_names.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kMemoTooLong = 57;

// What a property reads or sets: the table, the call (element and value texts, result), and for
// key and blob properties the key or the blob.
struct Target {
  TableInstance& t;
  FileCall& call;
  TableKey* key = nullptr;
  TableMemo* blob = nullptr;
  std::string_view element;
  std::string_view value;  // setting only
};

using Getter = int32_t (*)(Target&);
using Setter = int32_t (*)(Target&);

struct Property {
  int32_t number;
  bool needs_open;
  Getter get;
  Setter set;  // null: read only
};

// A number from 1 as the element gives it; 0 when there is none or it is not a number.
uint32_t element_number(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  uint32_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end == text.data() + text.size() ? n : 0;
}

std::string flag(bool on) {
  return on ? "1" : "0";
}

// The external name and the label of a KeyBlock or MemoBlock; empty for none.
template <typename Block>
std::string name_of(const Block* b) {
  return b != nullptr && b->name != nullptr ? std::string(b->name, b->name_length) : std::string();
}
template <typename Block>
std::string label_of(const Block* b) {
  return b != nullptr && b->label != nullptr ? std::string(b->label, b->label_length)
                                             : std::string();
}

int32_t answer(Target& x, std::string text) {
  x.call.result_text = std::move(text);
  return 0;
}

int32_t answer_number(Target& x, int64_t n) {
  return answer(x, std::to_string(n));
}

// Runs `body` inside a read (or write) access of the open table.
template <typename Body>
int32_t in_access(TableInstance& t, bool write, Body body) {
  if (int32_t r = begin_operation_access(t, write); r != 0) return r;
  const int32_t result = body();
  const int32_t ended = end_operation_access(t);
  return result != 0 ? result : ended;
}

const FieldDescriptor* element_field(const Target& x) {
  const uint32_t n = element_number(x.element);
  return n >= 1 && n <= x.t.fields.size() ? &x.t.fields[n - 1] : nullptr;
}

// --- The table ------------------------------------------------------------------------------

int32_t get_name(Target& x) {
  return answer(x, x.t.file_name);
}
int32_t get_field_label(Target& x) {
  const FieldDescriptor* f = element_field(x);
  return answer(x, f != nullptr ? f->label : std::string());
}
int32_t get_driver(Target& x) {
  return answer(x, "TARNWELL");
}
int32_t get_driver_options(Target& x) {
  return answer(x, x.t.driver_options);
}
int32_t get_records(Target& x) {
  return in_access(x.t, false, [&] {
    return answer_number(x, read_counter(x.t, kKindData).value_or(Counter{}).count);
  });
}
int32_t get_record_size(Target& x) {
  return answer_number(x, x.t.record_length);
}
int32_t get_fields(Target& x) {
  return answer_number(x, static_cast<int64_t>(x.t.fields.size()));
}
int32_t get_keys(Target& x) {
  return answer_number(x, static_cast<int64_t>(x.t.keys.size()));
}
int32_t get_memos(Target& x) {
  return answer_number(x, static_cast<int64_t>(x.t.memos.size()));
}
int32_t get_blobs(Target& x) {
  int64_t n = 0;
  for (const TableMemo& m : x.t.memos) n += m.blob ? 1 : 0;
  return answer_number(x, n);
}
int32_t get_field_type(Target& x) {
  const FieldDescriptor* f = element_field(x);
  return answer(x, f != nullptr ? std::string(value_type_name(f->type)) : std::string());
}
int32_t get_field_size(Target& x) {
  const FieldDescriptor* f = element_field(x);
  return answer(x, f != nullptr ? std::to_string(f->size) : std::string());
}
int32_t get_table(Target& x) {
  return answer(x, split_table_name(x.t.file_name).table);
}
int32_t get_physical_file(Target& x) {
  return answer(x, x.t.physical_name);
}
int32_t get_fullbuild(Target& x) {
  return answer(x, x.t.fullbuild ? "ON" : "OFF");
}
int32_t set_fullbuild(Target& x) {
  x.t.fullbuild = x.value.size() >= 2 && (x.value[0] == 'O' || x.value[0] == 'o') &&
                  (x.value[1] == 'N' || x.value[1] == 'n');
  return 0;
}
int32_t get_flags(Target& x) {
  return in_access(x.t, false, [&] {
    return answer_number(x, read_counter(x.t, kKindData).value_or(Counter{}).second);
  });
}
int32_t set_flags(Target& x) {
  return in_access(x.t, true, [&] {
    std::optional<Counter> c = read_counter(x.t, kKindData);
    if (!c) return err::kAccessDenied;  // the table's counter record is missing
    c->second = parse_flags_value(x.value);
    write_counter(x.t, kKindData, *c);
    return 0;
  });
}
int32_t get_pointer(Target& x) {
  return answer_number(x, x.t.current);
}

constexpr Property kFileProperties[] = {
    {prop::kName, false, get_name, nullptr},
    {prop::kLabel, false, get_field_label, nullptr},
    {prop::kDriver, false, get_driver, nullptr},
    {prop::kDriverOptions, false, get_driver_options, nullptr},
    {prop::kRecords, true, get_records, nullptr},
    {prop::kRecordSize, false, get_record_size, nullptr},
    {prop::kFields, false, get_fields, nullptr},
    {prop::kKeys, false, get_keys, nullptr},
    {prop::kMemos, false, get_memos, nullptr},
    {prop::kBlobs, false, get_blobs, nullptr},
    {prop::kType, false, get_field_type, nullptr},
    {prop::kSize, false, get_field_size, nullptr},
    {prop::kTable, false, get_table, nullptr},
    {prop::kPhysicalFile, true, get_physical_file, nullptr},
    {prop::kFullBuild, false, get_fullbuild, set_fullbuild},
    {prop::kFlags, true, get_flags, set_flags},
    {prop::kPointer, true, get_pointer, nullptr},
};

// --- A key ----------------------------------------------------------------------------------

int32_t get_key_name(Target& x) {
  return answer(x, name_of(x.key->block));
}
int32_t get_key_label(Target& x) {
  return answer(x, label_of(x.key->block));
}
int32_t get_key_records(Target& x) {
  if (x.key->index) return answer_number(x, static_cast<int64_t>(x.key->index->size()));
  return in_access(x.t, false, [&] {
    return answer_number(x, read_counter(x.t, x.key->kind).value_or(Counter{}).count);
  });
}
int32_t get_stale_mark(Target& x) {
  if (x.key->index) return answer_number(x, 0);
  return in_access(x.t, false, [&] {
    return answer_number(x, read_counter(x.t, x.key->kind).value_or(Counter{}).second);
  });
}
int32_t get_components(Target& x) {
  return answer_number(x, static_cast<int64_t>(x.key->shape.components.size()));
}
int32_t get_component(Target& x) {
  const KeyBlock* b = x.key->block;
  const uint32_t n = element_number(x.element);
  if (b == nullptr || n < 1 || n > b->component_count) return answer(x, std::string());
  return answer_number(x, b->components[n - 1]);
}
int32_t get_duplicates(Target& x) {
  return answer(x, flag(x.key->duplicates()));
}
int32_t get_nocase(Target& x) {
  return answer(x, flag((x.key->key_flags & kKeyNoCase) != 0));
}
int32_t get_primary(Target& x) {
  return answer(x, flag((x.key->key_flags & kKeyPrimary) != 0));
}
int32_t get_dynamic(Target& x) {
  return answer(x, flag(x.key->dynamic()));
}
int32_t get_ready(Target& x) {
  return answer(x, flag(!x.key->dynamic() || (x.key->state & FS_KEYREADY) != 0));
}

constexpr Property kKeyProperties[] = {
    {prop::kName, false, get_key_name, nullptr},
    {prop::kLabel, false, get_key_label, nullptr},
    {prop::kRecords, true, get_key_records, nullptr},
    {prop::kComponents, false, get_components, nullptr},
    {prop::kComponent, false, get_component, nullptr},
    {prop::kDuplicates, false, get_duplicates, nullptr},
    {prop::kNoCase, false, get_nocase, nullptr},
    {prop::kPrimary, false, get_primary, nullptr},
    {prop::kDynamic, false, get_dynamic, nullptr},
    {prop::kReady, false, get_ready, nullptr},
    {prop::kStaleMark, true, get_stale_mark, nullptr},
};

// --- A blob ---------------------------------------------------------------------------------

// Blob contents exist in memory only once a record was read with its memos (or for a record
// being made): after a NOMEMO read they are the previous record's, and a change would not be
// written by PUT.
bool contents_available(const TableInstance& t) {
  return !t.read_without_memos;
}

int32_t get_blob_name(Target& x) {
  return answer(x, name_of(x.blob->block));
}
int32_t get_blob_label(Target& x) {
  return answer(x, label_of(x.blob->block));
}
int32_t get_blob_size(Target& x) {
  if (!contents_available(x.t)) return err::kRecordNotAvailable;
  return answer_number(x, static_cast<int64_t>(x.blob->blob_contents.size()));
}
int32_t set_blob_size(Target& x) {
  if (!contents_available(x.t)) return err::kRecordNotAvailable;
  const std::string_view v = x.value;
  uint32_t n = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end != v.data() + v.size()) n = 0;
  if (n > kMaxMemoContents) return kMemoTooLong;
  x.blob->blob_contents.resize(n, 0);
  return 0;
}
int32_t get_blob_binary(Target& x) {
  return answer(x, flag(x.blob->binary));
}

// Bytes `from` to `to` (from 1, both included) as "from:to"; "from" alone runs to the end; no
// element is the whole blob.
int32_t get_contents(Target& x) {
  if (!contents_available(x.t)) return err::kRecordNotAvailable;
  const Bytes& b = x.blob->blob_contents;
  size_t from = 1, to = b.size();
  if (!x.element.empty()) {
    const size_t colon = x.element.find(':');
    from = element_number(x.element.substr(0, colon));
    if (colon != std::string_view::npos) to = element_number(x.element.substr(colon + 1));
    if (from == 0) return answer(x, std::string());
  }
  to = std::min(to, b.size());
  if (from > to) return answer(x, std::string());
  return answer(x, std::string(b.begin() + static_cast<ptrdiff_t>(from - 1),
                               b.begin() + static_cast<ptrdiff_t>(to)));
}

// The whole contents, or (with an element) the value written from that byte on, the blob growing
// as needed (with zero bytes when the value starts beyond its end).
int32_t set_contents(Target& x) {
  if (!contents_available(x.t)) return err::kRecordNotAvailable;
  Bytes& b = x.blob->blob_contents;
  if (x.element.empty()) {
    if (x.value.size() > kMaxMemoContents) return kMemoTooLong;
    b.assign(x.value.begin(), x.value.end());
    return 0;
  }
  const size_t from = element_number(x.element);
  if (from == 0) return kMemoTooLong;
  const size_t end = from - 1 + x.value.size();
  if (end > kMaxMemoContents) return kMemoTooLong;
  if (b.size() < end) b.resize(end, 0);
  std::copy(x.value.begin(), x.value.end(), b.begin() + static_cast<ptrdiff_t>(from - 1));
  return 0;
}

constexpr Property kBlobProperties[] = {
    {prop::kName, false, get_blob_name, nullptr},
    {prop::kLabel, false, get_blob_label, nullptr},
    {prop::kSize, false, get_blob_size, set_blob_size},
    {prop::kContents, false, get_contents, set_contents},
    {prop::kBinary, false, get_blob_binary, nullptr},
};

// --- Running one ----------------------------------------------------------------------------

// Runs property `number` of `table`: a setting pops (value, element), a reading (element).
template <size_t N>
int32_t run_property(const Property (&table)[N], int32_t number, bool setting, TableInstance& t,
                     FileCall& call, TableKey* key, TableMemo* blob) {
  Target x{t,
           call,
           key,
           blob,
           setting ? call.strings[1] : call.strings[0],
           setting ? call.strings[0] : std::string_view()};
  for (const Property& p : table) {
    if (p.number != number) continue;
    if (p.needs_open && !t.is_open()) return kFileNotOpen;
    if (!setting) return p.get(x);
    return p.set != nullptr ? p.set(x) : err::kUnsupported;
  }
  return err::kUnsupported;
}

// The n-th blob of the record (from 1), or null.
TableMemo* blob_number(TableInstance& t, int64_t n) {
  int64_t seen = 0;
  for (TableMemo& m : t.memos)
    if (m.blob && ++seen == n) return &m;
  return nullptr;
}

// The thread's blob transfer slot: what the last BLOB_YIELD gave.
Bytes& transfer_slot() {
  thread_local Bytes slot;
  return slot;
}

}  // namespace

int32_t op_property(TableInstance& t, FileCall& call) {
  return run_property(kFileProperties, static_cast<int32_t>(call.operand(0)),
                      call.code == op::SET_PROPERTY, t, call, nullptr, nullptr);
}

int32_t op_key_property(TableInstance& t, FileCall& call) {
  return run_property(kKeyProperties, static_cast<int32_t>(call.operand(1)),
                      call.code == op::SETPROPERTYkey, t, call,
                      static_cast<TableKey*>(call.key_data), nullptr);
}

int32_t op_blob(TableInstance& t, FileCall& call) {
  TableMemo* blob = blob_number(t, static_cast<int64_t>(call.operand(0)));
  if (blob == nullptr) return err::kInvalidRecordDeclaration;
  switch (call.code) {
    case op::BLOB_SIZE:
      call.value = static_cast<int32_t>(blob->blob_contents.size());
      return 0;
    case op::BLOB_YIELD:
      if (!contents_available(t)) return err::kRecordNotAvailable;
      transfer_slot() = blob->blob_contents;
      return 0;
    case op::BLOB_TAKE:
      if (!contents_available(t)) return err::kRecordNotAvailable;
      blob->blob_contents = transfer_slot();
      return 0;
    default:
      // BLOB_GET_PROP sets a property; BLOB_SET_PROP reads one.
      return run_property(kBlobProperties, static_cast<int32_t>(call.operand(1)),
                          call.code == op::BLOB_GET_PROP, t, call, nullptr, blob);
  }
}

}  // namespace vtn::tarnwell
