// ferrule's three files and their records:
//
//   request file    Mossgate.ini  BASIC     NPK  NAME STRING(40), PATH STRING(120)
//   pack table      PACKNAME      TARNWELL  PNM  NUMBER SHORT, NAME STRING(40), PATH STRING(120)
//                                                key BY_NUMBER (NUMBER)
//   settings table  SETUP         TARNWELL  SET  NUMBER SHORT, NAME STRING(40), VALUE STRING(120)
//                                                key BY_NUMBER (NUMBER); only record 1 is used
//
// All three live in the current directory and carry CREATE and THREAD; both keys are PRIMARY,
// NOCASE and OPT, so numbers are unique. The record-file driver adds ".TWL" to the table names.
#pragma once

#include <cstdint>

#include "runtime/files/file_declaration.hpp"
#include "runtime/values/fixed_string.hpp"

namespace ferrule {

#pragma pack(push, 1)
struct RequestRecord {
  vtn::String<40> name;
  vtn::String<120> path;
};
struct PackRecord {
  int16_t number;
  vtn::String<40> name;
  vtn::String<120> path;  // relative to the current directory where it lies below it
};
struct SettingsRecord {
  int16_t number;
  vtn::String<40> name;    // record 1: the current pack's name
  vtn::String<120> value;  // record 1: its path
};
#pragma pack(pop)
static_assert(sizeof(RequestRecord) == 160);
static_assert(sizeof(PackRecord) == 162);
static_assert(sizeof(SettingsRecord) == 162);

vtn::File& request_file();
vtn::File& pack_table();
vtn::File& settings_table();

// The calling thread's records.
RequestRecord& request_record();
PackRecord& pack_record();
SettingsRecord& settings_record();

// The keys BY_NUMBER of the two tables.
vtn::KeyBlock& pack_by_number();
vtn::KeyBlock& settings_by_number();

// Texts blank, numbers 0.
void clear_pack_records();

}  // namespace ferrule
