// twl import: adds the records of a CSV file (as twl export writes it) to an existing table. All
// rows are read and checked first; a bad row refuses the whole import, with its line number,
// before anything changes. The records are then added through the record-file driver, so that
// keys, counters and memos are kept as any program keeps them, in LOGOUT / COMMIT batches: a
// failed ADD rolls its batch back and ends the import, the batches before it stay.
#include <cstdio>
#include <cstring>
#include <memory>

#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/memo_chunks.hpp"
#include "runtime/files/tarnwell/properties.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"
#include "tools/twl/catalog.hpp"
#include "tools/twl/commands.hpp"
#include "tools/twl/csv_reader.hpp"
#include "tools/twl/declaration.hpp"
#include "tools/twl/field_input.hpp"
#include "tools/twl/field_values.hpp"
#include "tools/twl/progress.hpp"
#include "tools/twl/session.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

constexpr size_t kErrorsShown = 20;

struct Row {
  size_t line;
  std::vector<uint8_t> buffer;
  std::vector<std::string> memos;  // ANSI texts or the bytes of blobs and binary memos, by index
};

bool is_header(const CsvRecord& record, const std::vector<Column>& columns) {
  if (record.values.size() != columns.size()) return false;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (record.values[i] != columns[i].label) return false;
  }
  return true;
}

// Reads and converts every row; false (with the reasons printed) when any is bad.
bool read_rows(std::FILE* in, const std::string& source, const tw::TableDefinition& d,
               const std::vector<Column>& columns, bool header, std::vector<Row>& rows) {
  CsvReader reader(in);
  std::vector<std::string> errors;
  bool first = true;
  while (auto record = reader.next()) {
    if (first && header && is_header(*record, columns)) {
      first = false;
      continue;
    }
    first = false;
    const std::string where = source + ": line " + std::to_string(record->line) + ": ";
    if (record->values.size() != columns.size()) {
      errors.push_back(where + std::to_string(record->values.size()) + " values, the table has " +
                       std::to_string(columns.size()) + " columns");
      continue;
    }
    Row row{record->line, std::vector<uint8_t>(d.record_length, 0), {}};
    row.memos.resize(d.memos.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& c = columns[i];
      std::string reason;
      const tw::MemoDefinition* memo =
          c.source == Column::Source::memo ? &d.memos[c.index] : nullptr;
      if (memo == nullptr) {
        reason = store_field_text(c, record->values[i], row.buffer);
      } else if (memo->is_blob() || (memo->flags & tw::kMemoBinary)) {
        std::string& bytes = row.memos[c.index];
        if (!hex_to_bytes(record->values[i], bytes)) {
          reason = "not hexadecimal bytes (two digits a byte)";
        } else if (memo->is_blob() && bytes.size() > tw::kMaxMemoContents) {
          reason = "longer than a blob's " + std::to_string(tw::kMaxMemoContents) + " bytes";
        } else if (!memo->is_blob() && bytes.size() > memo->size) {
          reason = "longer than the memo's " + std::to_string(memo->size) + " bytes";
        }
      } else if (!utf8_to_ansi_exactly(record->values[i], row.memos[c.index])) {
        reason = "a character the code page 1251 lacks";
      } else if (row.memos[c.index].size() > d.memos[c.index].size) {
        reason = "longer than the memo's " + std::to_string(d.memos[c.index].size) + " characters";
      }
      if (!reason.empty()) errors.push_back(where + c.label + ": " + reason);
    }
    rows.push_back(std::move(row));
  }
  if (!reader.error().empty()) errors.push_back(source + ": " + reader.error());
  for (size_t i = 0; i < errors.size() && i < kErrorsShown; ++i) {
    std::fprintf(stderr, "twl: %s\n", errors[i].c_str());
  }
  if (errors.size() > kErrorsShown) {
    std::fprintf(stderr, "twl: ... and %zu more bad values\n", errors.size() - kErrorsShown);
  }
  if (!errors.empty()) std::fprintf(stderr, "twl: nothing was imported\n");
  return errors.empty();
}

std::string error_text() {
  return "error " + std::to_string(vtn::ERRORNUMBER()) + ": " +
         vtn::platform::ansi_to_utf8(vtn::ERRORTEXT());
}

}  // namespace

int run_import(const ImportOptions& options) {
  const FileAndTable target = split_file_name(options.name);
  TableInfo table;
  if (int code = read_chosen_table(target, options.password, table)) return code;
  const tw::TableDefinition& d = table.definition->definition;
  const std::vector<Column> columns = columns_of(d);

  std::FILE* in = options.csv_path == "-" ? stdin : std::fopen(options.csv_path.c_str(), "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "twl: %s: cannot open: %s\n", options.csv_path.c_str(),
                 std::strerror(errno));
    return kExitRefused;
  }
  std::vector<Row> rows;
  const bool good = read_rows(in, options.csv_path, d, columns, options.header, rows);
  if (in != stdin) std::fclose(in);
  if (!good) return kExitRefused;

  std::unique_ptr<vtn::File> file;
  try {
    file = declare_table(target.file + "\\!" + table.name, d, options.password);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "twl: %s: the stored definition cannot be declared: %s\n",
                 target.file.c_str(), e.what());
    return kExitRefused;
  }
  vtn::SHARE(*file, vtn::kReadWriteDenyNone);
  if (vtn::ERRORNUMBER() != 0) return report_error(target.file, vtn::ERRORNUMBER());
  Progress progress("import " + vtn::platform::ansi_to_utf8(table.name), rows.size());
  size_t added = 0;
  int exit_code = kExitOk;
  for (size_t start = 0; start < rows.size() && exit_code == kExitOk; start += options.batch) {
    vtn::LOGOUT(1, {*file});
    const bool transaction = vtn::ERRORNUMBER() == 0;
    if (!transaction && vtn::ERRORNUMBER() != 80) {  // 80: the driver keeps no transactions
      std::fprintf(stderr, "twl: %s: LOGOUT: %s\n", target.file.c_str(), error_text().c_str());
      exit_code = kExitRefused;
      break;
    }
    const size_t end = std::min(rows.size(), start + options.batch);
    for (size_t i = start; i < end; ++i) {
      const Row& row = rows[i];
      std::memcpy(file->record(), row.buffer.data(), row.buffer.size());
      std::string failure;
      int32_t blob = 0;  // blobs are numbered from 1 among the memos that are blobs
      for (size_t m = 0; m < d.memos.size(); ++m) {
        if (d.memos[m].is_blob()) {
          vtn::SET_BLOB_PROPERTY(*file, ++blob, tw::prop::kContents, row.memos[m]);
          if (vtn::ERRORNUMBER() != 0 && failure.empty()) failure = "blob: " + error_text();
          continue;
        }
        vtn::MemoBlock& memo = file->memo(d.memos[m].label.value_or(""));
        if (memo.buffer == nullptr) continue;
        std::memset(memo.buffer, ' ', memo.size);
        std::memcpy(memo.buffer, row.memos[m].data(),
                    std::min<size_t>(row.memos[m].size(), memo.size));
      }
      if (failure.empty()) {
        vtn::ADD(*file);
        if (vtn::ERRORNUMBER() != 0) failure = error_text();
      }
      if (!failure.empty()) {
        std::fprintf(stderr, "twl: %s: line %zu: %s\n", options.csv_path.c_str(), row.line,
                     failure.c_str());
        if (transaction) {
          vtn::ROLLBACK();
        } else {
          added += i - start;  // without a transaction the rows before stay added
        }
        exit_code = kExitRefused;
        break;
      }
      progress.update(added + (i - start) + 1);
    }
    if (exit_code != kExitOk) break;
    if (transaction) {
      vtn::COMMIT();
      if (vtn::ERRORNUMBER() != 0) {
        std::fprintf(stderr, "twl: %s: COMMIT: %s\n", target.file.c_str(), error_text().c_str());
        exit_code = kExitRefused;
        break;
      }
    }
    added = end;
  }
  progress.finish();
  vtn::CLOSE(*file);
  std::printf("%s: %zu of %zu records added to %s\n", target.file.c_str(), added, rows.size(),
              vtn::platform::ansi_to_utf8(table.name).c_str());
  return exit_code;
}

}  // namespace twl
