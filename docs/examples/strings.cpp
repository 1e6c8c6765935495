// Strings: fixed-length text, the string stack, and the string functions.
#include <cstdio>
#include <string>

#include "runtime/values/fixed_string.hpp"
#include "runtime/values/match.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"

int main() {
  // STRING(20): always 20 bytes, blank-padded; trailing blanks never matter in comparisons.
  vtn::String<20> name = "Smith";
  bool same = (name == "Smith   ");  // true

  // The C++ face of the string functions takes and returns texts.
  std::string shout = vtn::upper(name.clipped());  // "SMITH"
  int at = vtn::instring("th", name.view());       // 4
  bool like = vtn::match("Smithson", "smi*", vtn::kMatchWildcard | vtn::kMatchNoCase);

  // The language's form works on the string stack: arguments are pushed, the result is left on
  // top, and whoever receives it pops it.
  vtn::string_stack().push_copy(name.view());
  vtn::CLIP();
  std::string clipped = vtn::string_stack().pop_string();  // "Smith"

  std::printf("%d %s %d %d [%s]\n", same, shout.c_str(), at, like, clipped.c_str());
  return same && shout == "SMITH" && at == 4 && like && clipped == "Smith" ? 0 : 1;
}
