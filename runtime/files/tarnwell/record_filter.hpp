// Filters on a table's records: an expression text over the table's fields, asked once per record
// while an index is built (BUILD(index, components, filter)).
//
// Expressions belong to the evaluator, which sits above the drivers; the driver therefore reaches
// it through a compiler that the evaluator installs:
//
//   vtn::install_record_filters();   // runtime/eval/record_filters.hpp
//
// Linking the evaluator's file installs it, and the run-time's link options keep that file in
// every program. Until one is installed (a program linked by other means), a filtered build
// answers 80 (Unsupported File Driver Function) rather than build an index that ignores its
// filter.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {

// One field of the record buffer as the filter may name it ("PNM:NUMBER", or "NUMBER").
struct FilterField {
  std::string_view label;
  ValueType type = ValueType::BYTE;
  uint8_t* address = nullptr;  // in the record buffer; read anew at every evaluation
  uint32_t size = 0;
  uint32_t places = 0;
};

class RecordFilter {
 public:
  virtual ~RecordFilter() = default;
  // Whether the record now in the record buffer passes.
  virtual bool accepts() = 0;
};

struct FilterCompilation {
  std::unique_ptr<RecordFilter> filter;  // null when the text does not compile
  int32_t error = 0;                     // then: 800 (not an expression) or 801 (unknown name)
  std::string reason;                    // what was wrong, for DRIVERERROR()
};

using RecordFilterCompiler = FilterCompilation (*)(std::string_view text,
                                                   std::span<const FilterField> fields);

void set_record_filter_compiler(RecordFilterCompiler compiler);
// Null until the evaluator installed its compiler.
RecordFilterCompiler record_filter_compiler();

}  // namespace vtn::tarnwell
