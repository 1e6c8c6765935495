// RegisterPack: ferrule's whole job. Another program leaves a request in Mossgate.ini (the name of
// a pack and its directory); RegisterPack merges it into the pack table, makes the pack the
// current one in settings record 1, closes everything and deletes the request, so that each
// request is consumed exactly once.
//
// The request's name is looked up in the pack table in ascending number order, ignoring letter
// case; the first (lowest-numbered) match is rewritten with the request's spelling and path, and
// otherwise the pack is added with the next number (the highest plus one, with 16-bit
// wrap-around; 1 in an empty table). A blank path in the request keeps the path in the buffer.
// An empty request file registers nothing and writes blank settings.
//
// A pack record or settings record that cannot be written (a duplicate number, a full disk, a
// held record) is shown with the matching warning and its error; the settings then stay as they
// were and the request stays waiting, so that the same request can be run again.
#pragma once

namespace ferrule {

void RegisterPack();

}  // namespace ferrule
