#include "tools/twl/csv_reader.hpp"

namespace twl {

int CsvReader::get() {
  const int c = std::getc(in_);
  if (c == '\n') ++line_;
  return c;
}

std::optional<CsvRecord> CsvReader::next() {
  int c = get();
  if (c == EOF) return std::nullopt;
  CsvRecord record;
  record.line = line_ - (c == '\n' ? 1 : 0);
  std::string value;
  bool quoted = false;
  const auto end_value = [&] {
    record.values.push_back(std::move(value));
    record.quoted.push_back(quoted);
    value.clear();
    quoted = false;
  };
  for (;; c = get()) {
    if (c == EOF || c == '\n') {
      if (!value.empty() && value.back() == '\r' && !quoted) value.pop_back();
      end_value();
      return record;
    }
    if (c == ',') {
      end_value();
      continue;
    }
    if (c == '"' && value.empty() && !quoted) {
      quoted = true;
      const size_t start = line_;
      for (;;) {
        c = get();
        if (c == EOF) {
          error_ = "line " + std::to_string(start) + ": a quote is never closed";
          return std::nullopt;
        }
        if (c == '"') {
          const int after = std::getc(in_);
          if (after == '"') {
            value += '"';
            continue;
          }
          std::ungetc(after, in_);
          break;
        }
        value += static_cast<char>(c);
      }
      // After the closing quote only the separator or the line end may follow (CR allowed).
      c = get();
      if (c == '\r') c = get();
      if (c == EOF || c == '\n') {
        end_value();
        return record;
      }
      if (c != ',') {
        error_ = "line " + std::to_string(record.line) + ": text after a closing quote";
        return std::nullopt;
      }
      end_value();
      continue;
    }
    value += static_cast<char>(c);
  }
}

}  // namespace twl
