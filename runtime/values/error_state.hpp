// ErrorState: the current error of the run-time, as ERRORNUMBER(), ERRORTEXT(), ERRORSOURCE(),
// DRIVERERRORCODE() and DRIVERERROR() read it. Each thread has its own current state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/values/error_messages.hpp"

namespace vtn {

struct FileBlock;

struct ErrorState {
  uint32_t os_error = 0;          // the system's last error when the error was posted
  int32_t code = 0;               // ERRORNUMBER()
  FileBlock* file = nullptr;      // ERRORSOURCE(); null when the error concerns no file
  char error_text[80] = {};       // blank-padded message, at most 79 significant characters
  char driver_message[255] = {};  // DRIVERERROR()
  char driver_code[81] = {};      // DRIVERERRORCODE()
};

// The calling thread's current error. A caller may change it through the reference, but only until
// its next call of the run-time: clearing relies on knowing when the state was last written.
ErrorState& current_error_state();

// Makes `code` the current error (0: the system's last error n, posted as 300 + n). The file is
// cleared; the caller sets it when the error concerns a file.
void post_error(int32_t code);

// Ties the current error to a file (ERRORSOURCE).
void set_error_file(FileBlock* file);

namespace detail {
// The calling thread's state, and whether it is known to be clear (see clear_error). Both are
// constant-initialised, so that reading them costs no call.
extern constinit thread_local ErrorState t_error_state;
extern constinit thread_local bool t_error_cleared;
void clear_error_state();
}  // namespace detail

// Code and file 0, error text and both driver fields blank. Every successful file operation
// clears the error, so clearing a state that nothing has written since it was last cleared costs
// one test, made here without a call.
inline void clear_error() {
  if (!detail::t_error_cleared) detail::clear_error_state();
}

// Sets the driver's own code text and message; without a message the message is the text of 90,
// " : " and the code text. ERRORNUMBER is left alone.
void post_driver_error(std::string_view driver_code, std::optional<std::string_view> message);

void save_error(ErrorState& record);
void restore_error(const ErrorState& record);

// Read after nearly every statement of a program.
inline int32_t ERRORNUMBER() {
  return detail::t_error_state.code;
}
// The texts without their trailing blanks.
std::string ERRORTEXT();
std::string DRIVERERRORCODE();
std::string DRIVERERROR();
FileBlock* error_source_file();

}  // namespace vtn
