#include "runtime/format/environment_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/format/date_names.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/process_path.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using namespace vtn::literals;
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs parse(std::string_view text) {
  Pairs pairs;
  parse_environment_text(text, [&](std::string_view k, std::string_view v) {
    pairs.emplace_back(std::string(k), std::string(v));
  });
  return pairs;
}

TEST(EnvironmentFileParsing, Lines) {
  struct Case {
    std::string text;
    Pairs expected;
  };
  const std::string key31(31, 'K');
  const Case cases[] = {
      {"", {}},
      {"A=1\r\nB=2\n\n\rC=3", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
      {"VTN MON = x y  \t \n", {{"VTNMON", " x y"}}},  // blanks in keys are skipped
      {"no equals here\nA=1", {{"A", "1"}}},
      {"A\t=1\nB=2", {{"", "1"}, {"B", "2"}}},   // a tab voids the key, "=1" is read anew
      {"M=<200>\n", {{"M", "\xC8"}}},            // the closing bracket is dropped
      {"M=<65x<66\n", {{"M", "AB"}}},            // any ending character is dropped...
      {"M=<65\nN=1", {{"M", "A"}, {"N", "1"}}},  // ...except the end of the line
      {"M=a<<b<c< d<\n", {{"M", "a<b<c< d<"}}},
      {"M=<321>", {{"M", "A"}}},  // the low byte of the code
      {"M=a=b", {{"M", "a=b"}}},
      {"A=1\x1A"
       "B=2",
       {{"A", "1"}}},  // 1Ah ends the file wherever it is
      {"A\x1A=1", {}},
      {key31 + "=v", {{key31, "v"}}},
      {key31 + "X=v\nB=2", {{"B", "2"}}},  // a longer key is not recognised
      {"V=" + std::string(1100, 'v'), {{"V", std::string(1024, 'v')}}},
      {"V=" + std::string(1030, 'v') + "<65>", {{"V", std::string(1024, 'v')}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse(c.text), c.expected) << c.text;
  }
}

class EnvironmentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_environment();
    clear_error();
    dir_ = std::filesystem::temp_directory_path() / ("vtn_envfile_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    reset_environment();
    clear_error();
  }
  std::string write(const std::string& name, std::string_view text) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::filesystem::path dir_;
};

TEST_F(EnvironmentFileTest, AppliesKeysAndCharacterCodes) {
  const std::string path = write("a.env", "VTNMSG2=<200>\r\nVTNMON=Jn,Fb\r\nVTNLFN=off\r\n");
  LoadEnvironmentFile(path);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(find_message_override(2), std::optional<std::string_view>("\xC8"));
  EXPECT_STREQ(error_message(2), "\xC8");
  EXPECT_STREQ(date_names().month_short[1], "Fb");
  EXPECT_FALSE(long_file_names());
}

TEST_F(EnvironmentFileTest, OemCharsetGovernsTheRestOfTheFileOnly) {
  const std::string oem_months = platform::ansi_to_oem(u8"Янв,Фев"_ansi);
  const std::string path = write("oem.env", "VTNMONTH=" + std::string(u8"Январь"_ansi) +
                                                "\nVTNCHARSET=OEM\nVTNMON=" + oem_months + "\n");
  ASSERT_FALSE(char_tables().oem_flag);
  LoadEnvironmentFile(path);
  EXPECT_EQ(std::string(date_names().month[0]), u8"Январь"_ansi);  // read before the switch
  EXPECT_EQ(std::string(date_names().month_short[0]), u8"Янв"_ansi);
  EXPECT_EQ(std::string(date_names().month_short[1]), u8"Фев"_ansi);
  EXPECT_FALSE(char_tables().oem_flag);  // put back once the file is read

  // And when the flag was on before, it is on again after a file that turned it off.
  char_tables().oem_flag = true;
  LoadEnvironmentFile(write("ansi.env", "VTNCHARSET=WINDOWS\n"));
  EXPECT_TRUE(char_tables().oem_flag);
}

TEST_F(EnvironmentFileTest, LinesAcrossTheReadBuffer) {
  std::string text;
  for (int i = 0; i < 400; ++i)
    text += "VTNMSG" + std::to_string(1000 + i) + "=text " + std::to_string(i) + "\n";
  ASSERT_GT(text.size(), 3 * 2048u);
  LoadEnvironmentFile(write("big.env", text));
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(find_message_override(1000 + i),
              std::optional<std::string_view>("text " + std::to_string(i)));
  }
}

TEST_F(EnvironmentFileTest, MissingFilesAndSpecialNames) {
  LoadEnvironmentFile((dir_ / "absent.env").string());
  EXPECT_EQ(ERRORNUMBER(), 2);
  EXPECT_EQ(ERRORTEXT(), "File Not Found");
  clear_error();
  LoadEnvironmentFile(dir_.string());  // a directory is not a file
  EXPECT_EQ(ERRORNUMBER(), 2);
  clear_error();
  LoadEnvironmentFile("");
  EXPECT_EQ(ERRORNUMBER(), 0);

  LoadEnvironmentFile("Windows");  // the platform's collation, case tables and AM/PM
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_GT(collated_compare("B", "a"), 0);  // a, A, b, B, ... instead of code order
  EXPECT_EQ(to_upper_char(0xB8), 0xA8);
  EXPECT_STREQ(date_names().day_part[0], "AM");
}

TEST_F(EnvironmentFileTest, WindowsNameKeepsTheOemFlagItTurnedOff) {
  // Unlike a file, "WINDOWS" is no file read under a remembered OEM flag: the platform's
  // collation is ANSI and the flag stays off.
  char_tables().oem_flag = true;
  LoadEnvironmentFile("WINDOWS");
  EXPECT_FALSE(char_tables().oem_flag);
  EXPECT_EQ(to_lower_char(0xC0), 0xE0);  // А/а from the platform's case lists
}

TEST_F(EnvironmentFileTest, BareNamesAreFoundInTheCurrentDirectoryAndBesideTheProgram) {
  const std::filesystem::path saved = std::filesystem::current_path();
  const std::filesystem::path beside =
      std::filesystem::path(platform::executable_path()).parent_path() /
      ("vtn_beside_" + std::to_string(getpid()) + ".env");
  std::ofstream(beside, std::ios::binary) << "VTNMSG1001=beside\n";
  write("cwd.env", "VTNMSG1002=current\n");
  std::filesystem::current_path(dir_);

  LoadEnvironmentFile("cwd.env");
  EXPECT_EQ(ERRORNUMBER(), 0);
  LoadEnvironmentFile(beside.filename().string());
  EXPECT_EQ(ERRORNUMBER(), 0);
  LoadEnvironmentFile("nowhere.env");
  EXPECT_EQ(ERRORNUMBER(), 2);

  std::filesystem::current_path(saved);
  std::filesystem::remove(beside);
  EXPECT_EQ(find_message_override(1002), std::optional<std::string_view>("current"));
  EXPECT_EQ(find_message_override(1001), std::optional<std::string_view>("beside"));
}

TEST(EnvironmentFileName, BesideTheExecutable) {
  struct Case {
    const char* executable;
    const char* expected;
  };
  const Case cases[] = {
      {"/opt/app/ferrule", "/opt/app/ferrule.ENV"},
      {"/opt/app/FERRULE.EXE", "/opt/app/FERRULE.ENV"},
      {"/opt/app.v2/ferrule", "/opt/app.v2/ferrule.ENV"},  // a dot in a directory is no extension
      {"/opt/app/ferrule.tar.gz", "/opt/app/ferrule.tar.ENV"},
      {"/opt/app/.hidden", "/opt/app/.hidden.ENV"},
      {"ferrule.exe", "ferrule.ENV"},
  };
  for (const Case& c : cases) EXPECT_EQ(environment_file_for(c.executable), c.expected);
}

}  // namespace
}  // namespace vtn
