#include "runtime/files/basic/buffered_text_file.hpp"

#include <algorithm>
#include <new>

#include "runtime/platform/system_error.hpp"

namespace vtn::basic {
namespace {

// Held-back writes go out once they reach this many bytes (or the buffer size, when larger).
constexpr size_t kWriteBehind = 64 * 1024;
// How far quick scan reads ahead when no other handle can change the file.
constexpr size_t kReadAhead = 64 * 1024;

}  // namespace

bool BufferedTextFile::open(std::string_view path, const platform::FileOpenMode& mode) {
  forget_buffer();
  held_.clear();
  return handle_.open(path, mode);
}

bool BufferedTextFile::close() {
  const bool flushed = flush();
  handle_.close();
  held_.clear();
  forget_buffer();
  return flushed;
}

bool BufferedTextFile::configure(uint32_t buffer_size, bool quick_scan, bool sole_writer) {
  buffer_size = std::max<uint32_t>(buffer_size, 1);
  const size_t capacity =
      quick_scan && sole_writer ? std::max<size_t>(buffer_size, kReadAhead) : buffer_size;
  if (capacity != capacity_ || buffer_ == nullptr) {
    // Not value-initialised: a large buffer costs only the pages that reads touch.
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[capacity + 1]);
    if (fresh == nullptr) {
      platform::set_last_error(platform::kErrorNotEnoughMemory);
      return false;
    }
    buffer_ = std::move(fresh);
    capacity_ = capacity;
  }
  buffer_size_ = buffer_size;
  quick_scan_ = quick_scan;
  forget_buffer();
  return true;
}

bool BufferedTextFile::read_view(uint64_t offset, size_t length, TextView& out) {
  if (!flush()) return false;
  length = std::min<size_t>(length, buffer_size_);
  const bool inside =
      quick_scan_ && loaded_ && offset >= start_ &&
      (offset + length <= start_ + valid_ || (at_end_ && offset <= start_ + valid_));
  if (!inside) {
    // Quick scan reads a whole buffer ahead; otherwise only what is asked, every time.
    const size_t want = quick_scan_ ? capacity_ : length;
    size_t got = 0;
    forget_buffer();
    if (!handle_.read_at(offset, std::span<uint8_t>(buffer_.get(), want), got)) return false;
    start_ = offset;
    valid_ = got;
    at_end_ = got < want;
    loaded_ = quick_scan_;
  }
  const size_t pos = static_cast<size_t>(offset - start_);
  const size_t available = valid_ - pos;
  out.data = buffer_.get() + pos;
  out.size = std::min(length, available);
  out.ends_file = at_end_ && out.size == available;
  buffer_[valid_] = kCtrlZ;
  return true;
}

bool BufferedTextFile::write(uint64_t offset, std::string_view bytes, bool hold_back) {
  if (loaded_ && offset <= start_ + valid_ && offset + bytes.size() >= start_) forget_buffer();
  if (hold_back && (held_.empty() || held_offset_ + held_.size() == offset)) {
    if (held_.empty()) held_offset_ = offset;
    held_.append(bytes);
    return held_.size() < std::max<size_t>(kWriteBehind, buffer_size_) || flush();
  }
  if (!flush()) return false;
  size_t stored = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (!handle_.write_at(offset, std::span<const uint8_t>(data, bytes.size()), stored)) return false;
  if (stored < bytes.size()) {
    platform::set_last_error(platform::kErrorHandleDiskFull);
    return false;
  }
  return true;
}

bool BufferedTextFile::flush() {
  if (held_.empty()) return true;
  size_t stored = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(held_.data());
  const bool written =
      handle_.write_at(held_offset_, std::span<const uint8_t>(data, held_.size()), stored);
  // What did not get in stays held back, so that a later flush can try again.
  held_.erase(0, std::min(stored, held_.size()));
  held_offset_ += stored;
  if (!written) return false;
  if (!held_.empty()) {
    platform::set_last_error(platform::kErrorHandleDiskFull);
    return false;
  }
  return true;
}

bool BufferedTextFile::size(uint64_t& out) {
  if (!handle_.size(out)) return false;
  if (!held_.empty()) out = std::max<uint64_t>(out, held_offset_ + held_.size());
  return true;
}

bool BufferedTextFile::set_size(uint64_t size) {
  if (!flush()) return false;
  forget_buffer();
  return handle_.set_size(size);
}

bool BufferedTextFile::move_bytes(uint64_t from, uint64_t to, uint64_t length) {
  if (!flush()) return false;
  forget_buffer();
  if (from == to || length == 0) return true;
  std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kWriteBehind]);
  if (chunk == nullptr) {
    platform::set_last_error(platform::kErrorNotEnoughMemory);
    return false;
  }
  const bool forward = to < from;  // moving down: copy from the front; up: from the back
  uint64_t done = 0;
  while (done < length) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kWriteBehind, length - done));
    const uint64_t at = forward ? done : length - done - n;
    size_t got = 0;
    if (!handle_.read_at(from + at, std::span<uint8_t>(chunk.get(), n), got)) return false;
    size_t stored = 0;
    if (!handle_.write_at(to + at, std::span<const uint8_t>(chunk.get(), got), stored))
      return false;
    if (got < n || stored < got) {
      platform::set_last_error(got < n ? platform::kErrorHandleEof
                                       : platform::kErrorHandleDiskFull);
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace vtn::basic
