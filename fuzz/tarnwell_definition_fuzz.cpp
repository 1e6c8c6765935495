// The stored table definition on arbitrary bytes: reading must give a definition or nothing,
// without reading outside the stream or spending time on counts the stream cannot hold. A
// definition read back must write the very same bytes and match itself.
//
// Input: the stream. The same bytes are also cut into chunk records and joined again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "runtime/files/tarnwell/definition_stream.hpp"

namespace {
void check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vtn::tarnwell;
  const std::span<const uint8_t> stream(data, size);
  const Number table = {0, 0, 0, 1};
  const std::vector<Record> chunks = definition_chunks(table, stream);
  const auto joined = join_definition_chunks(table, chunks);
  check(joined && std::equal(joined->begin(), joined->end(), stream.begin(), stream.end()));

  const auto stored = read_definition(stream);
  if (!stored) return 0;
  const TableDefinition& d = stored->definition;
  if (stored->version == d.version()) {
    const std::vector<uint8_t> again = write_definition(d);
    check(std::equal(again.begin(), again.end(), stream.begin(), stream.end()));
    check(definitions_match(*stored, d));
  } else {
    check(!definitions_match(*stored, d));
  }
  return 0;
}
