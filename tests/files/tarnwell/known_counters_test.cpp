// An ADD keeps the table's counters in memory from one ADD to the next, trusting them only while
// the file changed through nothing else. Each step below changes the table through one instance,
// a second instance of the same table, or another process; after every step the counts that
// RECORDS reports must match a model, so that a counter kept past a change elsewhere (another
// process's ADD, a ROLLBACK, a DELETE through another instance, a refused ADD) shows up as a
// wrong count.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

constexpr uint32_t kShared = 0x42;  // read and write, deny none

#pragma pack(push, 1)
struct Item {
  int32_t id;
  char name[8];
};
#pragma pack(pop)

// BY_NAME (duplicates) comes first, so that an ADD refused by BY_ID has an entry to take back.
FileDeclaration items(const std::string& name) {
  return FileDeclaration("ITM")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .field("ID", ftype::LONG)
      .field("NAME", ftype::STRING(8))
      .key("BY_NAME", {"NAME"}, KA_DUP)
      .key("BY_ID", {"ID"}, KA_PRIMARY);
}

void set_item(File& f, int32_t id, const char* prefix = "n") {
  Item& r = f.record_as<Item>();
  r.id = id;
  std::memset(r.name, ' ', sizeof r.name);
  const std::string text = prefix + std::to_string(id % 5);  // names repeat: duplicates
  std::memcpy(r.name, text.data(), text.size());
}

enum class Who { a, b, a_alone, other_process };  // a_alone: the file opened exclusively
// add_run, append_run: kRun ADDs (APPENDs) in a row from `id` on, with nothing in between.
enum class Act { add, add_run, append, append_run, erase, rename, logout, rollback, commit, build };
constexpr int32_t kRun = 50;

struct Step {
  const char* what;
  Who who;
  Act act;
  int32_t id;
  int32_t expect_error;
};

struct Counts {
  int32_t records = 0, by_name = 0, by_id = 0;
  bool operator==(const Counts&) const = default;
};

// The change one step makes to the counts when it succeeds.
void apply(Counts& c, Act act, Counts& before_logout) {
  switch (act) {
    case Act::add:
      ++c.records, ++c.by_name, ++c.by_id;
      break;
    case Act::add_run:
      c.records += kRun, c.by_name += kRun, c.by_id += kRun;
      break;
    case Act::append:  // no entries: the keys go stale
      ++c.records;
      break;
    case Act::append_run:
      c.records += kRun;
      break;
    case Act::erase:
      --c.records, --c.by_name, --c.by_id;
      break;
    case Act::logout:
      before_logout = c;
      break;
    case Act::rollback:
      c = before_logout;
      break;
    case Act::build:
      c.by_name = c.by_id = c.records;
      break;
    case Act::rename:
    case Act::commit:
      break;
  }
}

// Does `act` through `f`; the error number.
int32_t perform(File& f, Act act, int32_t id) {
  switch (act) {
    case Act::add:
      set_item(f, id);
      ADD(f);
      break;
    case Act::add_run:
    case Act::append_run:
      for (int32_t n = id; n < id + kRun; ++n) {
        set_item(f, n);
        if (act == Act::add_run)
          ADD(f);
        else
          APPEND(f);
        if (ERRORNUMBER() != 0) break;
      }
      break;
    case Act::append:
      set_item(f, id);
      APPEND(f);
      break;
    case Act::erase:
    case Act::rename:
      f.record_as<Item>().id = id;
      GET(f, f.key("BY_ID"));
      if (ERRORNUMBER() != 0) return ERRORNUMBER();
      if (act == Act::erase) {
        DELETE(f);
      } else {
        set_item(f, id, "r");
        PUT(f);
      }
      break;
    case Act::logout:
      LOGOUT(0, {f});
      break;
    case Act::rollback:
      ROLLBACK();
      break;
    case Act::commit:
      COMMIT();
      break;
    case Act::build:
      BUILD(f);
      break;
  }
  return ERRORNUMBER();
}

Counts counts_of(File& f) {
  Counts c;
  c.records = RECORDS(f);
  c.by_name = RECORDS(f.key("BY_NAME"));
  c.by_id = RECORDS(f.key("BY_ID"));
  return c;
}

class KnownCountersTest : public testing_support::ScratchDirectoryTest {
 protected:
  KnownCountersTest() : name_(path("items.twl")), a_(items(name_)), b_(items(name_)) {
    CREATE(a_);
    OPEN(a_, kShared);
    OPEN(b_, kShared);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }
  ~KnownCountersTest() override {
    CLOSE(a_);
    CLOSE(b_);
  }

  // The step done by another process, which opens the file afresh: a forked child shares the
  // parent's open file (and its locks) until it closes it.
  int32_t in_other_process(Act act, int32_t id) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      CLOSE(a_);
      CLOSE(b_);
      File f{items(name_)};
      OPEN(f, kShared);
      int32_t result = ERRORNUMBER();
      if (result == 0) result = perform(f, act, id);
      CLOSE(f);
      _exit(result);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }

  std::string name_;
  File a_, b_;
};

TEST_F(KnownCountersTest, CountsStayRightWhateverChangedTheTableBetweenAdds) {
  const Step steps[] = {
      {"first ADD", Who::a, Act::add, 1, 0},
      {"ADD with counters known", Who::a, Act::add, 2, 0},
      {"ADD by another process", Who::other_process, Act::add, 3, 0},
      {"ADD after the other process's ADD", Who::a, Act::add, 4, 0},
      {"ADD through a second instance", Who::b, Act::add, 5, 0},
      {"ADD after the second instance's ADD", Who::a, Act::add, 6, 0},
      {"ADD of a taken id, refused", Who::a, Act::add, 1, 40},
      {"ADD after the refused one", Who::a, Act::add, 7, 0},
      {"LOGOUT", Who::a, Act::logout, 0, 0},
      {"ADD inside the transaction", Who::a, Act::add, 8, 0},
      {"second ADD inside the transaction", Who::a, Act::add, 9, 0},
      {"ROLLBACK", Who::a, Act::rollback, 0, 0},
      {"ADD after the ROLLBACK", Who::a, Act::add, 10, 0},
      {"DELETE by another process", Who::other_process, Act::erase, 2, 0},
      {"ADD after the other process's DELETE", Who::a, Act::add, 11, 0},
      {"PUT with a new name", Who::a, Act::rename, 4, 0},
      {"ADD after the PUT", Who::a, Act::add, 12, 0},
      {"DELETE through the second instance", Who::b, Act::erase, 12, 0},
      {"ADD after the second instance's DELETE", Who::a, Act::add, 13, 0},
      {"APPEND", Who::a, Act::append, 14, 0},
      {"ADD after the APPEND", Who::a, Act::add, 15, 0},
      {"BUILD, the file reopened exclusively", Who::a_alone, Act::build, 0, 0},
      {"ADD after the BUILD", Who::b, Act::add, 16, 0},
      {"LOGOUT again", Who::a, Act::logout, 0, 0},
      {"ADD inside the second transaction", Who::a, Act::add, 17, 0},
      {"COMMIT", Who::a, Act::commit, 0, 0},
      {"ADD by another process after the COMMIT", Who::other_process, Act::add, 18, 0},
      {"ADD after all of it", Who::a, Act::add, 19, 0},
      // Inside a transaction an ADD's counts wait in the instance until another operation.
      {"LOGOUT for runs of ADDs", Who::a, Act::logout, 0, 0},
      {"a run of ADDs", Who::a, Act::add_run, 100, 0},
      {"ADD through the second instance after the run", Who::b, Act::add, 150, 0},
      {"a run of ADDs through the second instance", Who::b, Act::add_run, 151, 0},
      {"ADD after the second instance's run", Who::a, Act::add, 201, 0},
      {"another run of ADDs", Who::a, Act::add_run, 202, 0},
      {"ADD of a taken id after the run, refused", Who::a, Act::add, 150, 40},
      {"a run after the refused ADD", Who::a, Act::add_run, 252, 0},
      {"DELETE after the run", Who::a, Act::erase, 260, 0},
      {"a run after the DELETE", Who::a, Act::add_run, 302, 0},
      {"APPEND after the run (the keys' stale marks written)", Who::a, Act::append, 500, 0},
      {"a run after the APPEND", Who::a, Act::add_run, 501, 0},
      {"a run of APPENDs", Who::a, Act::append_run, 551, 0},
      {"a run of ADDs after the APPENDs", Who::a, Act::add_run, 601, 0},
      {"COMMIT of the runs", Who::a, Act::commit, 0, 0},
      {"ADD by another process after the runs", Who::other_process, Act::add, 352, 0},
      {"LOGOUT for a run rolled back", Who::a, Act::logout, 0, 0},
      {"a run of ADDs to be rolled back", Who::a, Act::add_run, 400, 0},
      {"ROLLBACK of the run", Who::a, Act::rollback, 0, 0},
      {"a run after the ROLLBACK, no transaction", Who::a, Act::add_run, 400, 0},
      {"LOGOUT for a run left by CLOSE", Who::b, Act::logout, 0, 0},
      {"a run through the second instance", Who::b, Act::add_run, 450, 0},
      {"COMMIT after the second instance's run", Who::a, Act::commit, 0, 0},
  };
  Counts model, before_logout;
  for (const Step& s : steps) {
    int32_t error = 0;
    switch (s.who) {
      case Who::a:
        error = perform(a_, s.act, s.id);
        break;
      case Who::b:
        error = perform(b_, s.act, s.id);
        break;
      case Who::a_alone:
        CLOSE(b_);
        CLOSE(a_);
        OPEN(a_, 0x12);
        error = perform(a_, s.act, s.id);
        CLOSE(a_);
        OPEN(a_, kShared);
        OPEN(b_, kShared);
        break;
      case Who::other_process:
        error = in_other_process(s.act, s.id);
        break;
    }
    ASSERT_EQ(error, s.expect_error) << s.what << ": " << ERRORTEXT();
    if (error == 0) apply(model, s.act, before_logout);
    EXPECT_EQ(counts_of(a_), model) << s.what << " (as the first instance sees it)";
    EXPECT_EQ(counts_of(b_), model) << s.what << " (as the second instance sees it)";
  }
  // The file as a fresh program finds it: as many records in BY_ID order as counted.
  CLOSE(a_);
  CLOSE(b_);
  File f{items(name_)};
  OPEN(f, kShared);
  int32_t walked = 0;
  SET(f.key("BY_ID"));
  for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) ++walked;
  EXPECT_EQ(walked, model.by_id);
  EXPECT_EQ(counts_of(f), model);
  CLOSE(f);
  OPEN(a_, kShared);
  OPEN(b_, kShared);
}

// Counts waiting in one thread's transaction belong to that thread's file: another thread working
// on another file at the same time never writes them, and both files count right.
TEST_F(KnownCountersTest, AnotherThreadOnAnotherFileLeavesTheWaitingCountsAlone) {
  const std::string other = path("other.twl");
  constexpr int32_t kAdds = 400, kOtherAdds = 60;
  int32_t in_transaction = -1, outside = -1;
  std::thread adding([&] {
    LOGOUT(0, {a_});
    for (int32_t id = 1; id <= kAdds && ERRORNUMBER() == 0; ++id) {
      set_item(a_, id);
      ADD(a_);
    }
    COMMIT();
    in_transaction = ERRORNUMBER() == 0 ? RECORDS(a_) : -ERRORNUMBER();
  });
  std::thread elsewhere([&] {
    File f{items(other)};
    CREATE(f);
    OPEN(f, kShared);
    for (int32_t id = 1; id <= kOtherAdds && ERRORNUMBER() == 0; ++id) {
      set_item(f, id);
      ADD(f);
      f.record_as<Item>().id = id;
      GET(f, f.key("BY_ID"));
    }
    outside = ERRORNUMBER() == 0 ? RECORDS(f) : -ERRORNUMBER();
    CLOSE(f);
  });
  adding.join();
  elsewhere.join();
  EXPECT_EQ(in_transaction, kAdds);
  EXPECT_EQ(outside, kOtherAdds);
  EXPECT_EQ(counts_of(a_), (Counts{kAdds, kAdds, kAdds}));
}

}  // namespace
}  // namespace vtn
