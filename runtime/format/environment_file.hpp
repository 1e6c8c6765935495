// Environment files: lines of key "=" value, read as the run-time always read them.
//
// Keys: at most 31 characters, blanks inside ignored; a control character before "=" ends the key
// and collection starts again after it (so a line without "=" gives nothing), and a longer key
// voids its line. Values: at most 1024 characters up to the end of the
// line; "<" and decimal digits stand for the character of that code (the character that ends the
// digits is dropped unless it ends the line), "<<" for "<"; trailing blanks and tabs are removed.
// 1Ah ends the file wherever it occurs. The file is applied through SetEnvironmentKey; a
// VTNCHARSET line therefore decides how the rest of the same file is read, and the OEM flag is
// put back once the file is done.
#pragma once

#include <functional>
#include <string_view>

namespace vtn {

using EnvironmentLineSink = std::function<void(std::string_view key, std::string_view value)>;

// Splits the text of an environment file into key/value pairs (the end of the text reads as
// 1Ah). Exposed for tests and fuzzing; LoadEnvironmentFile reads files with it.
void parse_environment_text(std::string_view text, const EnvironmentLineSink& sink);

}  // namespace vtn
