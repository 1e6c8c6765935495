// OpenFileList: the process-wide list of the files that drivers serve, one entry per file and
// thread. The end of a LOGOUT transaction walks it to reach every file of the transaction; the
// flags that each driver supplies when it registers decide which calls a file receives then.
//
// An entry lives from the creation of a file's DriverInstance until the instance goes away (after
// a successful CLOSE, or whenever the instance is discarded), so the list never holds a FileBlock
// whose instance is gone and never holds the same FileBlock twice.
#pragma once

#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "runtime/files/file_block.hpp"

namespace vtn {

// What a driver supplies when it registers a file.
struct OpenFileFlags {
  uint32_t driver_word = 0;  // the driver word that follows the access code
  bool rollback_needed = false;
  bool commit_needed = false;
  bool driver_flag = false;  // a further flag of the driver's
  bool unlock_needed = false;
};

struct OpenFileEntry {
  bool in_transaction = false;
  FileBlock* file = nullptr;
  int64_t thread = -1;  // THREAD files: the owning thread's number; otherwise -1
  uint32_t access = 0;  // the OPEN access code
  uint32_t driver_words[2] = {0, 0};
  bool rollback_needed = false;
  bool commit_needed = false;
  bool driver_flag = false;
  bool unlock_needed = false;
  std::thread::id transaction_thread{};  // the thread whose LOGOUT took the file in
};

// Adds `file` (or, when it is already listed, only takes the new access code).
void register_open_file(FileBlock* file, uint32_t access, const OpenFileFlags& flags);

// Removes the entry of `file`, if any.
void unregister_open_file(FileBlock* file);

// A copy of the entry of `file`.
std::optional<OpenFileEntry> find_open_file(const FileBlock* file);

// Marks the entry of `file` as taking part in the calling thread's transaction (or not).
// Returns false when the file is not listed.
bool set_in_transaction(const FileBlock* file, bool in_transaction);

// A copy of the whole list, first entry first.
std::vector<OpenFileEntry> open_file_entries();

// Number of entries.
size_t open_file_count();

// A stable number for the calling thread, as the list records it for THREAD files.
int64_t current_thread_number();

}  // namespace vtn
