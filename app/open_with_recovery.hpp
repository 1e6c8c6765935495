// OpenWithRecovery: opens one of the program's files and recovers from the usual reasons why it
// will not open, so that the caller either has the file open or the program has ended with the
// matching warning:
//
//   OPEN fails with            what follows
//   32 (locked)                SEND "Recover=10" to the driver, then OPEN once more
//   2  (not found)             create it and open it (CreateThenOpen); a failed CREATE shows
//                              warning 4, a failed OPEN after it warning 5
//   47 (wrong structure)       warning 1
//   46 (keys must be rebuilt)  warning 2: Yes rebuilds the keys (a failed BUILD shows warning 3)
//                              and opens again; No ends the program
//   anything else              warning 30, then HALT "Disk Error"
//
// Warnings 1 to 5 and 30 end the program (HALT with exit code 0); the error they show is that of
// the failed operation.
#pragma once

#include <cstdint>

#include "runtime/files/file_block.hpp"

namespace ferrule {

// Opens `file` read/write and deny-none (42h) when `shared`, else with `access`. A missing file is
// created when `create_if_missing`, reported with warning 4 when not, and treated as any other
// failure when `do_not_create`.
void OpenWithRecovery(vtn::FileBlock& file, bool create_if_missing, bool do_not_create,
                      uint8_t access, bool shared);

}  // namespace ferrule
