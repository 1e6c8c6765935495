// Sequences of table operations on a scratch record file: whatever the operations and the record
// bytes, the driver must answer with an error code, never crash, and leave a file that the page
// store's checker finds sound after every operation.
//
// Input: a sequence of steps; each step is one byte choosing the operation and, for the
// operations that write, 18 bytes of record (LONG id, STRING(8) name, SHORT group, LONG extra).
// A copy of the table into a second table of the same file must hold as many records as the
// table.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

vtn::FileDeclaration declaration(const std::string& name) {
  return vtn::FileDeclaration("F")
      .driver(vtn::tarnwell_entry)
      .name(name)
      .create()
      .field("ID", vtn::ftype::LONG)
      .field("NAME", vtn::ftype::STRING(8))
      .field("GROUP", vtn::ftype::SHORT)
      .field("EXTRA", vtn::ftype::LONG)
      .key("BY_ID", {"ID"})
      .key("BY_NAME", {"NAME"}, vtn::KA_DUP | vtn::KA_NOCASE)
      .key("BY_GROUP", {"-GROUP", "EXTRA"});
}

vtn::File& table() {
  static vtn::File file{declaration(scratch_path())};
  return file;
}

vtn::File& copy() {
  static vtn::File file{declaration(scratch_path() + "\\!COPY")};
  return file;
}

// The records of a table in record order, or in the order of a key, as bytes.
std::vector<std::string> walk(vtn::File& f, vtn::KeyBlock* key) {
  using namespace vtn;
  key != nullptr ? SET(*key) : SET(f);
  std::vector<std::string> out;
  for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) out.emplace_back(f.record(), kRecordSize);
  return out;
}

// COPY of the open table `f` into the table COPY of the same file: it must succeed and read back
// as the table does, in record order and by the first key. `f` is open again afterwards.
void copy_and_compare(vtn::File& f) {
  using namespace vtn;
  const std::vector<std::string> records = walk(f, nullptr);
  const std::vector<std::string> by_id = walk(f, &f.key("BY_ID"));
  CLOSE(f);
  COPY(f, scratch_path() + "\\!COPY");
  if (ERRORNUMBER() != 0) std::abort();
  File& c = copy();
  OPEN(c, 0x40);
  if (ERRORNUMBER() != 0) std::abort();
  if (walk(c, nullptr) != records || walk(c, &c.key("BY_ID")) != by_id) std::abort();
  CLOSE(c);
  OPEN(f, 0x12);
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
    switch ((op >> 2) % 17) {
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
      case 13:
        copy_and_compare(f);
        break;
      case 14:
        BUILD(key);
        break;
      case 15:
        PACK(f);
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
