// Several processes on one shared file at once, until nothing is left to chance:
//   - counters incremented with HOLD + GET + PUT in random records: at the end each counter equals
//     the increments made (no update lost);
//   - each process adds and deletes its own records, and reads the whole file in key order while
//     the others write: the order is strictly ascending, every counter is there and its own
//     records are exactly those it expects;
//   - amounts moved between two files inside LOGOUT / COMMIT: the total never changes, neither at
//     the end nor as concurrent readers see it;
//   - the checker passes on every file at the end.
// Short in CI; VTN_LONG_TESTS=1 runs 8 processes × 10,000 operations.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "runtime/files/tarnwell/transaction.hpp"
#include "tests/files/tarnwell/locking_fixture.hpp"

namespace vtn::tarnwell {
namespace {

using namespace locking_test;

constexpr uint32_t kCounters = 16;
constexpr uint32_t kOwnBase = 0x10000000;  // own records: kOwnBase + process << 20 + sequence

struct SoakSize {
  int processes;
  int operations;
};

SoakSize soak_size() {
  if (getenv("VTN_LONG_TESTS")) return {8, 10'000};
  return {4, 150};
}

// The whole file in key order, read in the caller's access: "" when consistent, else the fault.
std::string scan_fault(RecordFile& file, const std::set<uint32_t>& own, uint32_t own_base) {
  Bytes last;
  bool first = true;
  uint32_t previous = 0, counters = 0;
  std::set<uint32_t> own_seen;
  for (;;) {
    auto r = first ? file.find_first_after({}) : file.find_first_after(last);
    if (!r) break;
    last.assign(r->key().begin(), r->key().end());
    if (last.size() != 4) return "unexpected key length";
    const uint32_t n =
        uint32_t{last[0]} << 24 | uint32_t{last[1]} << 16 | uint32_t{last[2]} << 8 | last[3];
    if (!first && n <= previous) return "keys out of order";
    first = false;
    previous = n;
    if (n >= 1 && n <= kCounters) ++counters;
    if (n >= own_base && n < own_base + (1u << 20)) own_seen.insert(n);
  }
  if (counters != kCounters) return "counters missing";
  if (own_seen != own) return "own records differ";
  return "";
}

class SoakTest : public testing_support::ScratchDirectoryTest {
 protected:
  SoakTest() { install_transaction_recovery(); }
};

TEST_F(SoakTest, CountersOwnRecordsAndKeyOrder) {
  const std::string name = path("soak.twl");
  {
    ValueTable t(name);
    ASSERT_EQ(t.open_error(), 0);
    for (uint32_t n = 1; n <= kCounters; ++n) ASSERT_EQ(t.put_raw(n, 0), 0);
  }
  const SoakSize size = soak_size();
  std::vector<pid_t> children;
  std::vector<int> reports;
  for (int p = 0; p < size.processes; ++p) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    reports.push_back(fds[0]);
    children.push_back(spawn([&, p, write_fd = fds[1]] {
      std::mt19937 random(1000 + p);
      ValueTable t(name);
      if (t.open_error() != 0) return 1;
      const uint32_t own_base = kOwnBase + (static_cast<uint32_t>(p) << 20);
      std::vector<uint32_t> increments(kCounters + 1, 0);
      std::set<uint32_t> own;
      uint32_t sequence = 0;
      for (int op = 0; op < size.operations; ++op) {
        const uint32_t dice = random() % 100;
        if (dice < 60) {
          const uint32_t n = 1 + random() % kCounters;
          request_hold(t.holds(), kHoldForever);
          if (t.get(n) != 0 || !t.holds().held) return 2;
          t.buffer = *t.buffer + 1;
          if (t.put() != 0) return 3;
          ++increments[n];
        } else if (dice < 75) {
          const uint32_t n = own_base + sequence++;
          if (t.put_raw(n, n) != 0) return 4;
          own.insert(n);
        } else if (dice < 85 && !own.empty()) {
          auto it = own.begin();
          std::advance(it, random() % own.size());
          if (t.erase(*it) != 0) return 5;
          own.erase(it);
        } else {
          if (t.file().begin_access(AccessMode::read, true) != 0) return 6;
          const std::string fault = scan_fault(t.file(), own, own_base);
          t.file().end_access();
          if (!fault.empty()) return 7;
        }
      }
      std::ostringstream report;
      for (uint32_t n = 1; n <= kCounters; ++n) report << increments[n] << ' ';
      report << own.size() << ' ';
      for (uint32_t n : own) report << n << ' ';
      const std::string text = report.str();
      (void)!::write(write_fd, text.data(), text.size());
      ::close(write_fd);
      return 0;
    }));
    ::close(fds[1]);
  }
  std::vector<uint64_t> expected(kCounters + 1, 0);
  std::set<uint32_t> expected_own;
  for (size_t p = 0; p < children.size(); ++p) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(reports[p], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(reports[p]);
    EXPECT_EQ(wait_for(children[p]), 0) << "process " << p;
    std::istringstream in(text);
    for (uint32_t n = 1; n <= kCounters; ++n) {
      uint64_t count = 0;
      in >> count;
      expected[n] += count;
    }
    size_t own_count = 0;
    in >> own_count;
    for (size_t i = 0; i < own_count; ++i) {
      uint32_t n = 0;
      in >> n;
      expected_own.insert(n);
    }
  }
  ValueTable t(name);
  uint64_t total = 0;
  for (uint32_t n = 1; n <= kCounters; ++n) {
    EXPECT_EQ(stored_value(t.file(), n), expected[n]) << "counter " << n;
    total += expected[n];
  }
  EXPECT_GT(total, 0u);
  std::vector<std::pair<uint32_t, uint32_t>> all;
  ASSERT_EQ(t.scan(all), 0);
  std::set<uint32_t> own_found;
  for (const auto& [n, v] : all) {
    if (n >= kOwnBase) own_found.insert(n);
  }
  EXPECT_EQ(own_found, expected_own);
  ASSERT_EQ(t.file().begin_access(AccessMode::read, true), 0);
  const CheckResult check = check_record_file(t.file());
  t.file().end_access();
  EXPECT_TRUE(check.ok) << check.what;
}

constexpr uint32_t kAccounts = 5;
constexpr uint32_t kStartAmount = 1000;

// The sum of the accounts of both files, read while holding a reader slot in each (taken in the
// order a commit takes its files, so neither waits for the other in a circle): no commit can be
// half-way through while both slots are held.
std::optional<uint64_t> consistent_total(RecordFile& x, RecordFile& y) {
  if (x.begin_access(AccessMode::read, true) != 0) return std::nullopt;
  if (y.begin_access(AccessMode::read, true) != 0) {
    x.end_access();
    return std::nullopt;
  }
  uint64_t total = 0;
  for (RecordFile* f : {&x, &y}) {
    for (uint32_t n = 1; n <= kAccounts; ++n) {
      auto r = f->find_exact(key_of(n));
      total += r ? value_of(r->data()) : 0;
    }
  }
  y.end_access();
  x.end_access();
  return total;
}

TEST_F(SoakTest, TransfersBetweenTwoFilesKeepTheTotal) {
  const std::string x_name = path("x.twl"), y_name = path("y.twl");
  for (const std::string& name : {x_name, y_name}) {
    ValueTable t(name);
    ASSERT_EQ(t.open_error(), 0);
    for (uint32_t n = 1; n <= kAccounts; ++n) ASSERT_EQ(t.put_raw(n, kStartAmount), 0);
  }
  const uint64_t total = 2 * kAccounts * kStartAmount;
  const SoakSize size = soak_size();
  const int transfers = std::max(20, size.operations / 10);
  std::vector<pid_t> children;
  for (int p = 0; p < size.processes; ++p) {
    const bool reader = p % 2 == 1;
    children.push_back(spawn([&, p, reader] {
      std::mt19937 random(2000 + p);
      ValueTable x(x_name), y(y_name);
      if (x.open_error() || y.open_error()) return 1;
      for (int i = 0; i < transfers; ++i) {
        if (reader) {
          const auto seen = consistent_total(x.file(), y.file());
          if (seen != total) return 2;
          continue;
        }
        RecordFile* files[] = {&x.file(), &y.file()};
        if (logout(files) != 0) return 3;
        ValueTable& from = random() % 2 ? x : y;
        ValueTable& to = &from == &x ? y : x;
        const uint32_t a = 1 + random() % kAccounts, b = 1 + random() % kAccounts;
        const auto have = stored_value(from.file(), a), other = stored_value(to.file(), b);
        if (!have || !other) return 4;
        const uint32_t amount = *have == 0 ? 0 : random() % (*have / 2 + 1);
        if (from.put_raw(a, *have - amount) || to.put_raw(b, *other + amount)) return 5;
        if (random() % 10 == 0) {
          if (rollback() != 0) return 6;
        } else if (commit() != 0) {
          return 7;
        }
      }
      return 0;
    }));
  }
  for (size_t p = 0; p < children.size(); ++p) EXPECT_EQ(wait_for(children[p]), 0) << p;
  ValueTable x(x_name), y(y_name);
  EXPECT_EQ(consistent_total(x.file(), y.file()), total);
  for (ValueTable* t : {&x, &y}) {
    ASSERT_EQ(t->file().begin_access(AccessMode::read, true), 0);
    const CheckResult check = check_record_file(t->file());
    t->file().end_access();
    EXPECT_TRUE(check.ok) << check.what;
  }
}

}  // namespace
}  // namespace vtn::tarnwell
