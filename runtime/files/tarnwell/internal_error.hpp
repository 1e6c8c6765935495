// Internal consistency errors of the record-file driver.
//
// Every structural check of the record-file format (a corrupt page, a count running past its
// buffer, an exhausted number counter, ...) abandons the current operation at once by throwing
// InternalError with the check's number. The driver's entry catches it, posts error 90 through
// post_internal_error() and marks the table failed; a check that fails outside any driver
// operation ends the program through fatal_internal_error(). Nothing else escapes the driver.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vtn::tarnwell {

// The texts of error 90 that the record-file driver reports.
inline constexpr const char* kCorruptionText = "Possible data corruption in file";
inline constexpr const char* kNoFileText = "Tarnwell File Driver Error";

class InternalError : public std::exception {
 public:
  explicit InternalError(int32_t check);
  int32_t check() const { return check_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int32_t check_;
  std::string what_;
};

// Abandons the current operation with `check`.
[[noreturn]] void raise_internal_error(int32_t check);

// REQUIRES: called from the driver's entry after catching InternalError. Posts error 90 with the
// check number as the driver's own code and the text that fits: kCorruptionText when a file is
// current, kNoFileText otherwise.
void post_internal_error(int32_t check, bool file_current);

// The message of the fatal report for a check outside any operation: the text, " (", the
// number and ")".
std::string internal_error_message(int32_t check, bool file_current);

// Ends the program through the fatal run-time error with internal_error_message().
void fatal_internal_error(int32_t check, bool file_current);

}  // namespace vtn::tarnwell
