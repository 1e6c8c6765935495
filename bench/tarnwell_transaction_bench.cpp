// Record files under the locking layer, beside SQLite on the same jobs:
//   BatchedAdd   100,000 records added inside one LOGOUT / COMMIT, against SQLite's INSERTs in
//                one BEGIN / COMMIT (rollback journal, and WAL), both with durable commits.
//   Get          one uncontended read by key on a file nobody changes: a shared file (reader
//                slot + header check + cached page), the same file opened exclusively (no lock,
//                no header read), SQLite's SELECT by primary key, and the system-call floor of a
//                shared read (one lock, one 512-byte read, one unlock).
//   Commit       a COMMIT that changed one record in each of 1, 2 and 4 files; the counter
//                "flushes" is the number of durable flushes one such COMMIT makes.
// Files live in $TMPDIR (default /tmp). The ratio table compares CPU time; the real times (which
// include the durable flushes) are in the console output.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/peer_ratio.hpp"
#include "runtime/files/tarnwell/access_locks.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/file_handle.hpp"

#ifdef VTN_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

using namespace vtn::tarnwell;
using Bytes = std::vector<uint8_t>;

constexpr int kBatch = 100'000;
constexpr int kGetRecords = 10'000;

std::string scratch(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  const std::filesystem::path dir =
      std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "vtn_transaction_bench";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// The key of a table's data record: table number, kind 0xF3, record number.
Bytes data_key(uint32_t n) {
  return {0,
          0,
          0,
          1,
          0xF3,
          static_cast<uint8_t>(n >> 24),
          static_cast<uint8_t>(n >> 16),
          static_cast<uint8_t>(n >> 8),
          static_cast<uint8_t>(n)};
}

Bytes data_of(uint32_t n) {
  Bytes d(40, ' ');
  const std::string text = "record " + std::to_string(n);
  std::copy(text.begin(), text.end(), d.begin());
  return d;
}

void remove_file(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(name, ignored);
}

void BM_BatchedAdd_ours(benchmark::State& state) {
  const std::string name = scratch("batch.twl");
  for (auto _ : state) {
    state.PauseTiming();
    remove_file(name);
    RecordFile* file = nullptr;
    if (open_record_file(name, 0x142, "", file) != 0) state.SkipWithError("open");
    state.ResumeTiming();
    logout(*file);
    for (uint32_t n = 1; n <= kBatch; ++n) file->insert_record(data_key(n), data_of(n));
    if (commit() != 0) state.SkipWithError("commit");
    state.PauseTiming();
    close_record_file(file);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BatchedAdd_ours)->Name("BatchedAdd/ferrule")->Unit(benchmark::kMillisecond);

#ifdef VTN_HAVE_SQLITE
sqlite3* open_sqlite(const std::string& name, bool wal) {
  sqlite3* db = nullptr;
  sqlite3_open(name.c_str(), &db);
  sqlite3_exec(db, wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE", nullptr, nullptr,
               nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  return db;
}

void batched_add_sqlite(benchmark::State& state, bool wal) {
  const std::string name = scratch(wal ? "batch_wal.db" : "batch.db");
  for (auto _ : state) {
    state.PauseTiming();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) remove_file(name + suffix);
    sqlite3* db = open_sqlite(name, wal);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB)", nullptr, nullptr, nullptr);
    state.ResumeTiming();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
    for (int n = 1; n <= kBatch; ++n) {
      const Bytes d = data_of(static_cast<uint32_t>(n));
      sqlite3_bind_int(insert, 1, n);
      sqlite3_bind_blob(insert, 2, d.data(), static_cast<int>(d.size()), SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      state.SkipWithError("commit");
    }
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
void BM_BatchedAdd_sqlite_journal(benchmark::State& state) {
  batched_add_sqlite(state, false);
}
void BM_BatchedAdd_sqlite_wal(benchmark::State& state) {
  batched_add_sqlite(state, true);
}
BENCHMARK(BM_BatchedAdd_sqlite_journal)
    ->Name("BatchedAdd/sqlite_journal")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchedAdd_sqlite_wal)->Name("BatchedAdd/sqlite_wal")->Unit(benchmark::kMillisecond);
#endif

// A file of kGetRecords records, made once.
const std::string& get_file() {
  static const std::string name = [] {
    const std::string n = scratch("get.twl");
    remove_file(n);
    RecordFile* file = nullptr;
    open_record_file(n, 0x142, "", file);
    file->begin_access(AccessMode::write, true);
    for (uint32_t i = 1; i <= kGetRecords; ++i) file->insert_record(data_key(i), data_of(i));
    file->end_access();
    close_record_file(file);
    return n;
  }();
  return name;
}

void run_gets(benchmark::State& state, uint32_t mode) {
  RecordFile* file = nullptr;
  if (open_record_file(get_file(), mode, "", file) != 0) {
    state.SkipWithError("open");
    return;
  }
  std::mt19937 random(7);
  size_t found = 0;
  for (auto _ : state) {
    const Bytes key = data_key(1 + random() % kGetRecords);
    file->begin_access(AccessMode::read, true);
    found += file->find_exact(key).has_value();
    file->end_access();
  }
  if (found != state.iterations()) state.SkipWithError("record missing");
  close_record_file(file);
}

void BM_Get_shared(benchmark::State& state) {
  run_gets(state, 0x42);  // read-write, shared
}
void BM_Get_exclusive(benchmark::State& state) {
  run_gets(state, 0x12);  // read-write, nobody else
}
BENCHMARK(BM_Get_shared)->Name("Get/shared");
BENCHMARK(BM_Get_exclusive)->Name("Get/exclusive");

// What a shared read cannot do without: take and drop one byte lock, read the 512-byte header.
void BM_Get_floor(benchmark::State& state) {
  vtn::platform::FileHandle handle;
  handle.open(get_file(), vtn::platform::decode_open_mode(0x42));
  uint8_t header[512];
  for (auto _ : state) {
    handle.lock(reader_slot_byte(5), 1);
    size_t got = 0;
    handle.read_at(0, header, got);
    handle.unlock(reader_slot_byte(5), 1);
    benchmark::DoNotOptimize(header[0]);
  }
}
BENCHMARK(BM_Get_floor)->Name("Get/syscall_floor");

#ifdef VTN_HAVE_SQLITE
void BM_Get_sqlite(benchmark::State& state) {
  const std::string name = scratch("get.db");
  for (const char* suffix : {"", "-journal"}) remove_file(name + suffix);
  sqlite3* db = open_sqlite(name, false);
  sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB); BEGIN", nullptr, nullptr,
               nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
  for (int n = 1; n <= kGetRecords; ++n) {
    const Bytes d = data_of(static_cast<uint32_t>(n));
    sqlite3_bind_int(insert, 1, n);
    sqlite3_bind_blob(insert, 2, d.data(), static_cast<int>(d.size()), SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?", -1, &select, nullptr);
  std::mt19937 random(7);
  size_t found = 0;
  for (auto _ : state) {
    sqlite3_bind_int(select, 1, static_cast<int>(1 + random() % kGetRecords));
    found += sqlite3_step(select) == SQLITE_ROW;
    sqlite3_reset(select);
  }
  if (found != state.iterations()) state.SkipWithError("row missing");
  sqlite3_finalize(select);
  sqlite3_close(db);
}
BENCHMARK(BM_Get_sqlite)->Name("Get/sqlite");
#endif

// One COMMIT over `files` files, each with one changed record.
int32_t commit_over(std::vector<RecordFile*>& files, uint32_t value) {
  logout(files);
  for (RecordFile* f : files) f->replace_record(data_key(1), data_of(value));
  return commit();
}

void BM_Commit(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<RecordFile*> files;
  for (int i = 0; i < count; ++i) {
    const std::string name = scratch("commit" + std::to_string(i) + ".twl");
    remove_file(name);
    RecordFile* f = nullptr;
    open_record_file(name, 0x142, "", f);
    f->begin_access(AccessMode::write, true);
    for (uint32_t n = 1; n <= 100; ++n) f->insert_record(data_key(n), data_of(n));
    f->end_access();
    files.push_back(f);
  }
  // The durable flushes of one COMMIT, counted once outside the timing.
  vtn::platform::fault::arm({});
  commit_over(files, 1);
  const uint32_t flushes = vtn::platform::fault::flushes_seen();
  vtn::platform::fault::disarm();
  uint32_t value = 2;
  for (auto _ : state) {
    if (commit_over(files, value++) != 0) state.SkipWithError("commit");
  }
  state.counters["flushes"] = flushes;
  for (RecordFile* f : files) close_record_file(f);
}
BENCHMARK(BM_Commit)->Name("Commit")->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  install_transaction_recovery();
  return vtn_bench::run_with_ratios(argc, argv, {"ferrule", "shared", "exclusive"});
}
