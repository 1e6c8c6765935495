// A FILE declaration made from a table's stored definition, so that twl can open any table
// through the record-file driver (to add records, to build keys) without the program that made
// it: fields with their types, sizes, places, pictures, dimensions, GROUPs and OVERs, memos and
// blobs, and keys with their components and attributes, so that the definition the declaration
// gives is the one stored and OPEN accepts it.
#pragma once

#include <memory>
#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/tarnwell/definition_stream.hpp"

namespace twl {

// `name` is the declared name ("FILE\!TABLE"); `password`, when not empty, is the owner password
// of an encrypted file. Build events go to `events` every `event_step`
// records when given. Throws std::invalid_argument when the definition cannot be declared (a
// damaged definition: a component or OVER that names nothing).
std::unique_ptr<vtn::File> declare_table(const std::string& name,
                                         const vtn::tarnwell::TableDefinition& definition,
                                         const std::string& password,
                                         vtn::BuildEventHandler events = nullptr,
                                         uint32_t event_step = 0);

}  // namespace twl
