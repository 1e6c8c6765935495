// RegisterPack: merges the request in Mossgate.ini into the pack table and makes it the current
// pack in the settings table.
//
// PLACEHOLDER: pack registration is not built yet. RegisterPack opens no file and shows no box,
// so that the program frame around it can run; when a request is waiting it says on standard
// error that the request was left untouched. clear_pack_records does nothing.
#pragma once

namespace ferrule {

void RegisterPack();

// Clears the request, pack and settings records (texts blank, numbers 0).
void clear_pack_records();

}  // namespace ferrule
