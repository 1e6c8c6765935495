// The page log of a record file as it stands on disk, read apart from the page store so that
// twl can say what the store would find before it touches anything.
//
// A non-empty log (log start != log end in the header at offset 0) means a flush was cut short
// after its log was made durable: the images in the log are the file's new state. The store
// completes such a flush at the next write access (the images are copied in place), unless the
// log holds a pending-transaction record whose transaction never committed, in which case it is
// abandoned and the file keeps its old state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/file_header.hpp"

namespace twl {

struct LogImage {
  uint32_t log_offset = 0;  // where the image lies in the log
  uint32_t own_offset = 0;  // where it belongs (0: the new header)
  uint32_t length = 0;      // its rounded length
};

struct DiskLog {
  vtn::tarnwell::FileHeader header;  // at offset 0
  bool empty = true;
  std::vector<LogImage> images;
  std::string fault;  // why the log cannot be read (then the store abandons it); empty if fine
};

// Reads the header at offset 0 and walks the log. Returns 0, 36 (not a record file) or the
// system error of the open or read.
int32_t read_disk_log(const std::string& full_name, const std::string& password, DiskLog& out);

}  // namespace twl
