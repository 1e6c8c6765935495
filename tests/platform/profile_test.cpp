#include "runtime/platform/profile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace vtn::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIni =
    "; a comment\r\n"
    "[intl]\r\n"
    "sTime = .\r\n"
    "s1159=\"am \"\r\n"
    "iTime=1\r\n"
    "# another comment\r\n"
    "Empty=\r\n"
    "NoEquals\r\n"
    "[ Other Section ]\n"
    "key='quoted'\n"
    "half=\"open\n"
    "sTime=other\n"
    "[INTL]\n"
    "late=only in the second intl section\n";

TEST(Profile, FindsValues) {
  struct Case {
    const char* section;
    const char* key;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"intl", "sTime", true, "."},
      {"INTL", "STIME", true, "."},    // names without regard to case
      {"intl", "s1159", true, "am "},  // quotes keep inner blanks
      {"intl", "iTime", true, "1"},
      {"intl", "Empty", true, ""},  // present but empty is not missing
      {"intl", "NoEquals", false, ""},
      {"intl", "late", false, ""},                // only the first section of a name counts
      {"other section", "key", true, "quoted"},   // blanks around the section name ignored
      {"Other Section", "half", true, "\"open"},  // unmatched quote stays
      {"Other Section", "sTime", true, "other"},
      {"missing", "sTime", false, ""},
  };
  for (const Case& c : cases) {
    std::string value;
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(find_profile_value(kIni, c.section, c.key, value), c.found);
    if (c.found) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(Profile, ParsesIntegers) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"1", 1},
      {"  42abc", 42},
      {"-7", -7},
      {"+3", 3},
      {"0x1F", 31},
      {"0XfF", 255},
      {"", 0},
      {"abc", 0},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_profile_int(c.text), c.value) << c.text;
}

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vtn_profile_" + std::to_string(getpid()));
    fs::create_directories(dir_ / "vortane");
    saved_winini_ = getenv_or_null("VTN_WININI");
    saved_xdg_ = getenv_or_null("XDG_CONFIG_HOME");
    unsetenv("VTN_WININI");
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    restore("VTN_WININI", saved_winini_);
    restore("XDG_CONFIG_HOME", saved_xdg_);
    fs::remove_all(dir_);
  }
  static void write(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::optional<std::string> getenv_or_null(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  fs::path dir_;
  std::optional<std::string> saved_winini_;
  std::optional<std::string> saved_xdg_;
};

TEST_F(ProfileFile, MissingFileGivesDefaults) {
  EXPECT_EQ(profile_path(), (dir_ / "vortane/win.ini").string());
  EXPECT_EQ(get_profile_string("intl", "sShortDate", "MM/dd/yy"), "MM/dd/yy");
  EXPECT_EQ(get_profile_int("intl", "iTLzero", 1), 1);
}

TEST_F(ProfileFile, XdgDefaultAndExplicitPath) {
  write(dir_ / "vortane/win.ini", "[intl]\niTime=1\nsShortDate=dd.MM.yyyy\n");
  EXPECT_EQ(get_profile_int("intl", "iTime", 0), 1);
  EXPECT_EQ(get_profile_int("intl", "iTLzero", 5), 5);
  EXPECT_EQ(get_profile_string("intl", "sShortDate", ""), "dd.MM.yyyy");

  write(dir_ / "other.ini", "[intl]\niTime=0\n");
  setenv("VTN_WININI", (dir_ / "other.ini").c_str(), 1);
  EXPECT_EQ(get_profile_int("intl", "iTime", 7), 0);
}

TEST_F(ProfileFile, Utf8FileIsReadAs1251) {
  write(dir_ / "vortane/win.ini", "\xEF\xBB\xBF[intl]\ns1159=\xD1\x83\xD1\x82\n");
  EXPECT_EQ(get_profile_string("intl", "s1159", "AM"), "\xF3\xF2");  // ут
  write(dir_ / "vortane/win.ini", "[intl]\ns2359=\xD0\xB2\xD1\x87\n");
  EXPECT_EQ(get_profile_string("intl", "s2359", "PM"), "\xE2\xF7");  // вч
  write(dir_ / "vortane/win.ini", "[intl]\ns2359=\xE2\xF7\n");       // already 1251
  EXPECT_EQ(get_profile_string("intl", "s2359", "PM"), "\xE2\xF7");
}

TEST_F(ProfileFile, PrivateProfiles) {
  write(dir_ / "vortane/app.ini", "[Main]\nName=in the profile directory\nCount=12\n");
  write(dir_ / "given.ini", "[Main]\nName=given path\n");
  EXPECT_EQ(get_private_profile_string("main", "name", "-", "app.ini"), "in the profile directory");
  EXPECT_EQ(get_private_profile_int("Main", "Count", 0, "app.ini"), 12);
  EXPECT_EQ(get_private_profile_string("Main", "Name", "-", (dir_ / "given.ini").string()),
            "given path");
  EXPECT_EQ(get_private_profile_string("Main", "Name", "-", "absent.ini"), "-");
  EXPECT_EQ(get_private_profile_int("Main", "Count", -4, "absent.ini"), -4);
}

// A path that names no small text file reads as a missing one, at once: a device that never ends,
// a FIFO that nobody writes, a directory.
TEST_F(ProfileFile, OnlyRegularFilesAreRead) {
  const std::string fifo = (dir_ / "fifo.ini").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), fifo, dir_.string()}) {
    EXPECT_EQ(get_private_profile_string("Main", "Name", "-", path), "-") << path;
    EXPECT_EQ(get_private_profile_int("Main", "Count", -4, path), -4) << path;
  }
}

}  // namespace
}  // namespace vtn::platform
