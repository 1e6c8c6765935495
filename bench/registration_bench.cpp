// One registration as its users run it: the ferrule executable started on a request in a
// directory whose pack table holds 1,000 packs, beside the sqlite3 shell doing the same job on
// an equally filled database (look the name up ignoring case, update it or add it with the next
// number, store it as the current pack, durably). Both are whole processes, started the same way;
// the tables are filled once, outside the timing.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kPacks = 1000;

fs::path build_dir() {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

// Runs a program to its end; its output is discarded. Returns its exit code.
int run(const std::vector<std::string>& argv, const fs::path& dir) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  fs::current_path(previous);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_request(const fs::path& dir, const std::string& name, const std::string& path) {
  std::ofstream(dir / "Mossgate.ini", std::ios::binary)
      << '"' << name << "\",\"" << path << "\"\r\n";
}

std::vector<fs::path>& made() {
  static std::vector<fs::path> dirs;
  return dirs;
}

fs::path scratch(const char* tag) {
  const fs::path dir = fs::temp_directory_path() /
                       (std::string("vtn_bench_") + tag + "_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  made().push_back(dir);
  return dir;
}

// A pack directory with kPacks packs, filled by ferrule itself.
fs::path ferrule_directory() {
  static const fs::path dir = [] {
    const fs::path d = scratch("ferrule");
    const std::string exe = (build_dir() / "ferrule").string();
    for (int i = 1; i <= kPacks; ++i) {
      write_request(d, "Pack " + std::to_string(i), "/srv/packs/" + std::to_string(i));
      run({exe}, d);
    }
    return d;
  }();
  return dir;
}

const char* kSqliteRegistration =
    "PRAGMA synchronous=FULL;"
    "BEGIN IMMEDIATE;"
    "CREATE TEMP TABLE request(name TEXT, path TEXT);"
    "INSERT INTO request VALUES(%Q, %Q);"
    "UPDATE packs SET name=(SELECT name FROM request), path=(SELECT path FROM request)"
    "  WHERE number=(SELECT min(number) FROM packs WHERE upper(name)=upper((SELECT name FROM "
    "request)));"
    "INSERT INTO packs SELECT (SELECT coalesce(max(number), 0) + 1 FROM packs), name, path"
    "  FROM request WHERE changes()=0;"
    "INSERT OR REPLACE INTO setup SELECT 1, p.name, p.path FROM packs p, request r"
    "  WHERE upper(p.name)=upper(r.name) ORDER BY p.number LIMIT 1;"
    "COMMIT;";

std::string sqlite_script(const std::string& name, const std::string& path) {
  std::string script = kSqliteRegistration;
  auto quote = [](const std::string& t) { return "'" + t + "'"; };
  script.replace(script.find("%Q"), 2, quote(name));
  script.replace(script.find("%Q"), 2, quote(path));
  return script;
}

fs::path sqlite_directory() {
  static const fs::path dir = [] {
    const fs::path d = scratch("sqlite");
    std::string fill =
        "CREATE TABLE packs(number INTEGER PRIMARY KEY, name TEXT, path TEXT);"
        "CREATE TABLE setup(number INTEGER PRIMARY KEY, name TEXT, value TEXT);BEGIN;";
    for (int i = 1; i <= kPacks; ++i) {
      fill += "INSERT INTO packs VALUES(" + std::to_string(i) + ",'Pack " + std::to_string(i) +
              "','/srv/packs/" + std::to_string(i) + "');";
    }
    fill += "COMMIT;";
    run({"sqlite3", "packs.db", fill}, d);
    return d;
  }();
  return dir;
}

// The request names a pack in the middle of the table (found after 500 reads) or a new one.
void Update_Ferrule(benchmark::State& state) {
  const fs::path dir = ferrule_directory();
  const std::string exe = (build_dir() / "ferrule").string();
  for (auto _ : state) {
    state.PauseTiming();
    write_request(dir, "PACK 500", "/srv/packs/500");
    state.ResumeTiming();
    if (run({exe}, dir) != 0) state.SkipWithError("ferrule failed");
  }
}
BENCHMARK(Update_Ferrule)->Name("update/ferrule")->UseRealTime()->Unit(benchmark::kMillisecond);

void Update_Sqlite(benchmark::State& state) {
  const fs::path dir = sqlite_directory();
  const std::string script = sqlite_script("PACK 500", "/srv/packs/500");
  for (auto _ : state) {
    if (run({"sqlite3", "packs.db", script}, dir) != 0) state.SkipWithError("sqlite3 failed");
  }
}
BENCHMARK(Update_Sqlite)->Name("update/sqlite3")->UseRealTime()->Unit(benchmark::kMillisecond);

void Add_Ferrule(benchmark::State& state) {
  const fs::path dir = ferrule_directory();
  const std::string exe = (build_dir() / "ferrule").string();
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    write_request(dir, "New " + std::to_string(++n), "/srv/new");
    state.ResumeTiming();
    if (run({exe}, dir) != 0) state.SkipWithError("ferrule failed");
  }
}
BENCHMARK(Add_Ferrule)->Name("add/ferrule")->UseRealTime()->Unit(benchmark::kMillisecond);

void Add_Sqlite(benchmark::State& state) {
  const fs::path dir = sqlite_directory();
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string script = sqlite_script("New " + std::to_string(++n), "/srv/new");
    state.ResumeTiming();
    if (run({"sqlite3", "packs.db", script}, dir) != 0) state.SkipWithError("sqlite3 failed");
  }
}
BENCHMARK(Add_Sqlite)->Name("add/sqlite3")->UseRealTime()->Unit(benchmark::kMillisecond);

// Whole processes: the time that counts is the wall-clock time, which the ratio compares.
class RealTimeRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type == Run::RT_Aggregate) continue;
      // "<case>/<who>/real_time"
      const std::string name = run.run_name.str();
      const size_t slash = name.find('/');
      const size_t end = name.find('/', slash + 1);
      ms_[name.substr(0, slash)][name.substr(slash + 1, end - slash - 1)] =
          run.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-8s %12s %12s  %s\n", "case", "ferrule ms", "sqlite3 ms", "ferrule/sqlite3");
    for (const auto& [name, who] : ms_) {
      if (who.count("ferrule") == 0 || who.count("sqlite3") == 0) continue;
      std::printf("%-8s %12.2f %12.2f  %.2f\n", name.c_str(), who.at("ferrule"), who.at("sqlite3"),
                  who.at("ferrule") / who.at("sqlite3"));
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> ms_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RealTimeRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ignored;
  for (const fs::path& dir : made()) fs::remove_all(dir, ignored);
  return 0;
}
