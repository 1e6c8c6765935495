// The comma-delimited driver on a large file, side by side with Python's csv module and with a
// plain read of the file.
//
// The file: 1,000,000 records of a LONG, a quoted STRING(40) (every 50th with a doubled quote),
// a REAL, a DECIMAL(9,2) and a STRING(60), about 100 MB. Reading is SET + NEXT into the record
// until the end; the peer reads the same file with csv.reader and converts the values; the floor
// reads the file in 64 KB blocks and counts its lines. Writing is ADD of the same records into a
// new file, and csv.writer for the peer. Python's time covers only its loop.
//
// VTN_BENCH_RECORDS sets another record count. Times are CPU times of the process (Python's
// process_time for the peer), so that a busy machine does not blur the comparison; wall_MB/s
// gives the rate by the clock. Counters: MB/s and records/s; the last benchmark prints the
// ratios of the run (ours against the peer, and the floor against ours). BM_ParseLines times the
// line parser alone, so that the cost of a NEXT beyond parsing shows.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/basic/field_table.hpp"
#include "runtime/files/basic/record_parser.hpp"
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
      std::snprintf(text, sizeof text, "Registry name %lld, north%s",
                    static_cast<long long>(i * 7919 % 1000003), i % 50 == 0 ? " \"the\" one" : "");
  std::memcpy(r.name, text, std::min(static_cast<size_t>(n), sizeof r.name));
  r.amount = static_cast<double>(i % 1000) * 1.25 + 0.5;
  decimal_stack().push_long(static_cast<int32_t>(i % 100000));
  decimal_stack().push_long(100);
  decimal_stack().divide();
  decimal_stack().pop_decimal(r.price, sizeof r.price, 2);
  n = std::snprintf(text, sizeof text, "Somewhere street %lld, flat %lld, Springfield, Oak county",
                    static_cast<long long>(i % 997), static_cast<long long>(i % 89));
  std::memcpy(r.address, text, std::min(static_cast<size_t>(n), sizeof r.address));
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

// The process's CPU time, user and system: what the work costs, whatever else the machine runs.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// MB/s of each benchmark of this run, for the ratios.
std::map<std::string, double>& rates() {
  static std::map<std::string, double> r;
  return r;
}

// Rates by CPU time (the time the benchmark reports) and by the clock on the wall.
void report(benchmark::State& state, const char* key, uint64_t bytes, int64_t records, double cpu,
            double wall) {
  state.counters["MB/s"] = static_cast<double>(bytes) / 1e6 / cpu;
  state.counters["records/s"] = static_cast<double>(records) / cpu;
  state.counters["wall_MB/s"] = static_cast<double>(bytes) / 1e6 / wall;
  rates()[key] = static_cast<double>(bytes) / 1e6 / cpu;
}

// Times `work` by CPU and wall clock.
template <typename Work>
void timed(double& cpu, double& wall, Work&& work) {
  const double cpu_start = cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  work();
  wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cpu = cpu_seconds() - cpu_start;
}

void read_with_driver(benchmark::State& state, const char* key, const std::string& options) {
  const std::string& name = data_file();
  std::unique_ptr<File> file = declare(name, options);
  int64_t records = 0;
  for (auto _ : state) {
    double cpu = 0, wall = 0;
    timed(cpu, wall, [&] {
      OPEN(*file, 0x22);
      SET(*file);
      records = 0;
      for (;;) {
        NEXT(*file);
        if (ERRORNUMBER() != 0) break;
        ++records;
      }
      CLOSE(*file);
    });
    state.SetIterationTime(cpu);
    report(state, key, file_size(name), records, cpu, wall);
  }
  if (records != record_count()) state.SkipWithError("not every record was read");
}

void BM_ReadNext(benchmark::State& state) {
  read_with_driver(state, "read", "");
}

void BM_ReadNextLargeBuffer(benchmark::State& state) {
  read_with_driver(state, "read_64k", "/FILEBUFFERS=128");
}

// The parser alone on the file's lines in memory, with the driver's window of a record: what
// NEXT costs beyond it is the call itself (state checks, error state) and the read of the file.
void BM_ParseLines(benchmark::State& state) {
  const std::string& name = data_file();
  std::ifstream in(name, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t size = bytes.size();
  bytes.push_back(static_cast<char>(basic::kCtrlZ));  // the byte after every view
  std::unique_ptr<File> file = declare(name, "");
  basic::FieldTable table;
  const uint32_t record_size = file->record_type().size;
  if (basic::build_field_table(&file->record_type(), record_size, table) != 0) {
    state.SkipWithError("no field table");
    return;
  }
  const basic::LineSyntax syntax;
  const size_t window = 2 * size_t{record_size} + 2 + 2 * table.value_count;
  std::vector<char> record(record_size);
  const auto* text = reinterpret_cast<const uint8_t*>(bytes.data());
  int64_t records = 0;
  for (auto _ : state) {
    double cpu = 0, wall = 0;
    timed(cpu, wall, [&] {
      records = 0;
      for (size_t pos = 0; pos < size; ++records) {
        const basic::TextView view{text + pos, std::min<size_t>(size - pos, 4096),
                                   size - pos <= 4096};
        const basic::ParsedLine line =
            basic::parse_line(table, syntax, view, std::min(window, view.size), record.data());
        if (!line.end_consumed) break;
        pos += line.used;
      }
      benchmark::DoNotOptimize(record.data());
    });
    state.SetIterationTime(cpu);
    report(state, "parse", size, records, cpu, wall);
  }
  if (records != record_count()) state.SkipWithError("not every line was parsed");
}

// Runs the peer script; returns its loop's CPU seconds (and in `wall` its wall-clock seconds).
double run_peer(const std::string& arguments, int64_t& rows, double& wall) {
  const std::string command =
      "python3 " VTN_BENCH_DIR "/basic_csv_peer.py " + arguments + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  double seconds = -1;
  long long n = 0;
  if (std::fscanf(p, "%lf %lf %lld", &seconds, &wall, &n) != 3) seconds = -1;
  pclose(p);
  rows = n;
  return seconds;
}

void BM_PythonCsvRead(benchmark::State& state) {
  const std::string& name = data_file();
  for (auto _ : state) {
    int64_t rows = 0;
    double wall = 0;
    const double seconds = run_peer("read " + name, rows, wall);
    if (seconds <= 0 || rows != record_count()) {
      state.SkipWithError("python3 or its csv module did not run");
      return;
    }
    state.SetIterationTime(seconds);
    report(state, "python_read", file_size(name), rows, seconds, wall);
  }
}

void BM_PlainRead(benchmark::State& state) {
  const std::string& name = data_file();
  std::vector<char> block(64 * 1024);
  for (auto _ : state) {
    int64_t lines = 0;
    double cpu = 0, wall = 0;
    timed(cpu, wall, [&] {
      const int fd = ::open(name.c_str(), O_RDONLY);
      ssize_t n;
      while ((n = ::read(fd, block.data(), block.size())) > 0) {
        for (const char* p = block.data();
             (p = static_cast<const char*>(std::memchr(p, '\n', block.data() + n - p))) != nullptr;
             ++p)
          ++lines;
      }
      ::close(fd);
    });
    state.SetIterationTime(cpu);
    report(state, "plain_read", file_size(name), lines, cpu, wall);
  }
}

void BM_WriteAdd(benchmark::State& state) {
  const std::string name = scratch("written.csv");
  for (auto _ : state) {
    std::filesystem::remove(name);
    bool written = false;
    double cpu = 0, wall = 0;
    timed(cpu, wall, [&] { written = write_records(name, ""); });
    if (!written) {
      state.SkipWithError("ADD failed");
      return;
    }
    state.SetIterationTime(cpu);
    report(state, "write", file_size(name), record_count(), cpu, wall);
  }
}

void BM_PythonCsvWrite(benchmark::State& state) {
  const std::string name = scratch("python.csv");
  for (auto _ : state) {
    int64_t rows = 0;
    double wall = 0;
    const double seconds =
        run_peer("write " + name + " " + std::to_string(record_count()), rows, wall);
    if (seconds <= 0 || rows != record_count()) {
      state.SkipWithError("python3 or its csv module did not run");
      return;
    }
    state.SetIterationTime(seconds);
    report(state, "python_write", file_size(name), rows, seconds, wall);
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
  state.counters["plain/parse"] = ratio("plain_read", "parse");
  state.counters["write/python"] = ratio("write", "python_write");
}

BENCHMARK(BM_ReadNext)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ParseLines)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadNextLargeBuffer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PythonCsvRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PlainRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteAdd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PythonCsvWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Ratios)->Iterations(1);

}  // namespace
