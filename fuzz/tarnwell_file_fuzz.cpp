// A whole record file from arbitrary bytes (header, zones, pages, page log): opening, checking,
// walking every record and reading through or applying the log must end in a clear result (0,
// 36, or an internal error with its check number), never a crash, a hang or an access out of
// bounds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"

namespace {

using namespace vtn::tarnwell;

void check(bool condition) {
  if (!condition) std::abort();
}

const std::string& scratch_file() {
  static const std::string name = "/tmp/tarnwell_file_fuzz_" + std::to_string(getpid()) + ".TWL";
  return name;
}

void write_input(const uint8_t* data, size_t size) {
  FILE* out = std::fopen(scratch_file().c_str(), "wb");
  check(out != nullptr);
  if (size > 0) check(std::fwrite(data, 1, size, out) == size);
  std::fclose(out);
}

// Walks every record in order; stops at a key that does not increase (damage the checker
// reports) so that a damaged tree cannot make the walk go round.
void walk(RecordFile& file) {
  std::vector<uint8_t> last;
  bool first = true;
  for (int n = 0; n < 100000; ++n) {
    const auto r = first ? file.find_first_after({}) : file.find_first_after(last);
    if (!r) return;
    check(r->key_length <= r->bytes.size());
    if (!first && compare_keys(r->key(), last) <= 0) return;
    last.assign(r->key().begin(), r->key().end());
    first = false;
  }
}

void exercise(RecordFile& file, AccessMode mode) {
  try {
    const int32_t result = file.begin_access(mode, true);
    if (result != 0) {
      check(result == kNotAFile || result > 0);
      return;
    }
    const CheckResult verdict = check_record_file(file);
    check(verdict.ok || !verdict.what.empty());
    walk(file);
    file.find_last_before(std::vector<uint8_t>{0x80});
    file.find_at_or_before(std::vector<uint8_t>{0xFF, 0xFF});
  } catch (const InternalError& e) {
    check(e.check() > 0);
  }
  file.discard_changes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  write_input(data, size);
  RecordFile* file = nullptr;
  const int32_t opened = open_record_file(scratch_file(), 0x42, "", file);
  if (opened != 0) {
    check(opened == kNotAFile);
    return 0;
  }
  exercise(*file, AccessMode::read);   // reads through a page log
  exercise(*file, AccessMode::write);  // applies or abandons it
  close_record_file(file);
  unlink(scratch_file().c_str());
  return 0;
}
