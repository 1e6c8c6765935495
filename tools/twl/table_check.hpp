// The consistency of one table against its own records: the data counter against the data
// records, and every maintained key against the records (entry counts, entries whose record is
// gone, records without an entry, records with more than one, and entries whose key value is
// not the value the record gives).
#pragma once

#include <string>
#include <vector>

#include "tools/twl/catalog.hpp"

namespace twl {

struct TableFinding {
  std::string table;
  std::string key;  // empty for the table's own records
  std::string what;
};

// REQUIRES: an access is in progress. `progress` is called with the count of records examined.
std::vector<TableFinding> check_table(RecordFile& file, const TableInfo& table,
                                      const std::function<void(uint64_t)>& progress);

}  // namespace twl
