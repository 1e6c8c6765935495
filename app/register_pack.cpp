#include "app/register_pack.hpp"

#include <string>

#include "app/open_with_recovery.hpp"
#include "app/pack_files.hpp"
#include "app/pack_path.hpp"
#include "app/warnings.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/paths.hpp"
#include "runtime/values/string_functions.hpp"

namespace ferrule {
namespace {

// How RegisterPack opens each file: created when missing, read/write, shared with everyone.
void open_file(vtn::FileBlock& file) {
  OpenWithRecovery(file, /*create_if_missing=*/true, /*do_not_create=*/false, /*access=*/0,
                   /*shared=*/true);
}

// The warnings for a record that could not be written: 14 after ADD, 31 ("Put" and the file's
// name) after PUT. Returns true when the write succeeded.
enum class Write { kAdd, kPut };
bool record_written(vtn::FileBlock& file, Write write) {
  if (vtn::ERRORNUMBER() == 0) return true;
  if (write == Write::kAdd) {
    WarnUser(14, "", "");
  } else {
    // The warning quotes the failed PUT's error; NAME does not change it.
    const std::string name = vtn::NAME(file);
    WarnUser(31, "Put", name);
  }
  return false;
}

// The request's path as PNM:PATH keeps it (SetPackPath).
void SetPackPath(const RequestRecord& request, PackRecord& pack) {
  const std::string current = vtn::path_long(vtn::path_short(""));
  if (std::optional<std::string> stored = stored_pack_path(request.path.view(), current)) {
    pack.path = *stored;
  }
}

// Writes settings record 1 and ends the registration: closes the three files and, when every
// write succeeded, deletes the request.
void StoreCurrentPack(bool pack_written) {
  vtn::File& settings = settings_table();
  SettingsRecord& current = settings_record();
  const PackRecord& pack = pack_record();
  bool written = pack_written;
  if (pack_written) {
    current.number = 1;
    vtn::GET(settings, settings_by_number());
    const Write write = vtn::ERRORNUMBER() != 0 ? Write::kAdd : Write::kPut;
    current.number = 1;
    current.name = pack.name;
    current.value = pack.path;
    if (write == Write::kAdd) {
      vtn::ADD(settings);
    } else {
      vtn::PUT(settings);
    }
    written = record_written(settings, write);
  }
  vtn::CLOSE(settings);
  vtn::CLOSE(pack_table());
  vtn::CLOSE(request_file());
  if (written) vtn::REMOVE(request_file());
  vtn::POPSCOPE();
}

}  // namespace

void RegisterPack() {
  vtn::PUSHSCOPE(0);
  vtn::File& packs = pack_table();
  vtn::File& request_in = request_file();
  open_file(packs);
  open_file(request_in);
  open_file(settings_table());
  clear_pack_records();

  const RequestRecord& request = request_record();
  PackRecord& pack = pack_record();
  vtn::SET(request_in);
  vtn::NEXT(request_in);
  if (vtn::ERRORNUMBER() != 0) return StoreCurrentPack(true);  // no request: blank settings

  pack.number = 0;
  vtn::SET(pack_by_number(), pack_by_number());
  while (!vtn::EOF_(packs)) {
    vtn::NEXT(packs);
    // Both names are the whole 40-character fields, so this is equality ignoring case.
    if (vtn::instring(vtn::upper(pack.name.view()), vtn::upper(request.name.view()), 1, 1) != 0) {
      pack.name = request.name;
      SetPackPath(request, pack);
      vtn::PUT(packs);
      return StoreCurrentPack(record_written(packs, Write::kPut));
    }
  }

  // No match: the buffer holds the last record read, the highest-numbered one.
  if (vtn::RECORDS(packs) > 0) {
    pack.number = static_cast<int16_t>(static_cast<uint16_t>(pack.number) + 1);
  } else {
    pack.number = 1;
  }
  pack.name = request.name;
  SetPackPath(request, pack);
  vtn::ADD(packs);
  StoreCurrentPack(record_written(packs, Write::kAdd));
}

}  // namespace ferrule
