// The process's list of open physical record files.
//
// All tables of one physical file share one RecordFile: the list finds it by full name (compared
// ignoring letter case, as the file systems the run-time was made for compare names) and counts
// the tables using it; the file is closed when the count drops to 0. The list is locked, so
// threads may open and close files at once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/files/tarnwell/record_file.hpp"

namespace vtn::tarnwell::open_files {

// The file open under this name, with one more use counted; nullptr when none is.
RecordFile* acquire(std::string_view full_name);
// Adds a file just opened, with a use count of 1.
RecordFile* add(std::string full_name, std::unique_ptr<RecordFile> file);
// Drops one use; returns the file when that was the last (removed from the list, for the caller
// to destroy), else nullptr.
std::unique_ptr<RecordFile> release(RecordFile* file);
size_t use_count(const RecordFile* file);

}  // namespace vtn::tarnwell::open_files
