// The environment: the process-wide locale settings and the three ways they are changed.
//
// The settings start from built-in English defaults (char_tables.hpp, date_names.hpp, the
// override list of error_messages.hpp). InitializeEnvironment() applies, once per process, the
// international settings of the profile (section "intl") and then the environment file beside
// the executable; the program then changes single keys with ENVSET. Later changes override
// earlier ones, key by key.
//
// Keys (any letter case): VTNCHARSET, VTNCOLSEQ, VTNCASE, VTNMONTH, VTNMON, VTNAMPM, VTNDIGRAPH,
// VTNBUTTON, VTNLFN, and VTNMSG<n> (prefix in upper case) for the text of error n. Anything else
// is ignored.
#pragma once

#include <string>
#include <string_view>

namespace vtn {

// Reads the "intl" profile section, copies the ANSI collation into the OEM one, applies the
// environment file named after the executable (see environment_file_for) and clears the error
// state. Only the first call does anything.
void InitializeEnvironment();

// Applies an environment file: lines of key "=" value. "WINDOWS" (any case) instead applies
// the platform's collation, case tables and AM/PM texts. A file that cannot be opened posts
// error 2 and changes nothing; an empty name does nothing.
void LoadEnvironmentFile(std::string_view name);

// Applies one key.
void SetEnvironmentKey(std::string_view key, std::string_view value);

// ENVSET(key, value) and ENVSET(file): the texts are cut (key and file name at 259 characters,
// value at 299) and clipped of trailing blanks.
void ENVSET(std::string_view key, std::string_view value);
void ENVSET(std::string_view file);
// The run-time entries of the statement, for texts already on the string stack (first argument
// on top); they pop what they use.
void envset_key_from_stack();   // pops key, then value
void envset_file_from_stack();  // pops the file name

// The long-file-name switch (VTNLFN); on unless the environment turns it off.
bool long_file_names();

// The name of the environment file that belongs to an executable: its path with the extension
// of the file name replaced by ".ENV", or ".ENV" appended when the file name has none.
std::string environment_file_for(std::string_view executable_path);

// Puts every locale setting back to its built-in default and forgets that the environment was
// initialised (the state before start-up; used by tests).
void reset_environment();

}  // namespace vtn
