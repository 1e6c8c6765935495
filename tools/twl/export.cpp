// twl export: a table's records as CSV or JSON lines on standard output, or every table of the
// file into a SQLite database. Records come in record-number order (the order they were added),
// or in the order of a key with --key.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "runtime/files/tarnwell/memo_chunks.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/value_type.hpp"
#include "tools/twl/catalog.hpp"
#include "tools/twl/commands.hpp"
#include "tools/twl/field_values.hpp"
#include "tools/twl/progress.hpp"
#include "tools/twl/session.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

// Where the records go.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool begin_table(const TableInfo& table, const std::vector<Column>& columns) = 0;
  virtual bool row(const std::vector<FieldValue>& values) = 0;
  virtual bool end_table() { return true; }
};

// CSV as the comma-delimited driver writes it: "," between values, texts in double quotes with
// quotes doubled, numbers bare, lines ending in CR LF. Blobs are written as hexadecimal text.
// Lines are gathered into a buffer of kOutputBlock bytes before they are written.
class CsvSink : public Sink {
 public:
  static constexpr size_t kOutputBlock = 1 << 16;

  explicit CsvSink(bool header) : header_(header) { out_.reserve(2 * kOutputBlock); }
  bool begin_table(const TableInfo&, const std::vector<Column>& columns) override {
    if (!header_) return true;
    std::vector<FieldValue> labels;
    for (const Column& c : columns) labels.push_back({FieldValue::Kind::text, 0, 0, c.label});
    return row(labels);
  }
  bool row(const std::vector<FieldValue>& values) override {
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out_ += ',';
      const FieldValue& v = values[i];
      switch (v.kind) {
        case FieldValue::Kind::null:
          break;
        case FieldValue::Kind::integer: {
          char digits[24];
          out_.append(digits, std::to_chars(digits, digits + sizeof digits, v.integer).ptr);
          break;
        }
        case FieldValue::Kind::real:
          append_real(out_, v.real);
          break;
        case FieldValue::Kind::exact:
          out_ += v.text;
          break;
        case FieldValue::Kind::text:
          append_quoted(out_, v.text);
          break;
        case FieldValue::Kind::blob:
          out_ += '"';
          append_hex(out_, v.text);
          out_ += '"';
          break;
      }
    }
    out_ += "\r\n";
    return out_.size() < kOutputBlock || write_out();
  }
  bool end_table() override { return write_out(); }

  // The text in double quotes, its quotes doubled.
  static void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (size_t quote; (quote = text.find('"')) != std::string_view::npos;) {
      out.append(text.substr(0, quote + 1)) += '"';
      text.remove_prefix(quote + 1);
    }
    out.append(text) += '"';
  }
  // The shortest text that reads back as the same number.
  static void append_real(std::string& out, double value) {
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
  }
  static void append_hex(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    for (const unsigned char b : bytes) {
      out += digits[b >> 4];
      out += digits[b & 15];
    }
  }

 private:
  bool write_out() {
    const bool written = std::fwrite(out_.data(), 1, out_.size(), stdout) == out_.size();
    out_.clear();
    return written;
  }

  bool header_;
  std::string out_;  // lines not yet written
};

// One object per record, keyed by the field labels; a dimensioned field is one array of its
// elements.
class JsonLinesSink : public Sink {
 public:
  bool begin_table(const TableInfo&, const std::vector<Column>& columns) override {
    columns_ = &columns;
    return true;
  }
  bool row(const std::vector<FieldValue>& values) override {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (size_t i = 0; i < values.size(); ++i) {
      const Column& column = (*columns_)[i];
      nlohmann::ordered_json& slot = object[column.name];
      if (column.element == 0) {
        slot = json_of(values[i]);
        continue;
      }
      if (!slot.is_array()) slot = nlohmann::ordered_json::array();
      slot.push_back(json_of(values[i]));
    }
    const std::string line =
        object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    return std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
  }

 private:
  static nlohmann::ordered_json json_of(const FieldValue& v) {
    switch (v.kind) {
      case FieldValue::Kind::integer:
        return v.integer;
      case FieldValue::Kind::real:
        return v.real;
      case FieldValue::Kind::exact:
      case FieldValue::Kind::text:
        return v.text;
      case FieldValue::Kind::blob: {
        std::string hex;
        CsvSink::append_hex(hex, v.text);
        return hex;
      }
      default:
        return nullptr;
    }
  }

  const std::vector<Column>* columns_ = nullptr;
};

// One SQL table per table, with typed columns (one per element of a dimensioned field): integers
// INTEGER, reals REAL, texts, dates, times and decimals (exact) TEXT, memos TEXT (blobs and
// binary memos hold BLOB values). An existing SQL table of the same name is
// replaced. All rows of a table go in one SQL transaction.
class SqliteSink : public Sink {
 public:
  explicit SqliteSink(sqlite3* db) : db_(db) {}
  ~SqliteSink() override { sqlite3_finalize(insert_); }

  bool begin_table(const TableInfo& table, const std::vector<Column>& columns) override {
    const std::string name = identifier(vtn::platform::ansi_to_utf8(table.name));
    std::string create = "CREATE TABLE " + name + " (";
    std::string insert = "INSERT INTO " + name + " VALUES (";
    for (size_t i = 0; i < columns.size(); ++i) {
      create += (i ? ", " : "") + identifier(columns[i].label) + " " + sql_type(columns[i]);
      insert += i ? ", ?" : "?";
    }
    return exec("DROP TABLE IF EXISTS " + name) && exec(create + ")") && exec("BEGIN") &&
           sqlite3_prepare_v2(db_, (insert + ")").c_str(), -1, &insert_, nullptr) == SQLITE_OK;
  }
  bool row(const std::vector<FieldValue>& values) override {
    sqlite3_reset(insert_);
    for (size_t i = 0; i < values.size(); ++i) {
      const FieldValue& v = values[i];
      const int at = static_cast<int>(i + 1);
      switch (v.kind) {
        case FieldValue::Kind::null:
          sqlite3_bind_null(insert_, at);
          break;
        case FieldValue::Kind::integer:
          sqlite3_bind_int64(insert_, at, v.integer);
          break;
        case FieldValue::Kind::real:
          sqlite3_bind_double(insert_, at, v.real);
          break;
        case FieldValue::Kind::exact:
        case FieldValue::Kind::text:
          sqlite3_bind_text(insert_, at, v.text.data(), static_cast<int>(v.text.size()),
                            SQLITE_TRANSIENT);
          break;
        case FieldValue::Kind::blob:
          sqlite3_bind_blob(insert_, at, v.text.data(), static_cast<int>(v.text.size()),
                            SQLITE_TRANSIENT);
          break;
      }
    }
    return sqlite3_step(insert_) == SQLITE_DONE;
  }
  bool end_table() override {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    return exec("COMMIT");
  }
  std::string error() const { return sqlite3_errmsg(db_); }

 private:
  static std::string identifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
      if (c == '"') out += '"';
      out += c;
    }
    return out + "\"";
  }
  static const char* sql_type(const Column& column) {
    if (column.source == Column::Source::memo) return "TEXT";
    switch (static_cast<vtn::ValueType>(column.type)) {
      case vtn::ValueType::BYTE:
      case vtn::ValueType::SHORT:
      case vtn::ValueType::USHORT:
      case vtn::ValueType::LONG:
      case vtn::ValueType::ULONG:
        return "INTEGER";
      case vtn::ValueType::SREAL:
      case vtn::ValueType::REAL:
      case vtn::ValueType::BFLOAT4:
      case vtn::ValueType::BFLOAT8:
        return "REAL";
      default:
        return "TEXT";
    }
  }
  bool exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
};

// The key a --key names: by label, with or without the table's prefix, or by external name.
int find_key(const tw::TableDefinition& d, const std::string& wanted_utf8) {
  const std::string wanted = vtn::platform::utf8_to_ansi(wanted_utf8);
  for (size_t k = 0; k < d.keys.size(); ++k) {
    const std::string label = d.keys[k].label.value_or("");
    const size_t colon = label.find(':');
    if (label == wanted || (colon != std::string::npos && label.substr(colon + 1) == wanted) ||
        d.keys[k].name.value_or("") == wanted) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

// The values of one record into `values`, whose storage is reused from record to record.
void values_of(RecordFile& file, const TableInfo& table, const std::vector<Column>& columns,
               const Number& record, std::span<const uint8_t> buffer,
               std::vector<FieldValue>& values) {
  const tw::TableDefinition& d = table.definition->definition;
  values.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    if (c.source == Column::Source::field) {
      read_field(c, buffer, table.oem, values[i]);
      continue;
    }
    const tw::MemoDefinition& memo = d.memos[c.index];
    std::vector<uint8_t> prefix = tw::kind_prefix(table.number, tw::kKindMemo);
    prefix.insert(prefix.end(), record.begin(), record.end());
    prefix.push_back(static_cast<uint8_t>(c.index));
    std::vector<tw::Record> chunks;
    for_each_with_prefix(file, prefix, [&](const StoredRecord& r) {
      chunks.push_back(record_copy(r));
      return true;
    });
    const tw::MemoFormat format{memo.is_blob(), (memo.flags & tw::kMemoBinary) != 0, table.oem};
    auto contents = tw::read_memo_contents(chunks, format);
    values[i] = contents ? memo_value(memo, *contents, false) : FieldValue{};
  }
}

// Sends every record of the table to the sink. Returns an error text, empty on success.
std::string export_table(RecordFile& file, const TableInfo& table, const std::string& key,
                         Sink& sink) {
  if (!table.definition) return "the stored definition of the table is missing or unreadable";
  const tw::TableDefinition& d = table.definition->definition;
  std::vector<Column> columns;
  try {
    columns = columns_of(d);
  } catch (const std::invalid_argument& e) {
    return std::string("the stored definition cannot be shown: ") + e.what();
  }
  if (!sink.begin_table(table, columns)) return "cannot write the output";
  Progress progress("export " + vtn::platform::ansi_to_utf8(table.name),
                    table.records ? table.records->count : 0);
  uint64_t done = 0;
  std::string failure;
  std::vector<FieldValue> values;
  std::vector<uint8_t> buffer_copy;
  const auto emit = [&](const Number& number, std::span<const uint8_t> buffer) {
    if (!d.memos.empty()) {  // reading the memos moves the views into the page cache
      buffer_copy.assign(buffer.begin(), buffer.end());
      buffer = buffer_copy;
    }
    values_of(file, table, columns, number, buffer, values);
    if (!sink.row(values)) {
      failure = "cannot write the output";
      return false;
    }
    if (++done % 256 == 0) progress.update(done);
    return true;
  };
  if (key.empty()) {
    for_each_with_prefix(file, tw::kind_prefix(table.number, tw::kKindData),
                         [&](const StoredRecord& r) {
                           // table(4) F3 record(4): the record's number ends the key part
                           if (r.key().size() != 9) return true;
                           Number number;
                           std::copy_n(r.key().begin() + 5, 4, number.begin());
                           return emit(number, r.data());
                         });
  } else {
    const int k = find_key(d, key);
    if (k < 0) return "the table has no key " + key;
    if (d.keys[k].flags & kKeyDynamic)
      return "key " + key + " is a dynamic index, not kept in the file";
    if (table.keys[k] && table.keys[k]->second != 0) {
      return "key " + key + " is stale from record " + std::to_string(table.keys[k]->second) +
             ": run twl rebuild first";
    }
    const bool duplicates = d.keys[k].flags & kKeyDuplicates;
    std::vector<Number> order;
    for_each_with_prefix(file, tw::kind_prefix(table.number, static_cast<uint8_t>(k)),
                         [&](const StoredRecord& r) {
                           if (auto entry = tw::read_key_entry(record_copy(r), duplicates)) {
                             order.push_back(entry->record);
                           }
                           return true;
                         });
    RecordFinder finder(file);
    std::vector<uint8_t> data_key = tw::kind_prefix(table.number, tw::kKindData);
    const size_t number_at = data_key.size();
    data_key.resize(number_at + sizeof(Number));
    for (const Number& number : order) {
      std::copy(number.begin(), number.end(), data_key.begin() + number_at);
      auto stored = finder.find_exact(data_key);
      if (!stored) continue;  // an entry whose record is gone is skipped, as the driver does
      if (!emit(number, stored->data())) break;
    }
  }
  progress.update(done);
  progress.finish();
  if (failure.empty() && !sink.end_table()) failure = "cannot write the output";
  return failure;
}

}  // namespace

int run_export(const ExportOptions& options) {
  const FileAndTable target = split_file_name(options.name);
  Session session;
  if (int32_t err = session.open(target.file, Session::Intent::read, options.password)) {
    return report_error(target.file, err);
  }
  sqlite3* db = nullptr;
  if (options.format == ExportFormat::sqlite &&
      sqlite3_open(options.sqlite_path.c_str(), &db) != SQLITE_OK) {
    std::fprintf(stderr, "twl: %s: cannot open the SQLite database: %s\n",
                 options.sqlite_path.c_str(), db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return kExitRefused;
  }
  std::string failure;
  bool not_chosen = false;
  const int32_t err = session.run(AccessMode::read, [&] {
    std::vector<TableInfo> tables = read_catalog(session.file());
    if (options.format == ExportFormat::sqlite) {
      SqliteSink sink(db);
      for (const TableInfo& table : tables) {
        if (!target.table.empty() && table.name != target.table) continue;
        failure = export_table(session.file(), table, options.key, sink);
        if (!failure.empty()) {
          if (failure == "cannot write the output") failure += ": " + sink.error();
          return;
        }
      }
      return;
    }
    const TableInfo* table = choose_table(tables, target.table, failure);
    if (table == nullptr) {
      not_chosen = true;
      return;
    }
    CsvSink csv(options.header);
    JsonLinesSink json;
    Sink& sink = options.format == ExportFormat::csv ? static_cast<Sink&>(csv) : json;
    failure = export_table(session.file(), *table, options.key, sink);
  });
  sqlite3_close(db);
  std::fflush(stdout);
  if (err != 0) {
    return report_error(target.file, err,
                        err == 90 ? "check " + std::to_string(session.damage_check()) : "");
  }
  if (not_chosen && !target.table.empty()) return report_error(target.file, 2, failure);
  if (!failure.empty()) {
    std::fprintf(stderr, "twl: %s: %s\n", target.file.c_str(), failure.c_str());
    return not_chosen ? kExitUsage : kExitRefused;
  }
  return kExitOk;
}

}  // namespace twl
