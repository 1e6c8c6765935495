// RegisterPack: merges the request in Mossgate.ini into the pack table and makes it the current
// pack in the settings table.
//
// PLACEHOLDER: pack registration is not built yet. RegisterPack does nothing (it opens no file and
// shows nothing), so that the program frame around it can run; clear_pack_records likewise.
#pragma once

namespace ferrule {

void RegisterPack();

// Clears the request, pack and settings records (texts blank, numbers 0).
void clear_pack_records();

}  // namespace ferrule
