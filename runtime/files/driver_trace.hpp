// The driver trace: a log of every operation on a file, for diagnosing an installed program
// without changing it. Each driver switches it on in its own section of the settings profile:
//
//   [XWBASIC]                     ; XWTARNWELL for the record-file driver
//   Profile=1                     ; non-zero: log every operation
//   TraceFile=/tmp/basic.log      ; default BASIC.LOG (TARNWELL.LOG) in the current directory
//   Details=1                     ; also the structure of each file and the record contents
//
// The settings are read when a driver creates a file's instance, so a change takes effect the
// next time the file is opened after a CLOSE. An ENCRYPT file shows details only when its driver
// options text holds the option ALLOWDETAILS.
//
// One entry per operation, written with one open-write-close of the log (opened shared, created
// when missing) after the operation:
//
//   NEXT(/data/Mossgate.ini 4711) Time Taken: 0.00 secs
//   OPEN(/data/missing.csv 4711) Error: File Not Found Time Taken: 0.01 secs
//
// the operation line (name, file, key and its number, thread; the head padded to 18 characters),
// then with details the structure of the file once per run (as its source definition) and the
// record's contents after each data operation. A log that cannot be opened skips the entry; the
// trace never changes the error state or the result of the operation.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/files/file_block.hpp"

namespace vtn {

// Installs the trace in the file layer's trace hooks. Every driver calls it before it serves
// its first file; calling it again does nothing.
void install_driver_trace();

// Reads the trace switch, the log name and the detail switch of `instance` from the profile
// section of its driver.
void read_trace_settings(DriverInstance& instance, const char* section, const char* default_log);

// Logs one operation (nothing for the internal codes 87 and 91 and for a file without a name).
void trace_call(DriverInstance& instance, const DriverKeyData* key_data, int32_t code,
                const char* driver_name, int32_t result, uint32_t elapsed_hundredths);

// Appends printf-style text to an entry under construction, at most 1023 characters per call.
void trace_print(std::string& entry, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The structure of a file is dumped once per run. A FileBlock that takes the address of one that
// has gone is told from it by its structure and gets its own dump; one declared exactly like the
// old one is not dumped again (its dump would repeat the one already in the log). A FileBlock
// that goes away before the end of the run can be forgotten with this, so that the next
// FileBlock at its address is dumped whatever its structure.
void forget_traced_file(const FileBlock* file);

}  // namespace vtn
