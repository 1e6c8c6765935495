// Errors: every run-time and file operation posts its result; the program reads it back.
#include <cstdio>
#include <string>

#include "runtime/format/environment.hpp"
#include "runtime/values/error_state.hpp"

int main() {
  // A failure is a number with a text; 0 is success.
  vtn::post_error(2);
  int code = vtn::ERRORNUMBER();        // 2
  std::string text = vtn::ERRORTEXT();  // "File Not Found"

  // The locale can replace the text of any error (VTNMSG<n>, as in the .ENV file).
  vtn::ENVSET("VTNMSG2", "No such file here");
  vtn::post_error(2);
  std::string replaced = vtn::ERRORTEXT();  // "No such file here"

  vtn::clear_error();
  std::printf("%d %s / %s / %d\n", code, text.c_str(), replaced.c_str(), vtn::ERRORNUMBER());
  return code == 2 && text == "File Not Found" && replaced == "No such file here" &&
                 vtn::ERRORNUMBER() == 0
             ? 0
             : 1;
}
