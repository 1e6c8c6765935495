// twl export of a large table beside sqlite3 -csv on the same rows. The table is the one of the
// table benchmark (a LONG number, STRING(40) name, STRING(120) path, keyed by number), filled by
// APPEND in LOGOUT / COMMIT batches and BUILD; the SQLite file is made from it by twl export
// --sqlite. By default a few thousand records check that the CSV holds every record as written;
// with VTN_TWL_SPEED_RECORDS=1000000 the same run prints the CPU time of both exports and their
// ratio (the figures of docs/performance.md); VTN_TWL_SPEED_DIR keeps the files in that directory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

using testing_support::ChildResult;
using testing_support::run_child;

#pragma pack(push, 1)
struct PackRecord {
  int32_t number;
  char name[40];
  char path[120];
};
#pragma pack(pop)

std::string name_of(int32_t number) {
  return "pack " + std::to_string((number * 7919) % 1'000'003);
}
std::string path_of(int32_t number) {
  return "/srv/packs/" + std::to_string(number);
}

void make_table(const std::string& name, int32_t records) {
  File f{FileDeclaration("PNM")
             .driver(tarnwell_entry)
             .name(name)
             .create()
             .field("NUMBER", ftype::LONG)
             .field("NAME", ftype::STRING(40))
             .field("PATH", ftype::STRING(120))
             .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY)};
  CREATE(f);
  OPEN(f, 0x12);
  for (int32_t i = 1; i <= records; ++i) {
    if (i % 10000 == 1) LOGOUT(1, {f});  // a flush per batch, not per record
    PackRecord& r = f.record_as<PackRecord>();
    r.number = i;
    std::memset(r.name, ' ', sizeof r.name);
    std::memset(r.path, ' ', sizeof r.path);
    const std::string name = name_of(i), path = path_of(i);
    std::memcpy(r.name, name.data(), name.size());
    std::memcpy(r.path, path.data(), path.size());
    APPEND(f);
    if (i % 10000 == 0 || i == records) COMMIT();
  }
  BUILD(f.key("BY_NUMBER"));
  CLOSE(f);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
}

// CPU seconds (user + system) of the children reaped so far.
double children_cpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The CPU time of a shell command whose output goes to /dev/null (the best of three runs).
double cpu_of(const std::string& command) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const double before = children_cpu();
    const ChildResult result = run_child({"/bin/sh", "-c", command + " >/dev/null"});
    EXPECT_EQ(result.exit_code, 0) << command << "\n" << result.err;
    best = std::min(best, children_cpu() - before);
  }
  return best;
}

class TwlExportSpeedTest : public testing_support::ScratchDirectoryTest {};

TEST_F(TwlExportSpeedTest, ExportsEveryRecordAndComparesWithSqlite) {
  const char* wanted = std::getenv("VTN_TWL_SPEED_RECORDS");
  const int32_t records = wanted != nullptr && std::atoi(wanted) > 0 ? std::atoi(wanted) : 3000;
  const char* keep = std::getenv("VTN_TWL_SPEED_DIR");  // the files are made there and kept
  const std::string directory = keep != nullptr ? std::string(keep) : path(".");
  const std::string file = directory + "/PACKS.TWL";
  std::remove(file.c_str());
  make_table(file + "\\!PACKS", records);

  const ChildResult csv = run_child({VTN_TOOL_PATH, "export", "--key", "BY_NUMBER", file});
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  std::string expected = "\"PNM:NUMBER\",\"PNM:NAME\",\"PNM:PATH\"\r\n";
  for (int32_t i = 1; i <= records; ++i) {
    expected += std::to_string(i) + ",\"" + name_of(i) + "\",\"" + path_of(i) + "\"\r\n";
  }
  EXPECT_TRUE(csv.out == expected) << "the CSV differs from the records written";

  const std::string db = directory + "/packs.db";
  const ChildResult sqlite = run_child({VTN_TOOL_PATH, "export", "--sqlite", db, file});
  ASSERT_EQ(sqlite.exit_code, 0) << sqlite.err;
  const ChildResult count = run_child({"sqlite3", db, "SELECT count(*) FROM PACKS"});
  EXPECT_EQ(count.out, std::to_string(records) + "\n") << count.err;

  if (wanted == nullptr) return;
  const double ours = cpu_of(std::string(VTN_TOOL_PATH) + " export '" + file + "'");
  const double keyed =
      cpu_of(std::string(VTN_TOOL_PATH) + " export --key BY_NUMBER '" + file + "'");
  const double peer = cpu_of("sqlite3 -csv '" + db + "' 'SELECT * FROM PACKS'");
  std::printf(
      "%d records, CPU seconds: twl export %.3f, twl export --key %.3f, sqlite3 -csv %.3f; "
      "twl / sqlite3 = %.2f, with --key %.2f\n",
      records, ours, keyed, peer, ours / peer, keyed / peer);
}

}  // namespace
}  // namespace vtn
