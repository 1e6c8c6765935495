// Sequences of table operations on a scratch record file: whatever the operations and the record
// bytes, the driver must answer with an error code, never crash, and leave a file that the page
// store's checker finds sound after every operation.
//
// Input: a sequence of steps; each step is one byte choosing the operation and, for the
// operations that write, 18 bytes of record (LONG id, STRING(8) name, SHORT group, LONG extra).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace {

constexpr size_t kRecordSize = 18;

std::string scratch_path() {
  return "/tmp/vtn_table_fuzz_" + std::to_string(getpid()) + ".TWL";
}

vtn::File& table() {
  static vtn::File file{vtn::FileDeclaration("F")
                            .driver(vtn::tarnwell_entry)
                            .name(scratch_path())
                            .create()
                            .field("ID", vtn::ftype::LONG)
                            .field("NAME", vtn::ftype::STRING(8))
                            .field("GROUP", vtn::ftype::SHORT)
                            .field("EXTRA", vtn::ftype::LONG)
                            .key("BY_ID", {"ID"})
                            .key("BY_NAME", {"NAME"}, vtn::KA_DUP | vtn::KA_NOCASE)
                            .key("BY_GROUP", {"-GROUP", "EXTRA"})};
  return file;
}

void check_file() {
  using namespace vtn::tarnwell;
  RecordFile* file = nullptr;
  if (open_record_file(scratch_path(), 0x42, "", file) != 0) return;
  if (file->begin_access(AccessMode::read, true) == 0) {
    const CheckResult r = check_record_file(*file);
    if (!r.ok) std::abort();
    file->end_access();
  }
  close_record_file(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vtn;
  File& f = table();
  CLOSE(f);
  unlink(scratch_path().c_str());
  CREATE(f);
  OPEN(f, 0x12);
  if (ERRORNUMBER() != 0) return 0;
  KeyBlock* keys[3] = {&f.key("BY_ID"), &f.key("BY_NAME"), &f.key("BY_GROUP")};
  size_t at = 0;
  while (at < size) {
    const uint8_t op = data[at++];
    auto take_record = [&] {
      const size_t n = std::min(kRecordSize, size - at);
      std::memset(f.record(), 0, kRecordSize);
      std::memcpy(f.record(), data + at, n);
      at += n;
    };
    KeyBlock& key = *keys[op % 3];
    switch ((op >> 2) % 14) {
      case 0:
        take_record();
        ADD(f);
        break;
      case 1:
        take_record();
        APPEND(f);
        break;
      case 2:
        take_record();
        PUT(f);
        break;
      case 3:
        DELETE(f);
        break;
      case 4:
        SET(f);
        break;
      case 5:
        SET(key);
        break;
      case 6:
        take_record();
        SET(key, key);
        break;
      case 7:
        NEXT(f);
        break;
      case 8:
        PREVIOUS(f);
        break;
      case 9:
        take_record();
        GET(f, key);
        break;
      case 10:
        GET(f, static_cast<int32_t>(op));
        break;
      case 11:
        BUILD(f);
        break;
      case 12:
        EMPTY(f);
        break;
      default:
        SKIP(f, static_cast<int8_t>(op));
        break;
    }
    if (ERRORNUMBER() == 90) std::abort();  // the driver damaged its own file
    check_file();
  }
  CLOSE(f);
  unlink(scratch_path().c_str());
  return 0;
}
