// Record files through the driver, as a program uses them (a declared FILE and the file
// statements), beside SQLite on the same jobs:
//   BatchedAdd   100,000 records added inside one LOGOUT / COMMIT, against SQLite's INSERTs in
//                one BEGIN / COMMIT (rollback journal, and WAL), both with durable commits.
//   Get          one uncontended read by key on a file nobody changes: a shared file (reader
//                slot + header check + cached page), the same file opened exclusively (no lock,
//                no header read), SQLite's SELECT by primary key, and two system-call floors of a
//                shared read: one lock, one 512-byte read, one unlock (a header that is read),
//                and one lock, one unlock (a header that is looked at through a mapping).
//   Access       the access alone (begin and end of a read access on the record file, no record
//                read): on a shared file this is the price of sharing, beside the same floors.
//   Commit       a COMMIT that changed one record in each of 1, 2 and 4 files; the counter
//                "flushes" is the number of durable flushes one such COMMIT makes.
// Files live in $TMPDIR (default /tmp). The ratio table compares CPU time; the real times (which
// include the durable flushes) are in the console output.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/peer_ratio.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/access_locks.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/byte_lock.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/values/error_state.hpp"

#ifdef VTN_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

using namespace vtn;
using tarnwell::reader_slot_byte;
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

#pragma pack(push, 1)
struct Item {
  int32_t number;
  char text[40];
};
#pragma pack(pop)

// The peer's table: a number key and 40 bytes of data.
std::unique_ptr<File> item_table(const std::string& name) {
  return std::make_unique<File>(FileDeclaration("ITM")
                                    .driver(tarnwell_entry)
                                    .name(name)
                                    .create()
                                    .field("NUMBER", ftype::LONG)
                                    .field("TEXT", ftype::STRING(40))
                                    .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY));
}

void fill(File& f, uint32_t n) {
  Item& r = f.record_as<Item>();
  r.number = static_cast<int32_t>(n);
  const Bytes d = data_of(n);
  std::memcpy(r.text, d.data(), sizeof r.text);
}

void BM_BatchedAdd_ours(benchmark::State& state) {
  const std::string name = scratch("batch.twl");
  for (auto _ : state) {
    state.PauseTiming();
    remove_file(name);
    auto f = item_table(name);
    CREATE(*f);
    SHARE(*f, 0x42);
    if (ERRORNUMBER() != 0) state.SkipWithError("open");
    state.ResumeTiming();
    LOGOUT(0, {*f});
    for (uint32_t n = 1; n <= kBatch; ++n) {
      fill(*f, n);
      ADD(*f);
    }
    COMMIT();
    if (ERRORNUMBER() != 0) state.SkipWithError("commit");
    state.PauseTiming();
    CLOSE(*f);
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

// A table of kGetRecords records, made once.
const std::string& get_file() {
  static const std::string name = [] {
    const std::string n = scratch("get.twl");
    remove_file(n);
    auto f = item_table(n);
    CREATE(*f);
    SHARE(*f, 0x42);
    LOGOUT(0, {*f});
    for (uint32_t i = 1; i <= kGetRecords; ++i) {
      fill(*f, i);
      ADD(*f);
    }
    COMMIT();
    CLOSE(*f);
    return n;
  }();
  return name;
}

// GET by key in random order; with the file shared every GET is an access of its own.
void run_gets(benchmark::State& state, uint32_t mode) {
  auto f = item_table(get_file());
  OPEN(*f, mode);
  if (ERRORNUMBER() != 0) {
    state.SkipWithError("open");
    return;
  }
  std::mt19937 random(7);
  size_t found = 0;
  for (auto _ : state) {
    f->record_as<Item>().number = static_cast<int32_t>(1 + random() % kGetRecords);
    GET(*f, f->key("BY_NUMBER"));
    found += ERRORNUMBER() == 0;
  }
  if (found != state.iterations()) state.SkipWithError("record missing");
  CLOSE(*f);
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

// What a shared read whose header is looked at through a mapping cannot do without: take and drop
// one byte lock, the requests prepared beforehand (two system calls, nothing around them).
void lock_unlock_floor(benchmark::State& state) {
  vtn::platform::FileHandle handle;
  handle.open(get_file(), vtn::platform::decode_open_mode(0x42));
  vtn::platform::PreparedByteLock slot(reader_slot_byte(5), 1);
  for (auto _ : state) {
    if (!handle.lock_prepared(slot) || !handle.unlock_prepared(slot)) {
      state.SkipWithError("lock");
      break;
    }
  }
}
BENCHMARK(lock_unlock_floor)->Name("Get/lock_unlock_floor");
BENCHMARK(lock_unlock_floor)->Name("Access/lock_unlock_floor");
BENCHMARK(BM_Get_floor)->Name("Access/syscall_floor");

// A read access and nothing in it, on the record file of the Get lines.
void run_accesses(benchmark::State& state, uint32_t mode) {
  const std::string& name = get_file();
  tarnwell::RecordFile* file = nullptr;
  if (tarnwell::open_record_file(name, mode, "", file) != 0) {
    state.SkipWithError("open");
    return;
  }
  for (auto _ : state) {
    if (file->begin_access(tarnwell::AccessMode::read, true) != 0 || file->end_access() != 0) {
      state.SkipWithError("access");
      break;
    }
  }
  tarnwell::close_record_file(file);
}
void BM_Access_shared(benchmark::State& state) {
  run_accesses(state, 0x42);
}
void BM_Access_exclusive(benchmark::State& state) {
  run_accesses(state, 0x12);
}
BENCHMARK(BM_Access_shared)->Name("Access/shared");
BENCHMARK(BM_Access_exclusive)->Name("Access/exclusive");

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

// One COMMIT over the files, each with one changed record (GET by key, PUT).
int32_t commit_over(std::vector<std::unique_ptr<File>>& files, uint32_t value) {
  switch (files.size()) {
    case 1:
      LOGOUT(0, {*files[0]});
      break;
    case 2:
      LOGOUT(0, {*files[0], *files[1]});
      break;
    default:
      LOGOUT(0, {*files[0], *files[1], *files[2], *files[3]});
      break;
  }
  for (auto& f : files) {
    f->record_as<Item>().number = 1;
    GET(*f, f->key("BY_NUMBER"));
    const Bytes d = data_of(value);
    std::memcpy(f->record_as<Item>().text, d.data(), d.size());
    PUT(*f);
  }
  COMMIT();
  return ERRORNUMBER();
}

void BM_Commit(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<File>> files;
  for (int i = 0; i < count; ++i) {
    const std::string name = scratch("commit" + std::to_string(i) + ".twl");
    remove_file(name);
    files.push_back(item_table(name));
    File& f = *files.back();
    CREATE(f);
    SHARE(f, 0x42);
    LOGOUT(0, {f});
    for (uint32_t n = 1; n <= 100; ++n) {
      fill(f, n);
      ADD(f);
    }
    COMMIT();
  }
  // The durable flushes of one COMMIT, counted once outside the timing.
  // (A value no record holds yet: a PUT that changes nothing writes nothing.)
  vtn::platform::fault::arm({});
  commit_over(files, 1'000'000);
  const uint32_t flushes = vtn::platform::fault::flushes_seen();
  vtn::platform::fault::disarm();
  uint32_t value = 2;
  for (auto _ : state) {
    if (commit_over(files, value++) != 0) state.SkipWithError("commit");
  }
  state.counters["flushes"] = flushes;
  for (auto& f : files) CLOSE(*f);
}
BENCHMARK(BM_Commit)->Name("Commit")->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  tarnwell::install_transaction_recovery();
  return vtn_bench::run_with_ratios(argc, argv, {"ferrule", "shared", "exclusive"});
}
