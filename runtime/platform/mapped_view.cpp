#include "runtime/platform/mapped_view.hpp"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace vtn::platform {
namespace {

// f_type of statfs for the file systems that keep a shared mapping coherent (see the header).
constexpr long kCoherentFileSystems[] = {
    0xEF53,                         // ext2, ext3, ext4
    0x58465342,                     // xfs
    0x9123683E,                     // btrfs
    0xF2F52010,                     // f2fs
    0x01021994,                     // tmpfs
    static_cast<long>(0x858458F6),  // ramfs
};

std::atomic<bool> g_enabled{true};

// The guard of one thread: while `armed`, a SIGBUS at an address in [begin, end) jumps back to
// `jump` instead of ending the program. Plain data, initial-exec TLS: the handler may read it at
// any time without allocating.
struct Guard {
  const uint8_t* begin;
  const uint8_t* end;
  sigjmp_buf jump;
  volatile sig_atomic_t armed;
};
__attribute__((tls_model("initial-exec"))) thread_local Guard t_guard{};

struct sigaction g_previous = {};
std::once_flag g_install_once;

// Hands a SIGBUS that is not ours to what would have had it without us.
void pass_on(int signal, siginfo_t* info, void* context) {
  const struct sigaction& before = g_previous;
  if ((before.sa_flags & SA_SIGINFO) != 0) {
    if (before.sa_sigaction != nullptr) {
      before.sa_sigaction(signal, info, context);
      return;
    }
  } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
    before.sa_handler(signal);
    return;
  }
  const bool sent = info == nullptr || info->si_code <= 0;  // by kill(), raise(), sigqueue()
  if (sent && before.sa_handler == SIG_IGN) return;
  // The default action. A fault happens again when the handler returns, now with the default
  // action (a fault cannot be ignored); a signal that was sent is sent again, and is delivered as
  // soon as this handler returns.
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(SIGBUS, &default_action, nullptr);
  if (sent) raise(SIGBUS);
}

void on_sigbus(int signal, siginfo_t* info, void* context) {
  Guard& guard = t_guard;
  if (guard.armed != 0 && info != nullptr && info->si_code > 0) {
    const auto* at = static_cast<const uint8_t*>(info->si_addr);
    if (at >= guard.begin && at < guard.end) {
      guard.armed = 0;
      // The jump keeps the signal mask (saving it at every read would cost a system call), and
      // the system blocked SIGBUS for this handler: unblock it, or the next fault would kill.
      sigset_t bus;
      sigemptyset(&bus);
      sigaddset(&bus, SIGBUS);
      pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
      siglongjmp(guard.jump, 1);
    }
  }
  pass_on(signal, info, context);
}

// A child starts with no read in progress, whatever the thread that forked was doing.
void clear_guard_in_child() {
  t_guard.armed = 0;
}

void install_guard() {
  struct sigaction action = {};
  action.sa_sigaction = on_sigbus;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &g_previous);
  pthread_atfork(nullptr, nullptr, clear_guard_in_child);
}

size_t page_size() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

bool mapping_is_coherent(int fd) {
  struct statfs info = {};
  if (fstatfs(fd, &info) != 0) return false;
  for (const long type : kCoherentFileSystems) {
    if (static_cast<long>(info.f_type) == type) return true;
  }
  return false;
}

void set_mapping_enabled(bool enabled) {
  g_enabled.store(enabled, std::memory_order_relaxed);
}

bool mapping_enabled() {
  return g_enabled.load(std::memory_order_relaxed);
}

MappedView::~MappedView() {
  unmap();
}

MappedView::MappedView(MappedView&& other) noexcept
    : base_(other.base_), length_(other.length_), mapped_(other.mapped_) {
  other.base_ = nullptr;
  other.length_ = other.mapped_ = 0;
}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    unmap();
    base_ = other.base_;
    length_ = other.length_;
    mapped_ = other.mapped_;
    other.base_ = nullptr;
    other.length_ = other.mapped_ = 0;
  }
  return *this;
}

bool MappedView::map(int fd, size_t length) {
  unmap();
  if (length == 0 || !mapping_enabled() || !mapping_is_coherent(fd)) return false;
  std::call_once(g_install_once, install_guard);
  const size_t pages = (length + page_size() - 1) / page_size() * page_size();
  void* at = mmap(nullptr, pages, PROT_READ, MAP_SHARED, fd, 0);
  if (at == MAP_FAILED) return false;
  base_ = static_cast<const uint8_t*>(at);
  length_ = length;
  mapped_ = pages;
  return true;
}

void MappedView::unmap() {
  if (base_ == nullptr) return;
  munmap(const_cast<uint8_t*>(base_), mapped_);
  base_ = nullptr;
  length_ = mapped_ = 0;
}

// Both reads arm the guard for exactly the bytes they touch and disarm it before returning; the
// signal fences keep the compiler from moving the reads out of the armed stretch.
MappedView::Compare MappedView::compare(size_t offset, std::span<const uint8_t> expected) const {
  Guard& guard = t_guard;
  guard.begin = base_ + offset;
  guard.end = base_ + offset + expected.size();
  if (sigsetjmp(guard.jump, 0) != 0) return Compare::kUnreadable;
  guard.armed = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const bool same = std::memcmp(base_ + offset, expected.data(), expected.size()) == 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  guard.armed = 0;
  return same ? Compare::kSame : Compare::kDifferent;
}

bool MappedView::read(size_t offset, std::span<uint8_t> out) const {
  Guard& guard = t_guard;
  guard.begin = base_ + offset;
  guard.end = base_ + offset + out.size();
  if (sigsetjmp(guard.jump, 0) != 0) return false;
  guard.armed = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(out.data(), base_ + offset, out.size());
  std::atomic_signal_fence(std::memory_order_seq_cst);
  guard.armed = 0;
  return true;
}

}  // namespace vtn::platform
