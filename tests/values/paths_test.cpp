#include "runtime/values/paths.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

// Paths in the test are written in UTF-8 and handed to the run-time as 1251, as the program's
// own texts are.
class PathFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vtn_pathfn_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    ASSERT_EQ(::mkdir((root_ + "/Пакеты").c_str(), 0755), 0);
    std::ofstream(root_ + "/Пакеты/Setup.TWL") << "x";
    string_stack().clear();
    clear_error();
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(saved_cwd_.c_str()), 0);
    std::system(("rm -rf '" + root_ + "'").c_str());
    string_stack().clear();
    clear_error();
  }

  std::string root_;
  std::string saved_cwd_;
};

TEST_F(PathFunctionsTest, PathLong) {
  struct Case {
    std::string path;  // UTF-8
    std::string expected;
  };
  const Case cases[] = {
      {root_ + "/пакеты/setup.twl   ", root_ + "/Пакеты/Setup.TWL"},
      {root_ + "/ПАКЕТЫ/новый/файл", root_ + "/Пакеты/новый/файл"},  // missing: kept as typed
      {root_ + "/пакеты/./../Пакеты", root_ + "/Пакеты"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string path = ansi(c.path);
    EXPECT_EQ(path_long(path), ansi(c.expected));
    string_stack().push_borrowed(path);
    PATHLONG();
    EXPECT_EQ(string_stack().pop_string(), ansi(c.expected));
    EXPECT_EQ(ERRORNUMBER(), 0);
  }
  ASSERT_EQ(::chdir(root_.c_str()), 0);
  EXPECT_EQ(path_long(""), ansi(root_));
  EXPECT_EQ(path_long(ansi("пакеты")), ansi(root_ + "/Пакеты"));
}

TEST_F(PathFunctionsTest, PathShort) {
  struct Case {
    std::string path;  // UTF-8
    std::string expected;
    int32_t error;
  };
  const Case cases[] = {
      {root_ + "/Пакеты/Setup.TWL  ", root_ + "/Пакеты/Setup.TWL", 0},
      {root_ + "/Пакеты/Нет.TWL", root_ + "/Пакеты/Нет.TWL", 2},
      {root_ + "/Нет/Setup.TWL", root_ + "/Нет/Setup.TWL", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    clear_error();
    EXPECT_EQ(path_short(ansi(c.path)), ansi(c.expected));
    EXPECT_EQ(ERRORNUMBER(), c.error);
    clear_error();
    string_stack().push_copy(ansi(c.path));
    PATHSHORT();
    EXPECT_EQ(string_stack().pop_string(), ansi(c.expected));
    EXPECT_EQ(ERRORNUMBER(), c.error);
  }
  ASSERT_EQ(::chdir((root_ + "/Пакеты").c_str()), 0);
  EXPECT_EQ(path_short(""), ansi(root_ + "/Пакеты"));
  EXPECT_EQ(path_short("Setup.TWL"), "Setup.TWL");
}

TEST_F(PathFunctionsTest, SuccessLeavesAnEarlierErrorAlone) {
  post_error(35);
  EXPECT_EQ(path_short(ansi(root_)), ansi(root_));
  EXPECT_EQ(path_long(ansi(root_)), ansi(root_));
  EXPECT_EQ(ERRORNUMBER(), 35);
}

TEST_F(PathFunctionsTest, WithoutACurrentDirectoryTheTextStays) {
  ASSERT_EQ(::mkdir((root_ + "/gone").c_str(), 0755), 0);
  ASSERT_EQ(::chdir((root_ + "/gone").c_str()), 0);
  ASSERT_EQ(::rmdir((root_ + "/gone").c_str()), 0);
  EXPECT_EQ(path_long("sub/x"), "sub/x");
  EXPECT_EQ(ERRORNUMBER(), 2);
  clear_error();
  EXPECT_EQ(path_short(""), "");
  EXPECT_EQ(ERRORNUMBER(), 2);
}

}  // namespace
}  // namespace vtn
