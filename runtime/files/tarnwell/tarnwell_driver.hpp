// The record-file driver TARNWELL: tables with their keys, memos and definitions in .TWL files.
//
// A program names it as the driver of a FILE declaration:
//
//   File packs{FileDeclaration("PNM").driver(tarnwell_entry).name("PACKNAME").create()
//                  .field("NUMBER", ftype::SHORT).field("NAME", ftype::STRING(40))
//                  .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY)};
//
// Every call runs the shared call sequence (call_sequence.hpp); the operations themselves are in
// table_open, table_copy, record_ops, positioning, key_build, send_options and properties. An
// internal consistency error found during an operation abandons it with error 90 and leaves the
// table accepting only CLOSE and NAME. Holds, watches, table locks and transactions are the
// locking layer's (locking_hooks.hpp shows where it joins). A filtered index build compiles its
// filter with the expression evaluator, which installs itself (record_filter.hpp).
#pragma once

#include <array>
#include <cstdint>

#include "runtime/files/file_block.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn::tarnwell {

// The DriverEntry of TARNWELL.
int32_t tarnwell_entry(int32_t code, FileBlock* file, const OperandWord* operands);

const DriverRegistration& tarnwell_registration();

// The 70 operation codes the driver declares, and the field types it stores.
const std::array<int32_t, 70>& tarnwell_operations();
const std::array<ValueType, 17>& tarnwell_field_types();

}  // namespace vtn::tarnwell

namespace vtn {
using tarnwell::tarnwell_entry;
}
