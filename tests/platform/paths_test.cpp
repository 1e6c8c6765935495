#include "runtime/platform/paths.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/platform/system_error.hpp"

namespace vtn::platform {
namespace {

// A scratch directory tree, removed afterwards; the test's current directory is restored.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vtn_paths_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    saved_cwd_ = *current_directory();
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(saved_cwd_.c_str()), 0);
    std::system(("rm -rf '" + root_ + "'").c_str());
  }
  void make_dir(const std::string& relative) {
    ASSERT_EQ(::mkdir((root_ + "/" + relative).c_str(), 0755), 0) << relative;
  }
  void make_file(const std::string& relative) { std::ofstream(root_ + "/" + relative) << "x"; }

  std::string root_;
  std::string saved_cwd_;
};

TEST(FullPathFrom, ResolvesByTextAlone) {
  struct Case {
    const char* path;
    const char* base;
    const char* expected;
  };
  const Case cases[] = {
      {"a/b", "/base", "/base/a/b"},
      {"/x/./y/../z", "/base", "/x/z"},
      {"", "/base", "/base"},
      {".", "/base", "/base"},
      {"../../..", "/a", "/"},
      {"a//b/", "/base", "/base/a/b/"},
      {"/", "/base", "/"},
      {"//x//", "/base", "/x/"},
      {"missing/../there", "/b", "/b/there"},
      {"a", "/", "/a"},
  };
  for (const Case& c : cases) EXPECT_EQ(full_path_from(c.path, c.base), c.expected) << c.path;
}

TEST(SameNameIgnoringCase, Letters) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"Readme.TXT", "readme.txt", true},
      {"Папка", "ПАПКА", true},
      {"Ёж", "ёж", true},
      {"ÀÉ", "àé", true},
      {"a", "ab", false},
      {"ab", "a", false},
      {"Папка", "Папки", false},
      {"\xFF", "\xFF", true},  // malformed bytes compare as themselves
      {"\xFF", "\xFE", false},
      {"\xD0", "\xD0\x90", false},
      {"", "", true},
  };
  for (const Case& c : cases) EXPECT_EQ(same_name_ignoring_case(c.a, c.b), c.same) << c.a;
}

TEST_F(PathsTest, LongPathRespellsComponentsAsListed) {
  make_dir("Data");
  make_dir("Data/Sub");
  make_file("Data/Sub/File.TXT");
  make_dir("Data/Папка");
  make_dir("Both");
  make_dir("both");
  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {root_ + "/data/SUB/file.txt", root_ + "/Data/Sub/File.TXT"},
      {root_ + "/DATA/папка/", root_ + "/Data/Папка/"},
      {root_ + "/data/missing/sub", root_ + "/Data/missing/sub"},  // not found: kept as typed
      {root_ + "/data/missing/../sub", root_ + "/Data/Sub"},
      {root_ + "/both", root_ + "/both"},  // an exact name wins
      {root_ + "/BOTH", root_ + "/Both"},
      {"/", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(long_path(c.path), c.expected) << c.path;
}

TEST_F(PathsTest, RelativeAndEmptyPathsStartAtTheCurrentDirectory) {
  make_dir("Data");
  ASSERT_EQ(::chdir((root_ + "/Data").c_str()), 0);
  EXPECT_EQ(current_directory(), root_ + "/Data");
  EXPECT_EQ(long_path(""), root_ + "/Data");
  EXPECT_EQ(long_path("../data/x"), root_ + "/Data/x");
  EXPECT_EQ(short_path(""), root_ + "/Data");
  EXPECT_EQ(full_path("a/../b"), root_ + "/Data/b");
}

TEST_F(PathsTest, ShortPathIsThePathItselfOrAnError) {
  make_dir("Data");
  make_file("Data/f");
  struct Case {
    std::string path;
    bool exists;
    uint32_t error;
  };
  const Case cases[] = {
      {root_ + "/Data/f", true, 0},
      {root_ + "/Data/", true, 0},
      {root_ + "/Data/g", false, kErrorFileNotFound},
      {root_ + "/Nope/g", false, kErrorPathNotFound},
      {root_ + "/Data/f/g", false, kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    set_last_error(0);
    const std::optional<std::string> result = short_path(c.path);
    EXPECT_EQ(result.has_value(), c.exists);
    if (c.exists) {
      EXPECT_EQ(*result, c.path);
    }
    EXPECT_EQ(last_error(), c.error);
  }
}

TEST_F(PathsTest, ARemovedCurrentDirectoryIsReported) {
  make_dir("gone");
  ASSERT_EQ(::chdir((root_ + "/gone").c_str()), 0);
  ASSERT_EQ(::rmdir((root_ + "/gone").c_str()), 0);
  set_last_error(0);
  EXPECT_FALSE(current_directory().has_value());
  EXPECT_EQ(last_error(), kErrorFileNotFound);
  EXPECT_FALSE(long_path("x").has_value());
  EXPECT_EQ(long_path(root_ + "/x"), root_ + "/x") << "absolute paths need no current directory";
}

}  // namespace
}  // namespace vtn::platform
