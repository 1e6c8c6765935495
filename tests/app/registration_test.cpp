// ferrule as its users run it: the built executable in a scratch directory, its message boxes
// answered and logged, and the tables read back through the record-file driver afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/box_log.hpp"
#include "app/pack_files.hpp"
#include "app/program_procedure.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_functions.hpp"
#include "support/scratch_directory.hpp"

namespace ferrule {
namespace {

using testing_support::LoggedBox;
using testing_support::read_box_log;

std::filesystem::path ferrule_path() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "ferrule";
}

// A pack as the tests write and read it: texts in UTF-8, without trailing blanks.
struct Pack {
  int16_t number = 0;
  std::string name, path;
  bool operator==(const Pack&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Pack& p) {
  return out << "{" << p.number << ", \"" << p.name << "\", \"" << p.path << "\"}";
}

struct FerruleRun {
  int exit_code = -1;
  std::vector<LoggedBox> boxes;
  std::string stderr_text;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Registration : public vtn::testing_support::ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(ferrule_path())) << ferrule_path();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    current_ = std::filesystem::current_path().string();
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // The request, one comma-delimited line in 1251.
  void write_request(const std::string& name, const std::string& path) {
    write_raw_request("\"" + vtn::ansi(name) + "\",\"" + vtn::ansi(path) + "\"\r\n");
  }
  void write_raw_request(const std::string& bytes) {
    std::ofstream(path("Mossgate.ini"), std::ios::binary) << bytes;
  }
  bool request_waiting() const { return std::filesystem::exists(dir_ / "Mossgate.ini"); }

  // Fills the pack table (created when missing) through the driver.
  void seed_packs(const std::vector<Pack>& packs) { seed(pack_table(), packs); }
  void seed_settings(const std::vector<Pack>& records) { seed(settings_table(), records); }

  std::vector<Pack> read_packs() { return read_all(pack_table(), pack_by_number()); }
  std::vector<Pack> read_settings() { return read_all(settings_table(), settings_by_number()); }

  // Runs the built ferrule here with its boxes printed (the default button taken) and logged.
  FerruleRun run_ferrule() {
    const std::string log = (dir_ / ".." / (dir_.filename().string() + ".boxes")).string();
    const std::string err = log + ".err";
    std::filesystem::remove(log);
    std::string command =
        "cd '" + dir_.string() + "' && VTN_MSGBOX=stderr VTN_MSGBOX_LOG='" + log + "' ";
    command += "'" + ferrule_path().string() + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    FerruleRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.boxes = read_box_log(log);
    run.stderr_text = read_file(err);
    std::filesystem::remove(log);
    std::filesystem::remove(err);
    return run;
  }

  // Both tables pass the record-file checker.
  void expect_tables_sound() {
    for (const char* name : {"PACKNAME.TWL", "SETUP.TWL"}) {
      if (!std::filesystem::exists(dir_ / name)) continue;
      SCOPED_TRACE(name);
      vtn::tarnwell::RecordFile* file = nullptr;
      ASSERT_EQ(vtn::tarnwell::open_record_file(path(name), 0x40, "", file), 0);
      ASSERT_EQ(file->begin_access(vtn::tarnwell::AccessMode::read, true), 0);
      const vtn::tarnwell::CheckResult result = vtn::tarnwell::check_record_file(*file);
      EXPECT_TRUE(result.ok) << result.check_number << ": " << result.what;
      file->end_access();
      vtn::tarnwell::close_record_file(file);
    }
  }

  std::filesystem::path previous_;
  std::string current_;

 private:
  template <typename Record>
  static void fill(Record& r, const Pack& p) {
    r.number = p.number;
    r.name = vtn::ansi(p.name);
    if constexpr (requires { r.path; }) {
      r.path = vtn::ansi(p.path);
    } else {
      r.value = vtn::ansi(p.path);
    }
  }

  void seed(vtn::File& file, const std::vector<Pack>& records) {
    vtn::OPEN(file, vtn::kReadWriteDenyNone);
    if (vtn::ERRORNUMBER() == 2) {
      vtn::CREATE(file);
      ASSERT_EQ(vtn::ERRORNUMBER(), 0) << vtn::ERRORTEXT();
      vtn::OPEN(file, vtn::kReadWriteDenyNone);
    }
    ASSERT_EQ(vtn::ERRORNUMBER(), 0) << vtn::ERRORTEXT();
    for (const Pack& p : records) {
      file.clear();
      if (&file == &pack_table()) {
        fill(pack_record(), p);
      } else {
        fill(settings_record(), p);
      }
      vtn::ADD(file);
      ASSERT_EQ(vtn::ERRORNUMBER(), 0) << vtn::ERRORTEXT();
    }
    vtn::CLOSE(file);
  }

  std::vector<Pack> read_all(vtn::File& file, vtn::KeyBlock& key) {
    std::vector<Pack> out;
    vtn::OPEN(file, 0x40);
    if (vtn::ERRORNUMBER() != 0) {
      ADD_FAILURE() << "cannot open " << vtn::NAME(file) << ": " << vtn::ERRORNUMBER();
      return out;
    }
    vtn::SET(key);
    while (true) {
      vtn::NEXT(file);
      if (vtn::ERRORNUMBER() != 0) break;
      const char* r = file.record();
      int16_t number;
      std::memcpy(&number, r, 2);
      out.push_back({number, vtn::platform::ansi_to_utf8(vtn::clip({r + 2, 40})),
                     vtn::platform::ansi_to_utf8(vtn::clip({r + 42, 120}))});
    }
    vtn::CLOSE(file);
    return out;
  }
};

TEST_F(Registration, MissingFilesAreCreatedSilentlyAndAnEmptyRequestWritesBlankSettings) {
  const FerruleRun run = run_ferrule();
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.stderr_text, "");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "PACKNAME.TWL"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "SETUP.TWL"));
  EXPECT_FALSE(request_waiting());
  EXPECT_EQ(read_packs(), std::vector<Pack>{});
  EXPECT_EQ(read_settings(), (std::vector<Pack>{{1, "", ""}}));
  expect_tables_sound();
}

// One request against a pack table as it stands: what the table and settings record 1 hold
// afterwards.
TEST_F(Registration, TheRequestMergedIntoThePackTable) {
  struct Case {
    const char* what;
    std::vector<Pack> before;
    std::string name, path;  // the request; a path beginning "./" lies below the directory
    std::vector<Pack> after;
    Pack current;
  };
  const Case cases[] = {
      {"empty table",
       {},
       "Северный",
       "/data/north",
       {{1, "Северный", "/data/north"}},
       {1, "Северный", "/data/north"}},
      {"highest is 7, gaps below",
       {{2, "A", "a"}, {7, "B", "b"}, {3, "C", "c"}},
       "New",
       "n",
       {{2, "A", "a"}, {3, "C", "c"}, {7, "B", "b"}, {8, "New", "n"}},
       {8, "New", "n"}},
      {"case differs: respelled, nothing added",
       {{4, "пакет один", "old"}},
       "ПАКЕТ Один",
       "new",
       {{4, "ПАКЕТ Один", "new"}},
       {4, "ПАКЕТ Один", "new"}},
      {"prefix is another pack",
       {{1, "Alpha", "a"}},
       "Alp",
       "p",
       {{1, "Alpha", "a"}, {2, "Alp", "p"}},
       {2, "Alp", "p"}},
      {"lowest number wins",
       {{3, "Dup", "three"}, {5, "dup", "five"}},
       "DUP",
       "x",
       {{3, "DUP", "x"}, {5, "dup", "five"}},
       {3, "DUP", "x"}},
      {"the 16-bit wrap",
       {{32767, "Last", "l"}},
       "Wrapped",
       "w",
       {{-32768, "Wrapped", "w"}, {32767, "Last", "l"}},
       {-32768, "Wrapped", "w"}},
      {"blank path, update keeps the stored path",
       {{1, "Keep", "kept/path"}},
       "keep",
       "",
       {{1, "keep", "kept/path"}},
       {1, "keep", "kept/path"}},
      {"blank path, new pack takes the last record's path",
       {{1, "A", "first"}, {2, "B", "second"}},
       "C",
       "",
       {{1, "A", "first"}, {2, "B", "second"}, {3, "C", "second"}},
       {3, "C", "second"}},
      {"blank path, empty table", {}, "Only", "", {{1, "Only", ""}}, {1, "Only", ""}},
      {"below the current directory",
       {},
       "Rel",
       "./packs/one",
       {{1, "Rel", "packs/one"}},
       {1, "Rel", "packs/one"}},
      {"beside the current directory",
       {},
       "Beside",
       "@2/x",
       {{1, "Beside", "@2/x"}},
       {1, "Beside", "@2/x"}},
      {"a Windows path",
       {},
       "Win",
       "C:\\PACKS\\ONE",
       {{1, "Win", "C:\\PACKS\\ONE"}},
       {1, "Win", "C:\\PACKS\\ONE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"PACKNAME.TWL", "SETUP.TWL"}) std::filesystem::remove(dir_ / name);
    seed_packs(c.before);
    // "./x" stands for the current directory followed by "/x", "@x" for its text followed by "x".
    auto expand = [&](const std::string& p) {
      if (p.starts_with("./")) return current_ + p.substr(1);
      if (p.starts_with("@")) return current_ + p.substr(1);
      return p;
    };
    const std::string request_path = expand(c.path);
    write_request(c.name, request_path);
    const FerruleRun run = run_ferrule();
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.boxes.empty()) << run.boxes.front().text;
    EXPECT_FALSE(request_waiting());
    std::vector<Pack> after = c.after;
    for (Pack& p : after) p.path = expand(p.path);
    Pack current = c.current;
    current.number = 1;  // settings record 1
    current.path = expand(current.path);
    EXPECT_EQ(read_packs(), after);
    EXPECT_EQ(read_settings(), std::vector<Pack>{current});
    expect_tables_sound();
  }
}

TEST_F(Registration, SettingsRecordOneIsRewrittenAndOthersAreLeftAlone) {
  seed_settings({{1, "Old", "old"}, {2, "Other setting", "value"}});
  write_request("Fresh", "fresh");
  EXPECT_EQ(run_ferrule().exit_code, 0);
  EXPECT_EQ(read_settings(),
            (std::vector<Pack>{{1, "Fresh", "fresh"}, {2, "Other setting", "value"}}));
}

TEST_F(Registration, OnlyTheFirstRequestCountsAndTheFileGoes) {
  write_raw_request("\"First\",\"one\"\r\n\"Second\",\"two\"\r\n");
  EXPECT_EQ(run_ferrule().exit_code, 0);
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{1, "First", "one"}}));
  EXPECT_FALSE(request_waiting());
}

// The request is read as the system's texts are, in 1251.
TEST_F(Registration, TheRequestIsReadInWindows1251) {
  write_raw_request("\"\xCF\xE0\xEA\xE5\xF2\",\"\xEF\xF3\xF2\xFC\"\r\n");  // "Пакет","путь"
  EXPECT_EQ(run_ferrule().exit_code, 0);
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{1, "Пакет", "путь"}}));
}

// A pack record that cannot be written: after the wrap the next number is taken. The run shows
// warning 14 with the error, leaves the settings and keeps the request.
TEST_F(Registration, AFailedAddKeepsTheRequestAndTheSettings) {
  seed_packs({{-32768, "Wrapped", "w"}, {32767, "Last", "l"}});
  seed_settings({{1, "Last", "l"}});
  write_request("Another", "a");
  const FerruleRun run = run_ferrule();
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, "Ошибка при добавлении записи");
  EXPECT_EQ(run.boxes[0].text,
            "Возникла ошибка при попытке обновления записи.  Ошибка: Недопустимое повторение "
            "ключа (40).");
  EXPECT_TRUE(request_waiting());
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{-32768, "Wrapped", "w"}, {32767, "Last", "l"}}));
  EXPECT_EQ(read_settings(), (std::vector<Pack>{{1, "Last", "l"}}));
  expect_tables_sound();
}

// The pack record is held by another process: PUT fails with 5. The run shows warning 31 with the
// error, leaves the settings and keeps the request; once the hold is gone the request goes through.
TEST_F(Registration, AFailedPutOfAHeldRecordKeepsTheRequest) {
  seed_packs({{1, "North", "n"}, {2, "East", "old"}});
  seed_settings({{1, "North", "n"}});
  write_request("EAST", "e");
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  std::fflush(nullptr);
  const pid_t holder = fork();
  if (holder == 0) {
    vtn::OPEN(pack_table(), vtn::kReadWriteDenyNone);
    vtn::HOLD(pack_table());
    pack_record().number = 2;
    vtn::GET(pack_table(), pack_by_number());
    char c = vtn::ERRORNUMBER() == 0 ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  const FerruleRun run = run_ferrule();
  (void)!write(release[1], "x", 1);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, "Ошибка в процессе записи");
  EXPECT_EQ(run.boxes[0].text,
            "Возникла ошибка при записи изменений в файл PACKNAME.  Ошибка: Нет доступа (5)");
  EXPECT_TRUE(request_waiting());
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{1, "North", "n"}, {2, "East", "old"}}));
  EXPECT_EQ(read_settings(), (std::vector<Pack>{{1, "North", "n"}}));
  EXPECT_EQ(run_ferrule().exit_code, 0);
  EXPECT_FALSE(request_waiting());
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{1, "North", "n"}, {2, "EAST", "e"}}));
  EXPECT_EQ(read_settings(), (std::vector<Pack>{{1, "EAST", "e"}}));
  expect_tables_sound();
}

// Files that cannot be opened: the warning, its error, and the end of the program.
TEST_F(Registration, FilesThatCannotBeOpened) {
  // Access denied: the table is something that is not a file.
  ASSERT_EQ(mkfifo(path("SETUP.TWL").c_str(), 0600), 0);
  write_request("Pack", "p");
  FerruleRun run = run_ferrule();
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].caption, "Ошибка при доступе к файлу");
  EXPECT_EQ(run.boxes[0].text, "Файл(SETUP) не может быть открыт.  Ошибка: Нет доступа (5).");
  EXPECT_EQ(run.boxes[1].caption, "Halt");
  EXPECT_EQ(run.boxes[1].text, "Disk Error");
  EXPECT_TRUE(request_waiting());
  std::filesystem::remove(dir_ / "SETUP.TWL");

  // Another structure under the same name: warning 1 with the utility's text for 47.
  {
    vtn::File other{vtn::FileDeclaration("OTH")
                        .driver(vtn::tarnwell_entry)
                        .name("SETUP")
                        .create()
                        .field("CODE", vtn::ftype::LONG)
                        .key("BY_CODE", {"CODE"}, vtn::KA_PRIMARY)};
    vtn::CREATE(other);
    ASSERT_EQ(vtn::ERRORNUMBER(), 0);
  }
  run = run_ferrule();
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].caption, "Файл неправильной структуры");
  EXPECT_EQ(run.boxes[0].text,
            "Файл Неверная структура файла (47) не соответствует описанию. Нажмите OK для "
            "завершения программы.");
  EXPECT_EQ(run.boxes[1].text, "Неправильная структура файла!");
  EXPECT_TRUE(request_waiting());
}

// A file that another process keeps to itself: the record-file driver reports the refused open
// as 5, and the program ends with warning 30.
TEST_F(Registration, AFileLockedByAnotherProcess) {
  seed_packs({{1, "A", "a"}});
  write_request("B", "b");
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    vtn::platform::FileHandle h;
    const bool ok = h.open(path("PACKNAME.TWL"), {vtn::platform::FileAccess::kReadWrite,
                                                  vtn::platform::FileSharing::kExclusive});
    char c = ok ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  const FerruleRun run = run_ferrule();
  (void)!write(release[1], "x", 1);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].caption, "Ошибка при доступе к файлу");
  EXPECT_EQ(run.boxes[0].text, "Файл(PACKNAME) не может быть открыт.  Ошибка: Нет доступа (5).");
  EXPECT_EQ(run.boxes[1].text, "Disk Error");
  EXPECT_TRUE(request_waiting());
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{1, "A", "a"}}));
  // Once the holder is gone the same request goes through.
  EXPECT_EQ(run_ferrule().exit_code, 0);
  EXPECT_EQ(read_packs(), (std::vector<Pack>{{1, "A", "a"}, {2, "B", "b"}}));
}

// The system calls through which a registration changes what is on disk.
constexpr const char* kDurableCalls[] = {"pwrite64", "fdatasync", "ftruncate", "unlink",
                                         "unlinkat", "rename",    "renameat",  "renameat2"};

bool have_strace() {
  return std::system("strace -V >/dev/null 2>&1") == 0;
}

// A crash at every change a registration makes on disk, in turn: ferrule is killed (SIGKILL, by
// strace's fault injection) as it enters the n-th call of each kind. Afterwards both tables pass
// the checker, and either the request is registered and gone, or it is still waiting and the
// next run registers it: the tables end up the same either way.
TEST_F(Registration, ACrashAtEveryDurableWriteLosesNothing) {
  if (!have_strace()) GTEST_SKIP() << "strace is needed to kill ferrule inside its writes";
  const std::vector<Pack> packs_before = {{1, "North", "n"}, {2, "South", "s"}};
  const std::vector<Pack> packs_after = {{1, "North", "n"}, {2, "South", "s"}, {3, "East", "e"}};
  const std::filesystem::path seed = dir_ / "seed";
  std::filesystem::create_directory(seed);
  std::filesystem::current_path(seed);
  const std::filesystem::path saved_dir = dir_;
  dir_ = seed;
  seed_packs(packs_before);
  seed_settings({{1, "South", "s"}});
  write_request("East", "e");
  dir_ = saved_dir;
  std::filesystem::current_path(dir_);

  const std::filesystem::path work = dir_ / "work";
  auto fresh_copy = [&] {
    std::filesystem::remove_all(work);
    std::filesystem::copy(seed, work);
  };
  auto run_in_work = [&](const std::string& prefix) {
    const std::string command = "cd '" + work.string() + "' && VTN_MSGBOX=stderr " + prefix + " '" +
                                ferrule_path().string() + "' >/dev/null 2>&1";
    return std::system(command.c_str());
  };

  // How many calls of each kind a whole registration makes.
  fresh_copy();
  const std::string trace_file = (dir_ / "calls.txt").string();
  std::string kinds;
  for (const char* call : kDurableCalls) kinds += std::string(kinds.empty() ? "" : ",") + call;
  ASSERT_EQ(run_in_work("strace -f -qq -o '" + trace_file + "' -e trace=" + kinds), 0);
  const std::string calls = read_file(trace_file);

  int points = 0;
  for (const char* call : kDurableCalls) {
    const std::string needle = std::string(" ") + call + "(";
    int count = 0;
    for (size_t at = calls.find(needle); at != std::string::npos; at = calls.find(needle, at + 1)) {
      ++count;
    }
    for (int n = 1; n <= count; ++n) {
      SCOPED_TRACE(std::string(call) + " #" + std::to_string(n));
      ++points;
      fresh_copy();
      const int status =
          run_in_work("strace -f -qq -o /dev/null -e trace=" + std::string(call) +
                      " -e inject=" + call + ":signal=KILL:when=" + std::to_string(n));
      EXPECT_NE(status, 0);  // killed
      const std::filesystem::path here = dir_;
      dir_ = work;
      std::filesystem::current_path(work);
      expect_tables_sound();
      if (request_waiting()) {
        EXPECT_EQ(run_ferrule().exit_code, 0);
        EXPECT_FALSE(request_waiting());
      }
      EXPECT_EQ(read_packs(), packs_after);
      EXPECT_EQ(read_settings(), (std::vector<Pack>{{1, "East", "e"}}));
      expect_tables_sound();
      dir_ = here;
      std::filesystem::current_path(here);
    }
  }
  std::cout << "[ crash points tested: " << points << " ]\n";
  EXPECT_GT(points, 3);
}

// Two runs started at once on one request: no damage, and the pack is registered once. The
// second run either finds the pack the first one added and updates it, or finds no request
// (the first took it) and writes blank settings, as any run without a request does.
TEST_F(Registration, TwoRunsAtOnce) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    for (const char* name : {"PACKNAME.TWL", "SETUP.TWL", "Mossgate.ini"}) {
      std::filesystem::remove(dir_ / name);
    }
    seed_packs({{1, "North", "n"}});
    write_request("East", "e");
    const std::string command = "cd '" + dir_.string() + "' && (VTN_MSGBOX=stderr '" +
                                ferrule_path().string() + "' 2>>runs.err & VTN_MSGBOX=stderr '" +
                                ferrule_path().string() + "' 2>>runs.err & wait)";
    ASSERT_EQ(std::system(command.c_str()), 0);
    expect_tables_sound();
    const std::vector<Pack> packs = read_packs();
    EXPECT_EQ(packs, (std::vector<Pack>{{1, "North", "n"}, {2, "East", "e"}}));
    const std::vector<Pack> settings = read_settings();
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_TRUE(settings[0] == (Pack{1, "East", "e"}) || settings[0] == (Pack{1, "", ""}))
        << settings[0];
    if (request_waiting()) {  // the one run could not delete it while the other had it open
      EXPECT_EQ(run_ferrule().exit_code, 0);
      EXPECT_EQ(read_packs(), packs);
    }
  }
}

// A damaged page: OPEN fails with 90, and the warning quotes the driver's own message and check
// number instead of the general text of 90.
TEST_F(Registration, ADamagedTableShowsTheDriversOwnError) {
  seed_packs({{1, "North", "n"}, {2, "South", "s"}});
  write_request("East", "e");
  {
    std::fstream f(path("PACKNAME.TWL"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x20A);  // the record count of the first page
    f.write("\x5A\xA5\x5A\xA5", 4);
  }
  const FerruleRun run = run_ferrule();
  EXPECT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].caption, "Ошибка при доступе к файлу");
  EXPECT_TRUE(std::regex_match(run.boxes[0].text,
                               std::regex("Файл\\(PACKNAME\\) не может быть открыт\\.  Ошибка: "
                                          "Possible data corruption in file \\([1-9][0-9]*\\)\\.")))
      << run.boxes[0].text;
  EXPECT_EQ(run.boxes[1].text, "Disk Error");
  EXPECT_TRUE(request_waiting());
}

// Every write of a registration fails in turn (a full disk at that write). A failure is never
// taken for success: either everything is registered and the request is gone, or a warning was
// shown, the settings are as they were and the request is still waiting; the tables stay sound,
// and the next run registers the request.
TEST_F(Registration, AFailedWriteAnywhereIsShownAndTheRequestKept) {
  struct Case {
    const char* what;
    std::vector<Pack> before;
    const char* caption;  // of the warning when the pack record's write fails
  };
  const Case cases[] = {
      {"update", {{1, "North", "n"}, {2, "East", "old"}}, "Ошибка в процессе записи"},
      {"addition", {{1, "North", "n"}}, "Ошибка при добавлении записи"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Pack> after = c.before;
    if (after.back().name == "East") {
      after.back().path = "e";
    } else {
      after.push_back({2, "East", "e"});
    }
    int failures_shown = 0;
    for (uint32_t n = 1;; ++n) {
      SCOPED_TRACE("write #" + std::to_string(n));
      for (const char* name : {"PACKNAME.TWL", "SETUP.TWL", "Mossgate.ini"}) {
        std::filesystem::remove(dir_ / name);
      }
      seed_packs(c.before);
      seed_settings({{1, "North", "n"}});
      write_request("East", "e");
      const std::string log = path("boxes.log");
      std::filesystem::remove(log);
      std::fflush(nullptr);
      const pid_t pid = fork();
      if (pid == 0) {
        setenv("VTN_MSGBOX", "stderr", 1);
        setenv("VTN_MSGBOX_LOG", log.c_str(), 1);
        std::freopen("/dev/null", "w", stderr);
        vtn::platform::fault::Plan plan;
        plan.fail_write = n;
        vtn::platform::fault::arm(plan);
        ProgramProcedure();
        const bool reached = vtn::platform::fault::writes_seen() >= n;
        vtn::platform::fault::disarm();
        _exit(reached ? 0 : 7);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      const std::vector<LoggedBox> boxes = read_box_log(log);
      std::filesystem::remove(log);
      expect_tables_sound();
      if (WEXITSTATUS(status) == 7) {  // the run made fewer than n writes: all were tried
        EXPECT_TRUE(boxes.empty());
        EXPECT_FALSE(request_waiting());
        EXPECT_EQ(read_packs(), after);
        EXPECT_GT(n, 1u);
        break;
      }
      if (request_waiting()) {
        ASSERT_EQ(boxes.size(), 1u) << "the request was kept without a word";
        ++failures_shown;
        const std::vector<Pack> settings = read_settings();
        if (boxes[0].text.find("SETUP") == std::string::npos) {
          // The pack record failed: the settings were not touched.
          EXPECT_EQ(boxes[0].caption, c.caption);
          EXPECT_EQ(settings, (std::vector<Pack>{{1, "North", "n"}}));
        } else {
          // The settings record failed. A write that fails after the table committed the
          // change reports the failure although the change stays: either state is sound.
          EXPECT_EQ(boxes[0].caption, "Ошибка в процессе записи");
          EXPECT_TRUE(settings == (std::vector<Pack>{{1, "North", "n"}}) ||
                      settings == (std::vector<Pack>{{1, "East", "e"}}));
        }
        EXPECT_EQ(run_ferrule().exit_code, 0);
        EXPECT_FALSE(request_waiting());
      }
      EXPECT_EQ(read_packs(), after);
      EXPECT_EQ(read_settings(), (std::vector<Pack>{{1, "East", "e"}}));
      ASSERT_LT(n, 200u);
    }
    EXPECT_GT(failures_shown, 0);
  }
}

}  // namespace
}  // namespace ferrule
