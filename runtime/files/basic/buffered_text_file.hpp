// The open text file of a comma-delimited FILE, seen through one read buffer.
//
// The parser asks for a view of the file: an offset and a length of at most the buffer size.
// With quick scan on, a view that lies wholly in the bytes already read is served from the
// buffer; with it off every view reads the file again, so that a file shared with writers in
// other processes is always seen as it is now. A view that reaches the end of the file says so;
// the byte after its last one is then a Ctrl-Z (26), so that a parser that looks one byte ahead
// meets the end of the file as a Ctrl-Z.
//
// Writes of a file that nobody else writes may be held back in a write buffer and written out
// together (on flush, before any read, and when the write buffer is full); a shared file is
// written at once, inside the driver's lock. Every failure is recorded as the platform's last
// error and reported as false.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "runtime/platform/file_handle.hpp"

namespace vtn::basic {

inline constexpr uint8_t kCtrlZ = 26;

struct TextView {
  const uint8_t* data = nullptr;  // data[size] is readable; it is kCtrlZ when ends_file
  size_t size = 0;
  bool ends_file = false;  // the file ends after the `size` bytes
};

class BufferedTextFile {
 public:
  BufferedTextFile() = default;
  // Held-back writes still go out when the file is dropped without a close.
  ~BufferedTextFile() { flush(); }
  BufferedTextFile(const BufferedTextFile&) = delete;
  BufferedTextFile& operator=(const BufferedTextFile&) = delete;

  bool open(std::string_view path, const platform::FileOpenMode& mode);
  // Writes out what is held back, then closes. False when the held-back write failed (the file
  // is closed all the same, and those bytes are lost: the caller reports it).
  bool close();
  bool is_open() const { return handle_.is_open(); }
  platform::FileHandle& handle() { return handle_; }

  // A new buffer size (at least 1) and scan mode. May fail only for lack of memory (false).
  // When no other handle can write the file (`sole_writer`), quick scan reads further ahead
  // than the buffer size: nothing can change the bytes it holds, so fewer, larger reads serve
  // the same views.
  bool configure(uint32_t buffer_size, bool quick_scan, bool sole_writer);
  // The size of the views: the buffer size of the options.
  uint32_t buffer_size() const { return buffer_size_; }

  // The bytes of the file at [offset, offset + length); length is cut to the buffer size.
  bool view(uint64_t offset, size_t length, TextView& out) {
    // Reading through a file serves nearly every view from the bytes already read.
    if (quick_scan_ && loaded_ && held_.empty() && offset >= start_) {
      length = std::min<size_t>(length, buffer_size_);
      const size_t pos = static_cast<size_t>(offset - start_);
      if (pos + length <= valid_) {
        out.data = buffer_.get() + pos;
        out.size = length;
        out.ends_file = at_end_ && length == valid_ - pos;
        return true;
      }
    }
    return read_view(offset, length, out);
  }

  // Writes `bytes` at `offset`. `hold_back` lets the write wait in the write buffer (only ever
  // for bytes that continue the held-back ones).
  bool write(uint64_t offset, std::string_view bytes, bool hold_back);
  // Writes out what is held back; what fails to get in stays held back.
  bool flush();
  // The size of the file, held-back bytes included.
  bool size(uint64_t& out);
  bool set_size(uint64_t size);
  // Moves the `length` bytes at `from` to `to` (the ranges may overlap), copying in the order
  // that never overwrites a byte before it has been copied.
  bool move_bytes(uint64_t from, uint64_t to, uint64_t length);

 private:
  void forget_buffer() { valid_ = 0, loaded_ = false; }
  // view() when the bytes must be read.
  bool read_view(uint64_t offset, size_t length, TextView& out);

  platform::FileHandle handle_;
  std::unique_ptr<uint8_t[]> buffer_;  // capacity_ + 1 bytes
  uint32_t buffer_size_ = 0;
  size_t capacity_ = 0;  // what one read may fill: the buffer size or more
  bool quick_scan_ = false;
  uint64_t start_ = 0;   // file offset of buffer_[0]
  size_t valid_ = 0;     // bytes read into the buffer
  bool loaded_ = false;  // the buffer holds a read
  bool at_end_ = false;  // the read that filled it reached the end of the file
  std::string held_;     // held-back writes, to go to held_offset_
  uint64_t held_offset_ = 0;
};

}  // namespace vtn::basic
