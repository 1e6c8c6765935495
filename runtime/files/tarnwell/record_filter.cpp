#include "runtime/files/tarnwell/record_filter.hpp"

namespace vtn::tarnwell {
namespace {

RecordFilterCompiler& compiler_slot() {
  static RecordFilterCompiler compiler = nullptr;
  return compiler;
}

}  // namespace

void set_record_filter_compiler(RecordFilterCompiler compiler) {
  compiler_slot() = compiler;
}

RecordFilterCompiler record_filter_compiler() {
  return compiler_slot();
}

}  // namespace vtn::tarnwell
