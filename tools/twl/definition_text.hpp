// A table's stored definition printed as the source that declares it, in the layout of the
// driver trace's structure dump: a label column (18 for the FILE line and its END, 20 for keys,
// memos, RECORD and its END, 22 for fields, 2 more per GROUP level), then the declaration.
//
//   PACKNAME          FILE,DRIVER('TARNWELL'),NAME('PACKNAME.TWL\!PACKNAME')
//   PNM:BY_NUMBER       KEY(+PNM:NUMBER),PRIMARY
//                       RECORD
//   PNM:NUMBER            SHORT
//   PNM:NAME              STRING(40)
//                       END
//                     END
//
// Lines end with "\n" here (the trace writes "\r\n"). Texts are as stored (Windows-1251).
#pragma once

#include <string>

#include "runtime/files/tarnwell/definition_stream.hpp"

namespace twl {

std::string definition_text(const std::string& table_name, const std::string& full_name,
                            const vtn::tarnwell::TableDefinition& definition);

// The declaration of one field without its label: "STRING(40)", "DECIMAL(9,2)", "LONG".
std::string field_type_text(const vtn::tarnwell::FieldDefinition& field);

// The flags of a stored key as declaration attributes: ",DUP,NOCASE,PRIMARY".
std::string key_attributes_text(uint8_t flags);

}  // namespace twl
