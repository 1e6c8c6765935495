// Record files: a table with keys in a .TWL file, filled with ADD, read in the order of a key and
// looked up by key value.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/fixed_string.hpp"

#pragma pack(push, 1)
struct Pack {
  int32_t number;
  vtn::String<40> name;
};
#pragma pack(pop)

int main() {
  // "packs.twl\!PACKS": the table PACKS in the file packs.twl (one file can hold several tables).
  vtn::File packs{vtn::FileDeclaration("PCK")
                      .driver(vtn::tarnwell_entry)
                      .name("packs.twl\\!PACKS")
                      .create()
                      .field("NUMBER", vtn::ftype::LONG)
                      .field("NAME", vtn::ftype::STRING(40))
                      .key("BY_NUMBER", {"NUMBER"}, vtn::KA_PRIMARY)
                      .key("BY_NAME", {"NAME"}, vtn::KA_DUP | vtn::KA_NOCASE)};
  Pack& pack = packs.record_as<Pack>();

  vtn::OPEN(packs);
  if (vtn::ERRORNUMBER() == 2) {  // no such file or table yet
    vtn::CREATE(packs);
    vtn::OPEN(packs);
  }
  const struct {
    int32_t number;
    const char* name;
  } rows[] = {{3, "Zeta"}, {1, "alpha"}, {2, "Beta"}};
  for (const auto& row : rows) {
    pack.number = row.number;
    pack.name = row.name;
    vtn::ADD(packs);  // the keys' entries are added with the record; 40 for a duplicate number
  }

  // In the order of a key: SET(key), then NEXT until 33.
  std::string order;
  vtn::SET(packs.key("BY_NAME"));
  for (vtn::NEXT(packs); vtn::ERRORNUMBER() == 0; vtn::NEXT(packs)) {
    order += std::string(pack.name.clipped()) + " ";
  }

  // By key value: fill the key's fields, then GET(file, key); 35 when there is none.
  pack.number = 2;
  vtn::GET(packs, packs.key("BY_NUMBER"));
  const bool found = vtn::ERRORNUMBER() == 0 && pack.name == "Beta";

  std::printf("%s| %d records | found: %d\n", order.c_str(), vtn::RECORDS(packs), found);
  vtn::CLOSE(packs);
  vtn::REMOVE(packs);
  return order == "alpha Beta Zeta " && found ? 0 : 1;
}
