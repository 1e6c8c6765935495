// twl recover on the files of a transaction over two record files whose COMMIT a crash cut short.
// A child process commits a change to both files and "loses power" at its n-th write or durable
// flush (this program puts its own pwrite and fdatasync in front of the C library's; the fault
// injector undoes every write not yet made durable), for every n in turn. twl recover then says
// whether the log of the first file belongs to a transaction that never committed (abandon) or
// one that did (apply), does it, and both files show the change together or not at all.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/values/error_state.hpp"
#include "support/crash_point.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

using testing_support::ChildResult;
using testing_support::run_child;
namespace fs = std::filesystem;

ChildResult twl(std::vector<std::string> args) {
  args.insert(args.begin(), VTN_TOOL_PATH);
  return run_child(args);
}

#pragma pack(push, 1)
struct Pair {
  int32_t number;
  int32_t value;
};
#pragma pack(pop)

FileDeclaration pairs(const std::string& name) {
  return FileDeclaration("PR")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .field("NUMBER", ftype::LONG)
      .field("VALUE", ftype::LONG)
      .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY);
}

class TwlRecoverTransactionTest : public testing_support::ScratchDirectoryTest {
 protected:
  std::string a_ = path("A.TWL"), b_ = path("B.TWL");

  // A holds record (1, 100), B is empty.
  void make_files() {
    for (const std::string& name : {a_, b_}) {
      File f{pairs(name + "\\!PAIRS")};
      CREATE(f);
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
      if (name == a_) {
        OPEN(f, 0x42);
        f.record_as<Pair>() = {1, 100};
        ADD(f);
        ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
        CLOSE(f);
      }
    }
  }

  // In a child process: A's record becomes (1, 70) and B gets (1, 30), committed together; the
  // child crashes at its `crash_at`-th write or flush of the COMMIT. Returns its exit status.
  int commit_in_child(uint32_t crash_at) {
    const pid_t child = fork();
    if (child == 0) {
      platform::fault::arm({});  // journals the handles opened from now on
      File a{pairs(a_ + "\\!PAIRS")}, b{pairs(b_ + "\\!PAIRS")};
      SHARE(a);
      SHARE(b);
      LOGOUT(1, {a, b});
      a.record_as<Pair>().number = 1;
      GET(a, a.key("BY_NUMBER"));
      a.record_as<Pair>().value = 70;
      PUT(a);
      b.record_as<Pair>() = {1, 30};
      ADD(b);
      if (ERRORNUMBER() != 0) _exit(1);
      g_crash_at = crash_at;
      g_counting = true;
      COMMIT();
      g_counting = false;
      _exit(ERRORNUMBER() == 0 ? 0 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(TwlRecoverTransactionTest, EveryCrashOfACommitIsAppliedOrAbandonedOnBothFiles) {
  make_files();
  const std::string pristine = path("pristine");
  fs::create_directory(pristine);
  fs::copy_file(a_, pristine + "/A.TWL");
  fs::copy_file(b_, pristine + "/B.TWL");

  int abandoned = 0, applied = 0;
  for (uint32_t crash_at = 1; crash_at < 200; ++crash_at) {
    for (const std::string& name : {a_, b_}) {
      fs::copy_file(pristine + "/" + fs::path(name).filename().string(), name,
                    fs::copy_options::overwrite_existing);
    }
    fs::remove(path("tarnwell.tcf"));
    const int status = commit_in_child(crash_at);
    if (status == 0) break;  // the commit finished before this write or flush
    ASSERT_EQ(status, kCrashed) << "crash at " << crash_at;

    const ChildResult dry = twl({"recover", "--dry-run", a_});
    ASSERT_EQ(dry.exit_code, 0) << dry.err;
    const bool never_committed = dry.out.find("it never committed") != std::string::npos;
    const bool committed = dry.out.find("committed (no longer listed") != std::string::npos;
    abandoned += never_committed;
    applied += committed;

    for (const std::string& name : {a_, b_}) {
      const ChildResult recovered = twl({"recover", name});
      EXPECT_EQ(recovered.exit_code, 0) << crash_at << " " << name << "\n" << recovered.err;
      if (never_committed && name == a_) {
        EXPECT_NE(recovered.out.find("recovered: the log was abandoned"), std::string::npos)
            << crash_at << "\n"
            << recovered.out;
      }
      EXPECT_EQ(twl({"check", name}).exit_code, 0) << crash_at << " " << name;
    }
    // Both files show the transfer, or neither does.
    const std::string a = twl({"export", "--no-header", a_}).out;
    const std::string b = twl({"export", "--no-header", b_}).out;
    const bool old_state = a == "1,100\r\n" && b.empty();
    const bool new_state = a == "1,70\r\n" && b == "1,30\r\n";
    EXPECT_TRUE(old_state || new_state) << "crash at " << crash_at << ": A " << a << " B " << b;
    if (never_committed) {
      EXPECT_TRUE(old_state) << "crash at " << crash_at;
    }
    if (committed) {
      EXPECT_TRUE(new_state) << "crash at " << crash_at;
    }
  }
  EXPECT_GT(abandoned, 0) << "no crash left a log of a transaction that never committed";
  EXPECT_GT(applied, 0) << "no crash left a log of a committed transaction";
}

}  // namespace
}  // namespace vtn
