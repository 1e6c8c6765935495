// The comma-delimited driver on a large file, side by side with Python's csv module and with a
// plain read of the file.
//
// The file: 1,000,000 records of a LONG, a quoted STRING(40) (every 50th with a doubled quote),
// a REAL, a DECIMAL(9,2) and a STRING(60), about 100 MB. Reading is SET + NEXT into the record
// until the end; the peer reads the same file with csv.reader and converts the values; the floor
// reads the file in 64 KB blocks and counts its lines. Writing is ADD of the same records into a
// new file, and csv.writer for the peer. Python's time covers only its loop.
//
// VTN_BENCH_RECORDS sets another record count. Counters: MB/s and records/s; the last benchmark
// prints the ratios of the run (ours against the peer and against the floor).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/error_state.hpp"

namespace {

using namespace vtn;

struct Record {
  int32_t number;
  char name[40];
  double amount;
  uint8_t price[5];  // DECIMAL(9,2)
  char address[60];
} __attribute__((packed));
static_assert(sizeof(Record) == 117);

int64_t record_count() {
  const char* n = std::getenv("VTN_BENCH_RECORDS");
  return n != nullptr && std::atoll(n) > 0 ? std::atoll(n) : 1000000;
}

// A directory of the run's files, removed at exit.
const std::string& scratch_dir() {
  static const std::string* dir = [] {
    char pattern[] = "/tmp/vtn_basic_bench_XXXXXX";
    const char* made = mkdtemp(pattern);
    auto* d = new std::string(made != nullptr ? made : "/tmp/vtn_basic_bench");
    std::atexit([] { std::filesystem::remove_all(*dir); });
    return d;
  }();
  return *dir;
}

std::string scratch(const char* name) {
  return scratch_dir() + "/" + name;
}

// The same records as the peer's record(i).
void make_record(int64_t i, Record& r) {
  std::memset(&r, ' ', sizeof r);
  r.number = static_cast<int32_t>(i);
  char text[80];
  int n =
      std::snprintf(text, sizeof text, "Name %lld%s", static_cast<long long>(i * 7919 % 1000003),
                    i % 50 == 0 ? " \"the\" one" : "");
  std::memcpy(r.name, text, static_cast<size_t>(n));
  r.amount = static_cast<double>(i % 1000) * 1.25 + 0.5;
  decimal_stack().push_long(static_cast<int32_t>(i % 100000));
  decimal_stack().push_long(100);
  decimal_stack().divide();
  decimal_stack().pop_decimal(r.price, sizeof r.price, 2);
  n = std::snprintf(text, sizeof text, "Somewhere street %lld, flat %lld",
                    static_cast<long long>(i % 997), static_cast<long long>(i % 89));
  std::memcpy(r.address, text, static_cast<size_t>(n));
}

std::unique_ptr<File> declare(const std::string& name, const std::string& options) {
  return std::make_unique<File>(FileDeclaration("BEN")
                                    .driver(basic_entry, options)
                                    .name(name)
                                    .create()
                                    .field("NUMBER", ftype::LONG)
                                    .field("NAME", ftype::STRING(40))
                                    .field("AMOUNT", ftype::REAL)
                                    .field("PRICE", ftype::DECIMAL(9, 2))
                                    .field("ADDRESS", ftype::STRING(60)));
}

// Writes the records with ADD; returns false on any error.
bool write_records(const std::string& name, const std::string& options) {
  std::unique_ptr<File> file = declare(name, options);
  CREATE(*file);
  OPEN(*file, 0x22);
  if (ERRORNUMBER() != 0) return false;
  Record& r = file->record_as<Record>();
  for (int64_t i = 1; i <= record_count(); ++i) {
    make_record(i, r);
    ADD(*file);
    if (ERRORNUMBER() != 0) return false;
  }
  CLOSE(*file);
  return ERRORNUMBER() == 0;
}

const std::string& data_file() {
  static const std::string name = [] {
    std::string n = scratch("data.csv");
    if (!write_records(n, "")) std::abort();
    return n;
  }();
  return name;
}

uint64_t file_size(const std::string& name) {
  return std::filesystem::file_size(name);
}

// MB/s of each benchmark of this run, for the ratios.
std::map<std::string, double>& rates() {
  static std::map<std::string, double> r;
  return r;
}

void report(benchmark::State& state, const char* key, uint64_t bytes, int64_t records,
            double seconds) {
  state.counters["MB/s"] = static_cast<double>(bytes) / 1e6 / seconds;
  state.counters["records/s"] = static_cast<double>(records) / seconds;
  rates()[key] = static_cast<double>(bytes) / 1e6 / seconds;
}

void read_with_driver(benchmark::State& state, const char* key, const std::string& options) {
  const std::string& name = data_file();
  std::unique_ptr<File> file = declare(name, options);
  int64_t records = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    OPEN(*file, 0x22);
    SET(*file);
    records = 0;
    for (;;) {
      NEXT(*file);
      if (ERRORNUMBER() != 0) break;
      ++records;
    }
    CLOSE(*file);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    report(state, key, file_size(name), records, took.count());
  }
  if (records != record_count()) state.SkipWithError("not every record was read");
}

void BM_ReadNext(benchmark::State& state) {
  read_with_driver(state, "read", "");
}

void BM_ReadNextLargeBuffer(benchmark::State& state) {
  read_with_driver(state, "read_64k", "/FILEBUFFERS=128");
}

// Runs the peer script; returns its loop's seconds.
double run_peer(const std::string& arguments, int64_t& rows) {
  const std::string command =
      "python3 " VTN_BENCH_DIR "/basic_csv_peer.py " + arguments + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  double seconds = -1;
  long long n = 0;
  if (std::fscanf(p, "%lf %lld", &seconds, &n) != 2) seconds = -1;
  pclose(p);
  rows = n;
  return seconds;
}

void BM_PythonCsvRead(benchmark::State& state) {
  const std::string& name = data_file();
  for (auto _ : state) {
    int64_t rows = 0;
    const double seconds = run_peer("read " + name, rows);
    if (seconds <= 0 || rows != record_count()) {
      state.SkipWithError("python3 or its csv module did not run");
      return;
    }
    state.SetIterationTime(seconds);
    report(state, "python_read", file_size(name), rows, seconds);
  }
}

void BM_PlainRead(benchmark::State& state) {
  const std::string& name = data_file();
  std::vector<char> block(64 * 1024);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(name.c_str(), O_RDONLY);
    int64_t lines = 0;
    ssize_t n;
    while ((n = ::read(fd, block.data(), block.size())) > 0) {
      for (const char* p = block.data();
           (p = static_cast<const char*>(std::memchr(p, '\n', block.data() + n - p))) != nullptr;
           ++p)
        ++lines;
    }
    ::close(fd);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    report(state, "plain_read", file_size(name), lines, took.count());
  }
}

void BM_WriteAdd(benchmark::State& state) {
  const std::string name = scratch("written.csv");
  for (auto _ : state) {
    std::filesystem::remove(name);
    const auto start = std::chrono::steady_clock::now();
    if (!write_records(name, "")) {
      state.SkipWithError("ADD failed");
      return;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    report(state, "write", file_size(name), record_count(), took.count());
  }
}

void BM_PythonCsvWrite(benchmark::State& state) {
  const std::string name = scratch("python.csv");
  for (auto _ : state) {
    int64_t rows = 0;
    const double seconds = run_peer("write " + name + " " + std::to_string(record_count()), rows);
    if (seconds <= 0 || rows != record_count()) {
      state.SkipWithError("python3 or its csv module did not run");
      return;
    }
    state.SetIterationTime(seconds);
    report(state, "python_write", file_size(name), rows, seconds);
  }
}

// The ratios of this run, as counters.
void BM_Ratios(benchmark::State& state) {
  for (auto _ : state) {
  }
  auto ratio = [](const char* a, const char* b) {
    return rates().count(a) && rates().count(b) ? rates()[a] / rates()[b] : 0.0;
  };
  state.counters["read/python"] = ratio("read", "python_read");
  state.counters["read_64k/python"] = ratio("read_64k", "python_read");
  state.counters["plain/read"] = ratio("plain_read", "read");
  state.counters["plain/read_64k"] = ratio("plain_read", "read_64k");
  state.counters["write/python"] = ratio("write", "python_write");
}

BENCHMARK(BM_ReadNext)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadNextLargeBuffer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PythonCsvRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PlainRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteAdd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PythonCsvWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Ratios)->Iterations(1);

}  // namespace
