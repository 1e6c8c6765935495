// The record-file driver beside SQLite on the same records, in the same run.
//
// Records: the pack table's record (number, STRING(40) name, STRING(120) path; the number a LONG,
// since a SHORT cannot count to 100,000: 164 bytes) keyed by number; SQLite's peer is CREATE TABLE
// t(number INTEGER PRIMARY KEY, name CHAR(40), path CHAR(120)) with synchronous=FULL, once with the
// rollback journal (DELETE) and once with WAL.
//
//   durable add      ADD on a file opened shared: each ADD is an access that ends with a flush
//                    | one INSERT per implicit transaction
//   random get       GET by number in random order, file shared (every GET an access) and
//                    exclusive | a prepared SELECT ... WHERE number=?
//   key-order scan   SET(key) + NEXT to the end | SELECT ... ORDER BY number stepped to the end
//   build a key      BUILD of a key over name | CREATE INDEX on name
//   file size        bytes per record after the build (counter "bytes_per_record")
//
// Records per table: VTN_BENCH_RECORDS (default 100,000); the random get also runs at 10,000
// and 1,000,000 records for the scaling line. Both sides read every record once, untimed, before
// a random get or a scan is measured (steady state), and fill their tables in large transactions.
// Files live in VTN_BENCH_TMP (default /tmp). "flushes_per_add" counts the durable flushes
// (fdatasync) of the driver per durable add.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/values/error_state.hpp"

#ifdef VTN_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

using namespace vtn;

#pragma pack(push, 1)
struct PackRecord {
  int32_t number;
  char name[40];
  char path[120];
};
#pragma pack(pop)
static_assert(sizeof(PackRecord) == 164);  // the 162-byte record with a LONG number

int64_t records_wanted() {
  const char* n = std::getenv("VTN_BENCH_RECORDS");
  return n != nullptr ? std::atoll(n) : 100'000;
}

// The run's directory, removed at exit with everything in it.
const std::string& bench_dir() {
  static const std::string* dir = [] {
    const char* d = std::getenv("VTN_BENCH_TMP");
    auto* made = new std::string((d != nullptr ? std::string(d) : std::string("/tmp")) +
                                 "/vtn_bench_" + std::to_string(getpid()));
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*dir, ignored);
    });
    return made;
  }();
  return *dir;
}

std::string file_name(const std::string& base) {
  std::filesystem::create_directories(bench_dir());
  return bench_dir() + "/" + base;
}

void fill(PackRecord& r, int32_t number) {
  r.number = number;
  std::memset(r.name, ' ', sizeof r.name);
  std::memset(r.path, ' ', sizeof r.path);
  const std::string name = "pack " + std::to_string((number * 7919) % 1'000'003);
  const std::string path = "/srv/packs/" + std::to_string(number);
  std::memcpy(r.name, name.data(), name.size());
  std::memcpy(r.path, path.data(), path.size());
}

std::unique_ptr<File> pack_file(const std::string& name) {
  return std::make_unique<File>(FileDeclaration("PNM")
                                    .driver(tarnwell_entry)
                                    .name(name)
                                    .create()
                                    .field("NUMBER", ftype::LONG)
                                    .field("NAME", ftype::STRING(40))
                                    .field("PATH", ftype::STRING(120))
                                    .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY)
                                    .key("BY_NAME", {"NAME"}, KA_DUP));
}

// A table of n records, made once per size and kept for the run.
File& filled_table(int64_t n) {
  static std::map<int64_t, std::unique_ptr<File>> tables;
  auto& slot = tables[n];
  if (slot) return *slot;
  const std::string name = file_name("filled_" + std::to_string(n) + ".TWL");
  std::filesystem::remove(name);
  slot = pack_file(name);
  File& f = *slot;
  CREATE(f);
  // Filled in transactions of 50,000 records: one durable flush per batch, not per record.
  SHARE(f, 0x42);
  constexpr int64_t kBatch = 50'000;
  for (int64_t i = 1; i <= n; ++i) {
    if (i % kBatch == 1) LOGOUT(0, {f});
    fill(f.record_as<PackRecord>(), static_cast<int32_t>(i));
    APPEND(f);
    if (i % kBatch == 0 || i == n) COMMIT();
  }
  CLOSE(f);
  OPEN(f, 0x12);
  BUILD(f.key("BY_NUMBER"));
  CLOSE(f);
  if (ERRORNUMBER() != 0) std::fprintf(stderr, "filling failed: %d\n", ERRORNUMBER());
  return f;
}

void BM_Ferrule_DurableAdd(benchmark::State& state) {
  const std::string name = file_name("durable.TWL");
  std::filesystem::remove(name);
  auto f = pack_file(name);
  CREATE(*f);
  SHARE(*f, 0x42);
  int32_t number = 0;
  for (auto _ : state) {
    fill(f->record_as<PackRecord>(), ++number);
    ADD(*f);
  }
  // Durable flushes per add, counted over a short extra run.
  platform::fault::arm({});
  for (int i = 0; i < 50; ++i) {
    fill(f->record_as<PackRecord>(), ++number);
    ADD(*f);
  }
  state.counters["flushes_per_add"] = platform::fault::flushes_seen() / 50.0;
  platform::fault::disarm();
  state.counters["errors"] = ERRORNUMBER();
  CLOSE(*f);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Ferrule_DurableAdd)->Unit(benchmark::kMicrosecond);

// Reads every record in key order; the number read. Kept out of line so that a profile of a
// benchmark tells its untimed first pass apart from the measured loop.
[[gnu::noinline]] int64_t read_in_key_order(File& f) {
  SET(f.key("BY_NUMBER"));
  int64_t read = 0;
  for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) ++read;
  return read;
}

void BM_Ferrule_RandomGet(benchmark::State& state) {
  const int64_t n = state.range(0) > 0 ? state.range(0) : records_wanted();
  const bool exclusive = state.range(1) != 0;
  File& f = filled_table(n);
  OPEN(f, exclusive ? 0x12 : 0x42);
  // Steady state, as for the peer: one untimed pass over every record first.
  read_in_key_order(f);
  std::mt19937 random(1);
  for (auto _ : state) {
    f.record_as<PackRecord>().number = static_cast<int32_t>(1 + random() % n);
    GET(f, f.key("BY_NUMBER"));
  }
  state.counters["errors"] = ERRORNUMBER();
  CLOSE(f);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(n) + (exclusive ? " exclusive" : " shared"));
}
BENCHMARK(BM_Ferrule_RandomGet)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({10'000, 1})
    ->Args({1'000'000, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_Ferrule_KeyOrderScan(benchmark::State& state) {
  const int64_t n = records_wanted();
  File& f = filled_table(n);
  OPEN(f, 0x12);
  read_in_key_order(f);  // steady state, as for the peer
  for (auto _ : state) {
    SET(f.key("BY_NUMBER"));
    int64_t read = 0;
    for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) ++read;
    if (read != n) state.SkipWithError("scan lost records");
  }
  CLOSE(f);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Ferrule_KeyOrderScan)->Unit(benchmark::kMillisecond);

void BM_Ferrule_BuildKey(benchmark::State& state) {
  const int64_t n = records_wanted();
  File& f = filled_table(n);
  OPEN(f, 0x12);
  for (auto _ : state) {
    BUILD(f.key("BY_NAME"));
    if (ERRORNUMBER() != 0) state.SkipWithError("build failed");
  }
  CLOSE(f);
  const std::string name = file_name("filled_" + std::to_string(n) + ".TWL");
  state.counters["bytes_per_record"] =
      static_cast<double>(std::filesystem::file_size(name)) / static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Ferrule_BuildKey)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef VTN_HAVE_SQLITE

struct Sqlite {
  sqlite3* db = nullptr;
  explicit Sqlite(const std::string& name, bool wal) {
    sqlite3_open(name.c_str(), &db);
    exec(wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE");
    exec("PRAGMA synchronous=FULL");
  }
  ~Sqlite() { sqlite3_close(db); }
  void exec(const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
};

void bind_record(sqlite3_stmt* s, const PackRecord& r) {
  sqlite3_bind_int(s, 1, r.number);
  sqlite3_bind_text(s, 2, r.name, sizeof r.name, SQLITE_STATIC);
  sqlite3_bind_text(s, 3, r.path, sizeof r.path, SQLITE_STATIC);
}

const char* kCreate = "CREATE TABLE t(number INTEGER PRIMARY KEY, name CHAR(40), path CHAR(120))";

std::string sqlite_filled(int64_t n, bool wal) {
  static std::map<std::pair<int64_t, bool>, std::string> made;
  auto& name = made[{n, wal}];
  if (!name.empty()) return name;
  name = file_name("filled_" + std::to_string(n) + (wal ? "_wal" : "_del") + ".db");
  std::filesystem::remove(name);
  Sqlite db(name, wal);
  db.exec(kCreate);
  db.exec("BEGIN");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db.db, "INSERT INTO t VALUES(?,?,?)", -1, &s, nullptr);
  PackRecord r;
  for (int64_t i = 1; i <= n; ++i) {
    fill(r, static_cast<int32_t>(i));
    bind_record(s, r);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  db.exec("COMMIT");
  return name;
}

void BM_Sqlite_DurableAdd(benchmark::State& state) {
  const bool wal = state.range(0) != 0;
  const std::string name = file_name(wal ? "durable_wal.db" : "durable_del.db");
  std::filesystem::remove(name);
  Sqlite db(name, wal);
  db.exec(kCreate);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db.db, "INSERT INTO t VALUES(?,?,?)", -1, &s, nullptr);
  PackRecord r;
  int32_t number = 0;
  for (auto _ : state) {
    fill(r, ++number);
    bind_record(s, r);
    if (sqlite3_step(s) != SQLITE_DONE) state.SkipWithError("insert failed");
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(wal ? "WAL" : "DELETE");
}
BENCHMARK(BM_Sqlite_DurableAdd)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Sqlite_RandomGet(benchmark::State& state) {
  const int64_t n = state.range(0) > 0 ? state.range(0) : records_wanted();
  Sqlite db(sqlite_filled(n, true), true);
  sqlite3_stmt* s = nullptr;
  db.exec("SELECT count(*) FROM (SELECT number, name, path FROM t ORDER BY number)");
  sqlite3_prepare_v2(db.db, "SELECT number, name, path FROM t WHERE number=?", -1, &s, nullptr);
  std::mt19937 random(1);
  PackRecord r;
  for (auto _ : state) {
    sqlite3_bind_int(s, 1, static_cast<int>(1 + random() % n));
    if (sqlite3_step(s) == SQLITE_ROW) {
      r.number = sqlite3_column_int(s, 0);
      std::memcpy(r.name, sqlite3_column_text(s, 1), sizeof r.name);
      std::memcpy(r.path, sqlite3_column_text(s, 2), sizeof r.path);
    }
    sqlite3_reset(s);
    benchmark::DoNotOptimize(r);
  }
  sqlite3_finalize(s);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(n) + " WAL");
}
BENCHMARK(BM_Sqlite_RandomGet)->Arg(0)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

void BM_Sqlite_KeyOrderScan(benchmark::State& state) {
  const int64_t n = records_wanted();
  Sqlite db(sqlite_filled(n, true), true);
  sqlite3_stmt* s = nullptr;
  db.exec("SELECT count(*) FROM (SELECT number, name, path FROM t ORDER BY number)");
  sqlite3_prepare_v2(db.db, "SELECT number, name, path FROM t ORDER BY number", -1, &s, nullptr);
  PackRecord r;
  for (auto _ : state) {
    int64_t read = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      r.number = sqlite3_column_int(s, 0);
      std::memcpy(r.name, sqlite3_column_text(s, 1), sizeof r.name);
      std::memcpy(r.path, sqlite3_column_text(s, 2), sizeof r.path);
      ++read;
    }
    sqlite3_reset(s);
    if (read != n) state.SkipWithError("scan lost rows");
  }
  sqlite3_finalize(s);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Sqlite_KeyOrderScan)->Unit(benchmark::kMillisecond);

void BM_Sqlite_CreateIndex(benchmark::State& state) {
  const int64_t n = records_wanted();
  const std::string name = sqlite_filled(n, true);
  Sqlite db(name, true);
  for (auto _ : state) {
    db.exec("DROP INDEX IF EXISTS by_name");
    db.exec("CREATE INDEX by_name ON t(name)");
  }
  db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  state.counters["bytes_per_record"] =
      static_cast<double>(std::filesystem::file_size(name)) / static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Sqlite_CreateIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

#endif  // VTN_HAVE_SQLITE

}  // namespace
