// Shared by the locking and transaction tests: child processes, signals between processes, and a
// small table over a RecordFile (records keyed by a 4-byte big-endian number holding a 32-bit
// value) read and changed the way the driver's table operations do it.
//
// A child opens its files itself: a descriptor inherited across fork shares its locks with the
// parent, and the process list of open files would hand the child the parent's RecordFile. So
// tests fork first and open afterwards, and the parent keeps no record file open across a fork.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_holds.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "tests/support/scratch_directory.hpp"

namespace vtn::tarnwell::locking_test {

using Bytes = std::vector<uint8_t>;
inline constexpr uint32_t kShared = 0x142;

inline Bytes key_of(uint32_t n) {
  return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
          static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}
inline Bytes value_bytes(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
inline uint32_t value_of(std::span<const uint8_t> d) {
  return d.size() < 4
             ? 0xFFFFFFFFu
             : uint32_t{d[0]} | uint32_t{d[1]} << 8 | uint32_t{d[2]} << 16 | uint32_t{d[3]} << 24;
}

// Runs `body` in a child process whose exit code is its result (a thrown exception: 99).
inline pid_t spawn(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  return pid;
}

// The child's exit code, or 100 + the signal that ended it.
inline int wait_for(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 100 + WTERMSIG(status) : -1;
}

// Runs `body` in a child process and returns the text it produced ("child failed" when it died).
inline std::string text_from_child(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string text = "child threw";
    try {
      text = body();
    } catch (...) {
    }
    (void)!::write(fds[1], text.data(), text.size());
    _exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(fds[0]);
  return wait_for(pid) == 0 ? text : "child failed";
}

// The same file under another spelling of its name. A child process that has inherited the
// parent's open files reaches the file through its own handle this way, not through the parent's.
inline std::string own_name(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return name.substr(0, slash + 1) + "./" + name.substr(slash + 1);
}

// A one-way signal between processes over a pipe: notify() in one, wait() in the other.
class Signal {
 public:
  Signal() {
    if (pipe(fds_) != 0) ADD_FAILURE() << "pipe";
  }
  ~Signal() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  void notify() const {
    const char c = 1;
    (void)!::write(fds_[1], &c, 1);
  }
  bool wait() const {
    char c = 0;
    return ::read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2] = {-1, -1};
};

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A table of numbered values over one RecordFile, with the driver's access discipline.
class ValueTable {
 public:
  explicit ValueTable(const std::string& name, uint32_t mode = kShared) {
    error_ = open_record_file(name, mode, "", file_);
  }
  ~ValueTable() { close_record_file(file_); }
  ValueTable(const ValueTable&) = delete;
  ValueTable& operator=(const ValueTable&) = delete;

  int32_t open_error() const { return error_; }
  RecordFile& file() { return *file_; }
  RecordHolds& holds() { return holds_; }
  // The record buffer: the value last read.
  std::optional<uint32_t> buffer;
  uint32_t position = 0;

  // ADD (or overwrite) outside any hold.
  int32_t put_raw(uint32_t n, uint32_t value) {
    if (int32_t e = file_->begin_access(AccessMode::write, true)) return e;
    if (!file_->replace_record(key_of(n), value_bytes(value))) {
      file_->insert_record(key_of(n), value_bytes(value));
    }
    return file_->end_access();
  }
  int32_t erase(uint32_t n) {
    if (int32_t e = file_->begin_access(AccessMode::write, true)) return e;
    file_->delete_record(key_of(n));
    return file_->end_access();
  }

  // GET by number, honouring a requested hold and watch. 35 when there is no such record.
  int32_t get(uint32_t n) {
    const uint32_t before = position;
    std::optional<uint32_t> found;
    auto find = [&](uint32_t& record) -> int32_t {
      if (int32_t e = file_->begin_access(AccessMode::read, true)) return e;
      auto r = file_->find_exact(key_of(n));
      if (!r) return 35;
      found = value_of(r->data());
      record = n;
      position = n;
      return 0;
    };
    int32_t result = read_with_hold(*file_, holds_, find, [&] { position = before; });
    if (result == 0) {
      buffer = found;
      const Bytes copy = value_bytes(*found);
      note_record_read(holds_, copy);
    }
    if (!file_->in_transaction()) file_->end_access();
    return result;
  }

  // PUT of the record buffer to the current record, as the driver does it.
  int32_t put() {
    const uint32_t n = position;
    if (int32_t e = file_->begin_access(AccessMode::write, true)) return e;
    int32_t result = lock_for_put(*file_, holds_, n);
    if (result == 0) {
      auto stored = file_->find_exact(key_of(n));
      if (!stored) {
        result = 33;
      } else {
        const Bytes now(stored->data().begin(), stored->data().end());
        result = check_watch(holds_, now);
        if (result == 0 && buffer && value_of(now) != *buffer) {
          file_->replace_record(key_of(n), value_bytes(*buffer));
        }
      }
    }
    const int32_t flushed = file_->end_access();
    if (result == 0) result = flushed;
    finish_put(*file_, holds_);
    return result;
  }

  // Every (number, value) in key order, read in one access.
  int32_t scan(std::vector<std::pair<uint32_t, uint32_t>>& out) {
    out.clear();
    if (int32_t e = file_->begin_access(AccessMode::read, true)) return e;
    Bytes last;
    bool first = true;
    for (;;) {
      auto r = first ? file_->find_first_after({}) : file_->find_first_after(last);
      if (!r) break;
      last.assign(r->key().begin(), r->key().end());
      first = false;
      if (last.size() != 4) continue;
      const uint32_t n =
          uint32_t{last[0]} << 24 | uint32_t{last[1]} << 16 | uint32_t{last[2]} << 8 | last[3];
      out.emplace_back(n, value_of(r->data()));
    }
    return file_->end_access();
  }

 private:
  RecordFile* file_ = nullptr;
  int32_t error_ = 0;
  RecordHolds holds_;
};

// The value stored under `n`, read in its own access; nothing when absent or on an error.
inline std::optional<uint32_t> stored_value(RecordFile& file, uint32_t n) {
  if (file.begin_access(AccessMode::read, true) != 0) return std::nullopt;
  std::optional<uint32_t> v;
  if (auto r = file.find_exact(key_of(n))) v = value_of(r->data());
  file.end_access();
  return v;
}

}  // namespace vtn::tarnwell::locking_test
