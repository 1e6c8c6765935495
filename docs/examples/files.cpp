// Files and statements: a FILE declared in C++, created, filled with ADD and read back in order
// with SET and NEXT, through the comma-delimited driver (a text file of one record per line).
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/fixed_string.hpp"

// The record as the program sees it: the fields in declaration order, packed.
#pragma pack(push, 1)
struct Member {
  vtn::String<20> name;
  int32_t points;
};
#pragma pack(pop)
static_assert(sizeof(Member) == 24);

int main() {
  vtn::File members{vtn::FileDeclaration("MEM")
                        .driver(vtn::basic_entry)
                        .name("members.csv")
                        .create()
                        .field("NAME", vtn::ftype::STRING(20))
                        .field("POINTS", vtn::ftype::LONG)};
  Member& member = members.record_as<Member>();

  vtn::CREATE(members);  // a new, empty file (an existing one is emptied)
  vtn::OPEN(members, vtn::kReadWriteDenyWrite);
  if (vtn::ERRORNUMBER() != 0) {
    std::printf("cannot open %s: %s\n", vtn::NAME(members).c_str(), vtn::ERRORTEXT().c_str());
    return 1;
  }
  const struct {
    const char* name;
    int32_t points;
  } rows[] = {{"Ada", 12}, {"Grace", 30}, {"Linus", 7}};
  for (const auto& row : rows) {
    members.clear();
    member.name = row.name;
    member.points = row.points;
    vtn::ADD(members);
  }
  vtn::CLOSE(members);

  // Reading: SET positions at the start, every NEXT reads one record; 33 ("Record Not
  // Available") says there is no more.
  int32_t total = 0;
  vtn::SHARE(members);
  vtn::SET(members);
  for (vtn::NEXT(members); vtn::ERRORNUMBER() == 0; vtn::NEXT(members)) {
    std::printf("%.*s %d\n", static_cast<int>(member.name.clipped().size()),
                member.name.clipped().data(), member.points);
    total += member.points;
  }
  bool ended = vtn::ERRORNUMBER() == 33;
  vtn::CLOSE(members);
  vtn::REMOVE(members);
  return ended && total == 49 ? 0 : 1;
}
