#include "runtime/format/environment.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "runtime/format/date_names.hpp"
#include "runtime/format/intl_settings.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/process_path.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_messages.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using namespace vtn::literals;
namespace fs = std::filesystem;

class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_environment();
    clear_error();
  }
  void TearDown() override {
    reset_environment();
    clear_error();
  }
};

TEST_F(EnvironmentTest, EnvsetTakesItsTextsFromTheStringStack) {
  StringStack& stack = string_stack();
  const std::string value = std::string(100, ' ') + std::string(199, 'a') + "bcd";
  stack.push_copy(value);
  stack.push_copy("VTNMSG5   ");
  envset_key_from_stack();
  EXPECT_EQ(stack.depth(), 0);
  // The value is cut at 299 characters before its leading blanks are skipped.
  EXPECT_EQ(find_message_override(5), std::optional<std::string_view>(std::string(199, 'a')));

  // The key is cut at 259 characters, and what is left is clipped.
  ENVSET("VTNMSG7" + std::string(252, ' ') + "X", "seven");
  EXPECT_EQ(find_message_override(7), std::optional<std::string_view>("seven"));
  ENVSET("VTNMSG8" + std::string(251, ' ') + "X", "eight");
  EXPECT_FALSE(find_message_override(8).has_value());

  const fs::path file = fs::temp_directory_path() / ("vtn_envset_" + std::to_string(getpid()));
  std::ofstream(file) << "VTNMON=Uno\n";
  stack.push_copy(file.string() + "    ");
  envset_file_from_stack();
  EXPECT_EQ(stack.depth(), 0);
  EXPECT_STREQ(date_names().month_short[0], "Uno");
  fs::remove(file);
}

// One test, so that nothing else in this program reads the environment file it writes.
TEST_F(EnvironmentTest, InitialisationReadsTheProfileAndTheFileBesideTheExecutable) {
  const fs::path dir = fs::temp_directory_path() / ("vtn_env_init_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path profile = dir / "win.ini";
  std::ofstream(profile) << "[intl]\niTime=1\niTLzero=0\nsTime=.:\ns1159=morning\ns2359=\n"
                            "sShortDate=dd.MM.yyyy\n";
  const char* saved = std::getenv("VTN_WININI");
  const std::optional<std::string> saved_profile =
      saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("VTN_WININI", profile.c_str(), 1);
  const std::string env_file = environment_file_for(platform::executable_path());

  // Without an environment file: the missing file leaves no error behind.
  fs::remove(env_file);
  std::swap(char_tables().collation_ansi['a'], char_tables().collation_ansi['b']);
  InitializeEnvironment();
  EXPECT_EQ(ERRORNUMBER(), 0);
  const IntlSettings& intl = intl_settings();
  EXPECT_EQ(intl.i_time, 1);
  EXPECT_EQ(intl.i_tlzero, 0);
  EXPECT_EQ(intl.s_time, ".");
  EXPECT_EQ(intl.s1159, "mo");
  EXPECT_EQ(intl.s2359, "");
  EXPECT_EQ(intl.s_short_date, "dd.MM.yyyy");
  EXPECT_EQ(intl.s_long_date, "ddd', 'MMMM' 'dd', 'yyyy");
  // The locale pictures follow the settings just read.
  const int32_t halloween_1959 = date_to_serial(CalendarDate{1959, 31, 10});
  EXPECT_EQ(format_picture(halloween_1959, "@D17"), "31.10.1959");
  EXPECT_EQ(char_tables().collation_oem['a'], 'b');  // the OEM copy of the collation
  EXPECT_STREQ(date_names().day_part[0], "AM");      // the run-time's own text until asked

  // With one: applied after the profile; a second initialisation does nothing.
  reset_environment();
  std::ofstream(env_file) << "VTNAMPM=Windows\nVTNMSG5=Zugriff verweigert\n";
  InitializeEnvironment();
  EXPECT_STREQ(date_names().day_part[0], "mo");
  EXPECT_STREQ(date_names().day_part[1], "");
  EXPECT_STREQ(error_message(5), "Zugriff verweigert");
  std::ofstream(env_file) << "VTNMSG5=changed\n";
  InitializeEnvironment();
  EXPECT_STREQ(error_message(5), "Zugriff verweigert");

  fs::remove(env_file);
  fs::remove_all(dir);
  if (saved_profile) {
    setenv("VTN_WININI", saved_profile->c_str(), 1);
  } else {
    unsetenv("VTN_WININI");
  }
}

}  // namespace
}  // namespace vtn
