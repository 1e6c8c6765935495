// Key building: BUILDfile, BUILDkey, PACK, BUILDdyn and BUILDdynfilter.
//
// A key is built from nothing: its old entries go, every data record of the table is loaded (in
// record-number order) and its key value, followed by its record number, goes into an external
// merge sort; the sorted items become the key's entries. In a key without duplicates the first
// record of each value (the lowest record number) gets the entry, the others are left out and the
// key's stale mark becomes the lowest record number left out; the build then reports 40. While
// entries go in, the key's counter is stored and the file flushed whenever 400 pages are dirty.
#include <array>
#include <cstring>

#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/external_sort.hpp"
#include "runtime/files/tarnwell/locking_hooks.hpp"
#include "runtime/files/tarnwell/record_filter.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn::tarnwell {
namespace {

constexpr size_t kFlushEveryDirtyPages = 400;
constexpr int32_t kInvalidIndexString = 76;

// Records fed to the sorter, with the progress events the file asks for.
class RecordWalk {
 public:
  explicit RecordWalk(TableInstance& t) : t_(t) {}

  // Calls visit(record number) with the record loaded in the record buffer, for every data
  // record in record-number order. 0, or 93 when the program cancels.
  template <typename Visit>
  int32_t run(Visit visit) {
    FileBlock& file = *t_.file;
    const uint32_t total = read_counter(t_, kKindData).value_or(Counter{}).count;
    const uint32_t step = file.build_event_step;
    uint32_t done = 0;
    const std::array<uint8_t, 5> prefix = {t_.table[0], t_.table[1], t_.table[2], t_.table[3],
                                           kKindData};
    std::span<uint8_t> buffer = record_buffer(t_);
    DataKey key;  // the key part of the record in hand, to find the next one from
    auto r = t_.store->find_first_after(prefix);
    while (r && r->key.size() == key.size() &&
           std::memcmp(r->key.data(), prefix.data(), sizeof prefix) == 0) {
      std::memcpy(key.data(), r->key.data(), key.size());
      const uint32_t record = load_be32(key.data() + 5);
      const size_t n = std::min(buffer.size(), r->data.size());
      std::memcpy(buffer.data(), r->data.data(), n);
      if (n < buffer.size()) std::memset(buffer.data() + n, 0, buffer.size() - n);
      record_from_file(t_, buffer);
      if (int32_t v = visit(record); v != 0) return v;
      ++done;
      if (file.build_events != nullptr && step != 0 && done % step == 0 &&
          file.build_events(file, done, total) != 0)
        return err::kBuildCancelled;
      r = t_.store->find_first_after(key);
    }
    return 0;
  }

 private:
  TableInstance& t_;
};

// `filter`: only the records it accepts get an entry (a filtered dynamic index).
int32_t build_key(TableInstance& t, TableKey& key, RecordFilter* filter = nullptr) {
  if (key.shape.components.empty()) return err::kKeyMustBeRebuilt;
  RecordStore& s = entry_store(t, key);
  const Bytes prefix = kind_key(t.table, key.kind);
  s.delete_prefix(prefix);

  const size_t value_length = key.shape.value_length;
  const size_t item_size = value_length + 4;
  ExternalSorter sorter(item_size);
  Bytes item(item_size);
  const KeyEncoder encoder(key.shape, t.collation);
  const int32_t walked = RecordWalk(t).run([&](uint32_t record) {
    if (filter != nullptr && !filter->accepts()) return 0;
    encoder.encode(record_buffer(t), item);
    store_be32(item.data() + value_length, record);
    return sorter.add(item) ? 0 : system_error();
  });
  if (walked != 0) return walked;
  if (!sorter.finish()) return system_error();

  uint32_t count = 0, stale_mark = 0;
  // The entry's key part, made in place: the prefix, the value (the previous entry's until the
  // next is written), with duplicates the record number.
  Bytes entry(prefix.size() + (key.duplicates() ? item_size : value_length));
  std::copy(prefix.begin(), prefix.end(), entry.begin());
  uint8_t* const entry_value = entry.data() + prefix.size();
  while (const uint8_t* p = sorter.next()) {
    const uint32_t record = load_be32(p + value_length);
    if (!key.duplicates() && count != 0 && std::memcmp(p, entry_value, value_length) == 0) {
      if (stale_mark == 0 || record < stale_mark) stale_mark = record;
      continue;
    }
    std::memcpy(entry_value, p, entry.size() - prefix.size());
    s.insert_record(entry, ByteSpan(p + value_length, 4));
    ++count;
    if (!key.index && s.dirty_pages() >= kFlushEveryDirtyPages) {
      write_counter(t, key.kind, {count, stale_mark});
      if (int32_t f = s.flush(); f != 0) return f;
    }
  }
  if (sorter.failed()) return system_error();
  if (!key.index) {
    write_counter(t, key.kind, {count, stale_mark});
    if (int32_t f = t.store->flush(); f != 0) return f;
  }
  return stale_mark != 0 ? err::kCreatesDuplicateKey : 0;
}

// The components of a dynamic index as BUILD gives them: field labels separated by commas, each
// with an optional "+" (ascending) or "-" (descending) in front.
bool parse_components(const TableInstance& t, const std::string& text, std::vector<int32_t>& out) {
  out.clear();
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(at, end - at);
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    while (!item.empty() && item.back() == ' ') item.pop_back();
    bool descending = false;
    if (!item.empty() && (item[0] == '+' || item[0] == '-')) {
      descending = item[0] == '-';
      item.erase(0, 1);
    }
    if (item.empty()) return false;
    RecordType type;
    type.fields = t.fields;
    const int32_t n = field_number(&type, item);
    if (n == 0) return false;
    out.push_back(descending ? -n : n);
    at = end + 1;
  }
  return !out.empty();
}

bool blank(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

// Compiles the filter of BUILDdynfilter over the table's fields, bound to the record buffer.
// 0, 80 without an installed compiler, or the compiler's 800 / 801 with its reason as the
// driver's message.
int32_t compile_filter(TableInstance& t, const std::string& text,
                       std::unique_ptr<RecordFilter>& out) {
  const RecordFilterCompiler compile = record_filter_compiler();
  if (compile == nullptr) return err::kUnsupported;
  std::span<uint8_t> buffer = record_buffer(t);
  std::vector<FilterField> fields;
  for (const FieldDescriptor& f : t.fields) {
    if (f.element_count() != 1 || f.offset + f.size > buffer.size()) continue;
    fields.push_back({f.label, f.value_type(), buffer.data() + f.offset, f.size, f.places});
  }
  FilterCompilation c = compile(text, fields);
  if (!c.filter) {
    post_driver_error(std::to_string(c.error), c.reason);
    return c.error;
  }
  out = std::move(c.filter);
  return 0;
}

// BUILDdyn and BUILDdynfilter: the components given at run time (none: those declared), then
// the entries of the records that pass the filter.
int32_t build_dynamic(TableInstance& t, FileCall& call) {
  TableKey& key = *static_cast<TableKey*>(call.key_data);
  if (!key.dynamic()) return kInvalidIndexString;
  // Nothing of the index changes until both the filter and the components are good.
  std::unique_ptr<RecordFilter> filter;
  if (call.code == op::BUILDdynfilter && !blank(call.strings[1])) {
    if (int32_t r = compile_filter(t, call.strings[1], filter); r != 0) return r;
  }
  if (!blank(call.strings[0])) {
    std::vector<int32_t> components;
    KeyShape shape;
    if (!parse_components(t, call.strings[0], components) ||
        !shape_key(t.fields, components.data(), components.size(),
                   (key.key_flags & kKeyNoCase) != 0, shape))
      return kInvalidIndexString;
    key.shape = std::move(shape);
  }
  return build_key(t, key, filter.get());
}

int32_t run_build(TableInstance& t, FileCall& call) {
  if (t.fullbuild) write_collation(t);
  int32_t result = 0;
  auto keep_first = [&result](int32_t r) {
    if (r == err::kCreatesDuplicateKey) {
      if (result == 0) result = r;
      return false;
    }
    if (r != 0) result = r;
    return r != 0;
  };
  switch (call.code) {
    case op::BUILDfile:
    case op::PACK:
      for (auto& key : t.keys) {
        if (key->deferred() || key->dynamic()) continue;
        if (keep_first(build_key(t, *key))) return result;
      }
      if (call.code == op::PACK && result == 0) result = t.store->truncate_unused();
      return result;
    case op::BUILDkey:
      return build_key(t, *static_cast<TableKey*>(call.key_data));
    case op::BUILDdyn:
    case op::BUILDdynfilter:
      return build_dynamic(t, call);
    default:
      return err::kUnsupported;
  }
}

}  // namespace

int32_t op_build(TableInstance& t, FileCall& call) {
  const bool opened_here = !t.is_open();
  if (opened_here) {
    if (int32_t r = open_table(t, kBuildAccess, false, false); r != 0) return r;
  }
  const Bytes saved(record_buffer(t).begin(), record_buffer(t).end());
  int32_t result = begin_operation_access(t, true);
  if (result == 0) {
    t.file_state |= FS_BUILDING;
    result = run_build(t, call);
    t.file_state &= ~FS_BUILDING;
    const int32_t ended = end_operation_access(t);
    if (result == 0) result = ended;
  }
  std::copy(saved.begin(), saved.end(), record_buffer(t).begin());
  t.fullbuild = false;
  if (opened_here) close_table(t);
  return result;
}

}  // namespace vtn::tarnwell
