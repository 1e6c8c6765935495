// Reading CSV as twl export and the comma-delimited driver write it: values separated by ",",
// a value in double quotes may hold commas, line ends and doubled quotes; lines end in CR LF or
// LF. Each record carries the number of the line it starts on, for error reports.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace twl {

struct CsvRecord {
  size_t line = 0;  // from 1
  std::vector<std::string> values;
  std::vector<bool> quoted;  // whether each value was in quotes
};

class CsvReader {
 public:
  explicit CsvReader(std::FILE* in) : in_(in) {}
  // The next record; nothing at the end of the input. A quote left open at the end is an error
  // (error() says where).
  std::optional<CsvRecord> next();
  const std::string& error() const { return error_; }

 private:
  int get();

  std::FILE* in_;
  size_t line_ = 1;
  std::string error_;
};

}  // namespace twl
