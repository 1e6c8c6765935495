#include "runtime/format/environment_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "runtime/format/environment.hpp"
#include "runtime/platform/process_path.hpp"
#include "runtime/platform/system_error.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

constexpr uint8_t kEndOfFile = 0x1A;
constexpr size_t kKeyLimit = 31;
constexpr size_t kValueLimit = 1024;
constexpr size_t kBufferSize = 2048;

bool is_digit(uint8_t c) {
  return c >= '0' && c <= '9';
}
bool ends_line(uint8_t c) {
  return c == '\r' || c == '\n' || c == kEndOfFile;
}

// Reads a file through a 2048-byte buffer; the end of the data and a read failure both read
// as 1Ah from then on.
class BufferedFile {
 public:
  explicit BufferedFile(int fd) : fd_(fd) {}
  uint8_t next() {
    if (position_ == length_) {
      if (finished_) return kEndOfFile;
      ssize_t n;
      do {
        n = ::read(fd_, buffer_, kBufferSize);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) {
        finished_ = true;
        return kEndOfFile;
      }
      position_ = 0;
      length_ = static_cast<size_t>(n);
    }
    return buffer_[position_++];
  }

 private:
  int fd_;
  uint8_t buffer_[kBufferSize];
  size_t position_ = 0;
  size_t length_ = 0;
  bool finished_ = false;
};

class TextSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  uint8_t next() {
    return position_ < text_.size() ? static_cast<uint8_t>(text_[position_++]) : kEndOfFile;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
};

template <typename Source>
void parse(Source& source, const EnvironmentLineSink& sink) {
  std::string key;
  std::string value;
  uint8_t c = source.next();
  while (true) {
    while (c == '\r' || c == '\n') c = source.next();
    if (c == kEndOfFile) return;

    key.clear();
    bool key_too_long = false;
    while (true) {
      if (c == ' ') {
        c = source.next();
        continue;
      }
      if (c < 0x20 || c == '=') break;
      if (key.size() < kKeyLimit) {
        key += static_cast<char>(c);
      } else {
        key_too_long = true;
      }
      c = source.next();
    }
    if (c != '=') {
      // Not a key: collection starts again after the control character.
      if (c == kEndOfFile) return;
      if (!ends_line(c)) c = source.next();
      continue;
    }

    value.clear();
    auto append = [&](uint8_t ch) {
      if (value.size() < kValueLimit) value += static_cast<char>(ch);
    };
    c = source.next();
    while (!ends_line(c)) {
      if (c != '<') {
        append(c);
        c = source.next();
        continue;
      }
      c = source.next();
      if (c == '<') {
        append('<');
        c = source.next();
      } else if (is_digit(c)) {
        unsigned code = 0;
        while (is_digit(c)) {
          code = (code * 10 + (c - '0')) & 0xFF;  // the code's low byte, whatever its length
          c = source.next();
        }
        append(static_cast<uint8_t>(code));
        if (!ends_line(c)) c = source.next();  // the character that ends the digits
      } else {
        append('<');  // and the character after it is read normally
      }
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (!key_too_long) sink(key, value);
  }
}

// A directory cannot be read as an environment file: it fails to open like a missing file.
int open_regular_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

int open_environment_file(std::string_view name) {
  const std::string path(name);
  int fd = open_regular_file(path);
  if (fd >= 0 || path.find('/') != std::string::npos) return fd;
  // A bare name is also looked for beside the executable, as the platform's search does.
  const int saved_errno = errno;
  const std::string exe = platform::executable_path();
  const size_t slash = exe.rfind('/');
  if (slash != std::string::npos) {
    fd = open_regular_file(exe.substr(0, slash + 1) + path);
    if (fd >= 0) return fd;
  }
  errno = saved_errno;
  return -1;
}

bool is_windows(std::string_view name) {
  constexpr std::string_view kWindows = "WINDOWS";
  if (name.size() != kWindows.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != kWindows[i]) return false;
  }
  return true;
}

}  // namespace

void parse_environment_text(std::string_view text, const EnvironmentLineSink& sink) {
  TextSource source(text);
  parse(source, sink);
}

void LoadEnvironmentFile(std::string_view name) {
  if (is_windows(name)) {
    SetEnvironmentKey("VTNCOLSEQ", "WINDOWS");
    SetEnvironmentKey("VTNCASE", "WINDOWS");
    SetEnvironmentKey("VTNAMPM", "WINDOWS");
    return;
  }
  if (name.empty()) return;
  const int fd = open_environment_file(name);
  if (fd < 0) {
    platform::record_errno(errno);
    post_error(2);
    return;
  }
  const bool oem_flag = char_tables().oem_flag;
  BufferedFile file(fd);
  parse(file, [](std::string_view key, std::string_view value) { SetEnvironmentKey(key, value); });
  ::close(fd);
  char_tables().oem_flag = oem_flag;
}

}  // namespace vtn
