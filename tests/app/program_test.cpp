// ferrule's procedures, from the library the executable is made of; the last test runs the
// executable itself.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "app/environment_table.hpp"
#include "app/pack_files.hpp"
#include "app/program_module.hpp"
#include "app/program_procedure.hpp"
#include "runtime/core/process_exit.hpp"
#include "runtime/core/random.hpp"
#include "runtime/format/date_names.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/message_box.hpp"
#include "runtime/ui/window_library.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_messages.hpp"

namespace ferrule {
namespace {

using namespace vtn::literals;

class ProgramProcedureTest : public ::testing::Test {
 protected:
  // The procedure registers whatever is waiting in the current directory: it runs in a scratch
  // directory of its own.
  static void SetUpTestSuite() {
    char dir[] = "/tmp/ferrule-procedure-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    ProgramProcedure();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }
};

TEST_F(ProgramProcedureTest, ReplacesTheFortyMessages) {
  int messages = 0;
  for (const EnvironmentSetting& s : program_environment()) {
    if (!s.key.starts_with("VTNMSG")) continue;
    ++messages;
    const int32_t code = std::stoi(std::string(s.key.substr(6)));
    SCOPED_TRACE(code);
    ASSERT_TRUE(vtn::find_message_override(code).has_value());
    EXPECT_EQ(*vtn::find_message_override(code), s.value);
    EXPECT_EQ(std::string(vtn::error_message(code)), s.value);
  }
  EXPECT_EQ(messages, 40);
  EXPECT_STREQ(vtn::error_message(2), std::string(u8"Файл не найден"_ansi).c_str());
  // Messages it does not replace keep the run-time's text.
  EXPECT_STREQ(vtn::error_message(802), "Mismatched PUSHSCOPE/POPSCOPE");
}

TEST_F(ProgramProcedureTest, RussianNamesAndCaptions) {
  const vtn::DateNames& names = vtn::date_names();
  EXPECT_EQ(names.month_name(1), u8"января"_ansi);
  EXPECT_EQ(names.month_name(12), u8"декабря"_ansi);
  EXPECT_EQ(names.month_abbreviation(5), u8"Май"_ansi);
  EXPECT_EQ(std::string_view(names.day_part[0]), u8"ут"_ansi);
  EXPECT_EQ(std::string_view(names.day_part[1]), u8"вч"_ansi);

  struct Caption {
    int position;
    std::string_view text;
  };
  for (const Caption& c :
       {Caption{0, "&OK"}, Caption{1, u8"&Да"_ansi}, Caption{3, u8"Пре&рвать"_ansi},
        Caption{6, u8"&Отменить"_ansi}, Caption{7, u8"&Справка"_ansi}}) {
    EXPECT_EQ(vtn::standard_button_caption(c.position), c.text) << c.position;
  }
  // Windows case tables: Cyrillic letters upper-case.
  EXPECT_EQ(vtn::to_upper_char(static_cast<uint8_t>(u8"я"_ansi[0])),
            static_cast<uint8_t>(u8"Я"_ansi[0]));
}

TEST_F(ProgramProcedureTest, WindowsCaseAndCollationForRussianText) {
  char tree[] = "\xB8\xEB\xEA\xE0";  // ёлка
  vtn::to_upper(tree, vtn::kUpToNul);
  EXPECT_EQ(std::string(tree), u8"ЁЛКА"_ansi);
  EXPECT_FALSE(vtn::char_tables().oem_flag);
  EXPECT_STREQ(vtn::error_message(55), "File Must Be Shared");  // not replaced

  // Latin before Cyrillic, е before ё before ж, lower case before upper case of one letter.
  const std::string_view ascending[] = {"Zebra",        u8"абрикос"_ansi, u8"Абрикос"_ansi,
                                        u8"банан"_ansi, u8"еж"_ansi,      u8"ёж"_ansi,
                                        u8"жук"_ansi};
  for (size_t i = 1; i < std::size(ascending); ++i) {
    EXPECT_LT(vtn::collated_compare(ascending[i - 1], ascending[i]), 0) << i;
  }
}

TEST_F(ProgramProcedureTest, KeyAliasesFontAndStart) {
  EXPECT_EQ(vtn::aliased_key(0x22D), 0x243u);  // Ctrl+Insert -> Ctrl+C
  EXPECT_EQ(vtn::aliased_key(0x12D), 0x256u);  // Shift+Insert -> Ctrl+V
  EXPECT_EQ(vtn::aliased_key(0x12E), 0x258u);  // Shift+Delete -> Ctrl+X
  EXPECT_EQ(vtn::aliased_key(0x22E), 0x22Eu);
  EXPECT_EQ(vtn::font_char_set(), vtn::kCyrillicCharSet);
  EXPECT_TRUE(vtn::program_started());
}

TEST_F(ProgramProcedureTest, WarningBoxesShowRussianButtons) {
  setenv("VTN_MSGBOX", "stderr", 1);
  unsetenv("VTN_MSGBOX_ANSWERS");
  vtn::reset_preset_answers();
  ::testing::internal::CaptureStderr();
  vtn::message_box_core("?", "c", vtn::kButtonYes | vtn::kButtonNo, vtn::kButtonNo, {});
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Да | Нет (default) -> Нет"),
            std::string::npos);
}

TEST(ProgramModule, StartupSeedsTheGeneratorAndInstallsHandlers) {
  vtn::RandomState unseeded;
  ASSERT_EQ(vtn::random_state().entries, unseeded.entries);
  const vtn::ModuleDescriptor& module = program_module();
  EXPECT_EQ(module.init_table.back().priority, 5);
  vtn::run_module_startup(module.init_table);
  EXPECT_NE(vtn::random_state().entries, unseeded.entries);
  EXPECT_TRUE(vtn::window_library_handlers_installed());
}

// The start-up entry seeds the generator and reads the environment once per process: a second
// start-up (another module table run in the same process) leaves the generator where it is.
TEST(ProgramModuleDeathTest, SeedsOncePerProcess) {
  EXPECT_EXIT(
      {
        const vtn::ModuleDescriptor& module = program_module();
        vtn::run_module_startup(module.init_table);
        for (int i = 0; i < 100; ++i) vtn::RANDOM();
        const vtn::RandomState drawn = vtn::random_state();
        vtn::run_module_startup(module.init_table);
        const bool kept = vtn::random_state().entries == drawn.entries &&
                          vtn::random_state().j == drawn.j && vtn::random_state().k == drawn.k;
        std::exit(kept ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// The built executable, beside the test programs' folder.
std::filesystem::path ferrule_path() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "ferrule";
}

// A first run in an empty directory creates the two tables and consumes the empty request it
// created, without a word.
TEST(FerruleRun, EmptyDirectoryWithStderrBoxesExitsZeroAndShowsNothing) {
  const std::filesystem::path exe = ferrule_path();
  ASSERT_TRUE(std::filesystem::exists(exe)) << "ferrule is not built: " << exe;
  char dir[] = "/tmp/ferrule-run-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string out =
      std::string(dir) + "/../" + std::filesystem::path(dir).filename().string() + ".out";
  const std::string command = "cd '" + std::string(dir) + "' && VTN_MSGBOX=stderr '" +
                              exe.string() + "' >'" + out + "' 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::filesystem::file_size(out), 0u);
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"PACKNAME.TWL", "SETUP.TWL"}));
  std::filesystem::remove(out);
  std::filesystem::remove_all(dir);
}

TEST(FerruleRun, HelpDescribesTheProgramAndItsSettings) {
  const std::filesystem::path exe = ferrule_path();
  ASSERT_TRUE(std::filesystem::exists(exe)) << "ferrule is not built: " << exe;
  FILE* pipe = popen(("'" + exe.string() + "' --help").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char* word :
       {"Usage: ferrule", "Mossgate.ini", "VTN_MSGBOX ", "VTN_MSGBOX_ANSWERS", "VTN_MSGBOX_LOG"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

// An argument ferrule does not know: the usage on standard error, exit code 2, and no file touched
// (a request waiting in the directory stays where it is).
TEST(FerruleRun, UnknownArgumentsPrintTheUsageAndExitTwo) {
  const std::filesystem::path exe = ferrule_path();
  ASSERT_TRUE(std::filesystem::exists(exe)) << "ferrule is not built: " << exe;
  for (const char* argument : {"--frobnicate", "-x", "Mossgate.ini", "--help=yes"}) {
    SCOPED_TRACE(argument);
    char dir[] = "/tmp/ferrule-run-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::filesystem::path request = std::filesystem::path(dir) / "Mossgate.ini";
    FILE* f = std::fopen(request.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("\"Pack\",\"packs\"\r\n", f);
    std::fclose(f);
    const std::string out =
        std::string(dir) + "/../" + std::filesystem::path(dir).filename().string() + ".stdout";
    const std::string err = out + ".stderr";
    const std::string command = "cd '" + std::string(dir) + "' && VTN_MSGBOX=stderr '" +
                                exe.string() + "' '" + argument + "' >'" + out + "' 2>'" + err +
                                "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(std::filesystem::file_size(out), 0u);
    std::string said(static_cast<size_t>(std::filesystem::file_size(err)), '\0');
    FILE* e = std::fopen(err.c_str(), "rb");
    ASSERT_NE(e, nullptr);
    said.resize(std::fread(said.data(), 1, said.size(), e));
    std::fclose(e);
    EXPECT_NE(said.find(std::string("unknown argument '") + argument + "'"), std::string::npos)
        << said;
    EXPECT_NE(said.find("Usage: ferrule"), std::string::npos) << said;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_TRUE(std::filesystem::exists(request));
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
}  // namespace ferrule
