#include "runtime/platform/fault_injection.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/platform/byte_lock.hpp"

namespace vtn::platform::fault {
namespace {

// The unit that a disk writes whole: a crash never leaves part of one.
constexpr uint64_t kSectorSize = 512;

struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};

struct Journal {
  int fd = -1;
  std::string path;
  FileId file;
};

// One change not yet made durable. Undoing it restores `old_bytes` at `offset` and the size the
// file had before it; redoing it writes `new_bytes` (a write) or sets `new_size` (a resize).
struct Pending {
  uint64_t journal = 0;
  FileId file;
  std::string path;
  bool is_resize = false;
  uint64_t offset = 0;
  std::vector<uint8_t> old_bytes;
  std::vector<uint8_t> new_bytes;
  uint64_t old_size = 0;
  uint64_t new_size = 0;
};

struct State {
  std::mutex mutex;
  Plan plan;
  uint32_t writes = 0;
  uint32_t flushes = 0;
  uint64_t next_journal = 1;
  std::map<uint64_t, Journal> journals;
  // Journals of handles that died in a crash, until they are closed. Arming and disarming keep
  // them: a crashed handle never comes back to life (journal ids are never reused).
  std::set<uint64_t> dead;
  std::vector<Pending> pending;  // in the order the changes were made
};

State& state() {
  static State s;
  return s;
}

FileId file_id(int fd) {
  struct stat st = {};
  if (fstat(fd, &st) != 0) return {};
  return {st.st_dev, st.st_ino};
}

uint64_t file_size(int fd) {
  struct stat st = {};
  if (fstat(fd, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

// Reads what lies at [offset, offset + length) now; bytes past the end are not returned.
std::vector<uint8_t> read_current(int fd, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> bytes(length);
  size_t got = 0;
  while (got < length) {
    const ssize_t n = pread(fd, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void write_all(int fd, uint64_t offset, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void undo(int fd, const Pending& p) {
  if (p.is_resize) {
    if (ftruncate(fd, static_cast<off_t>(p.old_size)) != 0) return;
    write_all(fd, p.new_size, p.old_bytes);
    return;
  }
  write_all(fd, p.offset, p.old_bytes);
  if (ftruncate(fd, static_cast<off_t>(p.old_size)) != 0) return;
}

void redo(int fd, const Pending& p) {
  if (p.is_resize) {
    if (ftruncate(fd, static_cast<off_t>(p.new_size)) != 0) return;
    return;
  }
  write_all(fd, p.offset, p.new_bytes);
}

}  // namespace

void arm(const Plan& plan) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.plan = plan;
  s.writes = 0;
  s.flushes = 0;
  s.journals.clear();
  s.pending.clear();
  detail::g_armed.store(true, std::memory_order_relaxed);
}

void disarm() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  detail::g_armed.store(false, std::memory_order_relaxed);
  s.plan = Plan{};
  s.journals.clear();
  s.pending.clear();
}

uint32_t writes_seen() {
  std::lock_guard lock(state().mutex);
  return state().writes;
}

uint32_t flushes_seen() {
  std::lock_guard lock(state().mutex);
  return state().flushes;
}

uint64_t attach(int fd, std::string_view path) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  const uint64_t id = s.next_journal++;
  s.journals[id] = Journal{fd, std::string(path), file_id(fd)};
  return id;
}

void detach(uint64_t journal) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.journals.erase(journal);
  s.dead.erase(journal);
}

bool is_dead(uint64_t journal) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.dead.count(journal) != 0;
}

WriteDecision before_write(uint64_t journal, int fd, uint64_t offset,
                           std::span<const uint8_t> data) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  const uint32_t n = ++s.writes;
  WriteDecision decision{0, data.size()};
  if (n == s.plan.fail_write) return WriteDecision{s.plan.write_error, 0};
  if (n == s.plan.short_write) decision.length = data.size() / 2;
  auto it = s.journals.find(journal);
  if (it != s.journals.end() && decision.length > 0) {
    Pending p;
    p.journal = journal;
    p.file = it->second.file;
    p.path = it->second.path;
    p.offset = offset;
    p.old_bytes = read_current(fd, offset, decision.length);
    p.new_bytes.assign(data.begin(), data.begin() + static_cast<ptrdiff_t>(decision.length));
    p.old_size = file_size(fd);
    p.new_size = std::max(p.old_size, offset + decision.length);
    s.pending.push_back(std::move(p));
  }
  return decision;
}

void before_resize(uint64_t journal, int fd, uint64_t new_size) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  auto it = s.journals.find(journal);
  if (it == s.journals.end()) return;
  Pending p;
  p.journal = journal;
  p.file = it->second.file;
  p.path = it->second.path;
  p.is_resize = true;
  p.old_size = file_size(fd);
  p.new_size = new_size;
  if (new_size < p.old_size) p.old_bytes = read_current(fd, new_size, p.old_size - new_size);
  s.pending.push_back(std::move(p));
}

uint32_t before_flush() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  const uint32_t n = ++s.flushes;
  return n == s.plan.fail_flush ? s.plan.flush_error : 0;
}

void after_flush(int fd) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  const FileId id = file_id(fd);
  std::erase_if(s.pending, [&](const Pending& p) { return p.file == id; });
}

uint32_t simulate_crash(CrashMode mode, uint32_t seed) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  std::mt19937 random(seed);
  const uint32_t count = static_cast<uint32_t>(s.pending.size());

  // Put every file back to its durable state, newest change first, through a description of
  // our own (the handle's may be read-only, and its locks must not be disturbed here).
  std::vector<std::pair<FileId, int>> fds;
  auto fd_for = [&](const Pending& p) {
    for (auto& [id, fd] : fds) {
      if (id == p.file) return fd;
    }
    const int fd = open(p.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0 && !(file_id(fd) == p.file)) {
      close(fd);
      fds.emplace_back(p.file, -1);
      return -1;
    }
    fds.emplace_back(p.file, fd);
    return fd;
  };
  for (auto it = s.pending.rbegin(); it != s.pending.rend(); ++it) {
    const int fd = fd_for(*it);
    if (fd >= 0) undo(fd, *it);
  }
  if (mode == CrashMode::kTear) {
    // The disk keeps whole sectors only: every write is cut at sector boundaries of the file,
    // and each piece lands or not on its own, in any order.
    std::vector<Pending> pieces;
    for (const Pending& p : s.pending) {
      if (p.is_resize) {
        pieces.push_back(p);
        continue;
      }
      for (size_t at = 0; at < p.new_bytes.size();) {
        const uint64_t offset = p.offset + at;
        const size_t length =
            std::min<size_t>(p.new_bytes.size() - at, kSectorSize - offset % kSectorSize);
        Pending piece;
        piece.file = p.file;
        piece.path = p.path;
        piece.offset = offset;
        piece.new_bytes.assign(p.new_bytes.begin() + static_cast<ptrdiff_t>(at),
                               p.new_bytes.begin() + static_cast<ptrdiff_t>(at + length));
        pieces.push_back(std::move(piece));
        at += length;
      }
    }
    std::vector<const Pending*> landed;
    for (const Pending& p : pieces) {
      if (random() & 1u) landed.push_back(&p);
    }
    std::shuffle(landed.begin(), landed.end(), random);
    for (const Pending* p : landed) {
      const int fd = fd_for(*p);
      if (fd >= 0) redo(fd, *p);
    }
  }
  for (auto& [id, fd] : fds) {
    if (fd >= 0) close(fd);
  }
  s.pending.clear();

  for (auto& [id, journal] : s.journals) {
    if (!s.dead.insert(id).second) continue;  // died in an earlier crash
    unlock_bytes(journal.fd, 0, 0x7FFF'FFFF'FFFF'FFFFull);
  }
  return count;
}

}  // namespace vtn::platform::fault
