// The warnings and the recovery of OpenWithRecovery, against a driver whose results each case
// scripts: every branch, the texts byte for byte, what ends the program and what returns.
#include "app/warnings.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/box_log.hpp"
#include "app/environment_table.hpp"
#include "app/open_with_recovery.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/operation_rules.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/message_box.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"
#include "support/scratch_directory.hpp"

namespace ferrule {
namespace {

using testing_support::LoggedBox;
using testing_support::read_box_log;

std::string utf8(std::string_view ansi) {
  return vtn::platform::ansi_to_utf8(ansi);
}

// The utility's own locale: its Russian messages are what its warnings quote.
class RussianLocale : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const EnvironmentSetting& s : program_environment()) vtn::ENVSET(s.key, s.value);
  }
};
const auto* const kLocale = ::testing::AddGlobalTestEnvironment(new RussianLocale);

struct ErrorSetup {
  int32_t code = 0;
  const char* driver_code = nullptr;  // with code 90
  std::string driver_message = {};
};

void set_error(const ErrorSetup& e) {
  vtn::clear_error();
  if (e.code != 0) vtn::post_error(e.code);
  if (e.driver_code != nullptr) vtn::post_driver_error(e.driver_code, e.driver_message);
}

TEST(ComposeWarning, TextsAndCaptionsByteForByte) {
  struct Case {
    int32_t id;
    ErrorSetup error;
    std::string first, second;
    const char* caption;
    const char* text;
  };
  const std::string long_message(147, 'x');
  const Case cases[] = {
      {1,
       {47},
       "PACKNAME.TWL",
       "",
       "Файл неправильной структуры",
       "Файл Неверная структура файла (47) не соответствует описанию. Нажмите OK для завершения "
       "программы."},
      {2,
       {46},
       "PACKNAME.TWL   ",
       "",
       "Неправильный ключевой файл",
       "Неправильный ключевой файл PACKNAME.TWL.  Хотите ли Вы восстановить его?"},
      {3,
       {36},
       "SETUP.TWL",
       "",
       "Ошибка при восстановлении ключа",
       "Ошибка: (Поврежденный файл данных (36)) при восстановлении ключей SETUP.TWL.  Нажмите OK "
       "для завершения программы."},
      {4,
       {5},
       "Mossgate.ini",
       "",
       "Ошибка создания файла",
       "Ошибка: (Нет доступа (5)) при создании Mossgate.ini.  Нажмите OK для завершения "
       "программы."},
      {5,
       {3},
       "SETUP.TWL",
       "",
       "Ошибка при создании файла",
       "Ошибка: (Путь не найден (3)) при открытии созданного файла:SETUP.TWL.  Нажмите OK для "
       "завершения программы."},
      {30,
       {5},
       "SETUP.TWL",
       "",
       "Ошибка при доступе к файлу",
       "Файл(SETUP.TWL) не может быть открыт.  Ошибка: Нет доступа (5)."},
      // Error 90 quotes the driver's own message and code.
      {30,
       {90, "1602", "Possible data corruption in file"},
       "PACKNAME.TWL",
       "",
       "Ошибка при доступе к файлу",
       "Файл(PACKNAME.TWL) не может быть открыт.  Ошибка: Possible data corruption in file "
       "(1602)."},
      // The error is cut at 150 characters: here the closing parenthesis is lost.
      {14, {90, "7", long_message}, "", "", "Ошибка при добавлении записи", nullptr},
      {7,
       {35},
       "",
       "",
       "",
       "Невозможен поиск по ключу.  Ошибка: Запись не найдена (35).  "
       "Добавление записи не выполнено"},
      {12,
       {},
       "ORDERS",
       "",
       "Разрушение связей при редактировании",
       "На эту запись ссылаются записи файла ORDERS.  Запрещается изменять связанные поля,  "
       "поэтому в них восстановлены первоначальные значения."},
      {15,
       {},
       "x",
       "",
       "Ошибка при обновлении записи",
       "Эта запись была изменена с другой станции."},
      {15,
       {89},
       "x",
       "",
       "Ошибка при обновлении записи",
       "Эта запись была изменена с другой станции."},
      {15,
       {33},
       "held",
       "",
       "Ошибка при обновлении записи",
       "Возникла ошибка(Запись не доступна (33))  при попытке обновить запись файла.  Возможная "
       "причина: held."},
      {29,
       {},
       "Вниз",
       "",
       "Конец файла",
       "Достигнут конец просматриваемого файла.  Хотите перейти к началу файла?"},
      {29,
       {},
       "Вниз    ",
       "",
       "Конец файла",
       "Достигнут конец просматриваемого файла.  Хотите перейти к началу файла?"},
      {29,
       {},
       "Вверх",
       "",
       "Начало файла",
       "Достигнуто начало просматриваемого файла.  Хотите перейти к концу файла?"},
      {31,
       {40},
       "Put",
       "ORDERS",
       "Ошибка в процессе записи",
       "Возникла ошибка при записи изменений в файл ORDERS.  Ошибка: Недопустимое повторение "
       "ключа (40)"},
      {31,
       {40},
       "Delete",
       "ORDERS",
       "Ошибка в процессе удаления",
       "Возникла ошибка при удалении записи файлаORDERS.  Ошибка: Недопустимое повторение ключа "
       "(40)"},
      {34,
       {56},
       "T1",
       "ORDERS",
       "Ошибка выполнения транзакции",
       "Ошибка (Транзакция уже активна (56)) при попытке выполнитьтранзакцию T1для ORDERS.  "
       "Транзакция T1 отменена."},
      // A placeholder inside an inserted text stays as it is.
      {8, {}, "{2}", "10", "Неправильный диапазон", "Значение {2} должно быть меньше, чем 10."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    set_error(c.error);
    const WarningBox box = compose_warning(c.id, vtn::ansi(c.first), vtn::ansi(c.second));
    EXPECT_EQ(utf8(box.caption), c.caption);
    if (c.text != nullptr) {
      EXPECT_EQ(utf8(box.text), c.text);
    } else {
      const std::string expected =
          "Возникла ошибка при попытке обновления записи.  Ошибка: " + long_message + " (7.";
      EXPECT_EQ(utf8(box.text), expected);
    }
  }
}

TEST(ComposeWarning, ErrorTextRule) {
  set_error({0});
  EXPECT_EQ(warning_error_text(), " (0)");
  set_error({2});
  EXPECT_EQ(utf8(warning_error_text()), "Файл не найден (2)");
  set_error({90, "1602", "Possible data corruption in file"});
  EXPECT_EQ(warning_error_text(), "Possible data corruption in file (1602)");
  set_error({90, "  42  ", std::string(160, 'm')});
  EXPECT_EQ(warning_error_text(), std::string(150, 'm'));
  vtn::clear_error();
}

// Every warning shows one of the two icons, and its default button among its buttons (warning 7
// has none).
TEST(WarningTable, IconsAndDefaults) {
  ASSERT_EQ(warning_table().size(), 38u);
  for (size_t i = 0; i < warning_table().size(); ++i) {
    const Warning& w = warning_table()[i];
    SCOPED_TRACE(i + 1);
    EXPECT_TRUE(w.icon == kWarningIcon || w.icon == kQuestionIcon);
    EXPECT_TRUE(i + 1 == 7 ? w.default_button == 0 : (w.buttons & w.default_button) != 0);
    EXPECT_EQ(w.afterwards == Afterwards::kHalt || w.afterwards == Afterwards::kYesOrHalt,
              !w.halt_message.empty());
  }
}

// Runs `body` in a child process with the given answers, and reports how it ended and what boxes
// it showed. A child that returns from `body` exits with kReturned.
constexpr int kReturned = 3;
struct ChildRun {
  int exit_code = -1;
  int32_t result = 0;
  std::vector<LoggedBox> boxes;
};

class ChildTest : public vtn::testing_support::ScratchDirectoryTest {
 protected:
  template <typename Body>
  ChildRun run_child(const char* answers, Body body) {
    const std::string log = path("boxes.log");
    const std::string result_file = path("result");
    std::filesystem::remove(log);
    std::filesystem::remove(result_file);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("VTN_MSGBOX", "stderr", 1);
      setenv("VTN_MSGBOX_LOG", log.c_str(), 1);
      if (answers != nullptr) setenv("VTN_MSGBOX_ANSWERS", answers, 1);
      vtn::reset_preset_answers();
      std::freopen("/dev/null", "w", stderr);
      const int32_t result = body();
      std::ofstream(result_file) << result;
      _exit(kReturned);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ChildRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream(result_file) >> run.result;
    run.boxes = read_box_log(log);
    return run;
  }
};

using WarnUserTest = ChildTest;

TEST_F(WarnUserTest, WhatFollowsTheBox) {
  struct Case {
    int32_t id;
    const char* answers;
    int exit_code;
    int32_t result;
    std::vector<std::string> captions;  // boxes shown, in order
    const char* halt_text;              // the text of the "Halt" box, when there is one
  };
  const Case cases[] = {
      {1, nullptr, 0, 0, {"Файл неправильной структуры", "Halt"}, "Неправильная структура файла!"},
      {2, "yes", kReturned, kYes, {"Неправильный ключевой файл"}, nullptr},
      {2, "no", 0, 0, {"Неправильный ключевой файл", "Halt"}, "Неправильный ключ!"},
      {3,
       nullptr,
       0,
       0,
       {"Ошибка при восстановлении ключа", "Halt"},
       "Ошибка при восстановлении ключа!"},
      {4, nullptr, 0, 0, {"Ошибка создания файла", "Halt"}, "Ошибка создания файла!"},
      {5, nullptr, 0, 0, {"Ошибка при создании файла", "Halt"}, "Ошибка  при создании файла!"},
      {22, nullptr, 0, 0, {"Создание файла не предусмотрено", "Halt"}, "Ошибка создания файла!"},
      {16, "no", kReturned, kNo, {"Ошибка при обновлении записи"}, nullptr},
      {16, nullptr, kReturned, kCancel, {"Ошибка при обновлении записи"}, nullptr},
      {25, "retry", kReturned, kRetry, {"Ошибка при автонумерации"}, nullptr},
      {30, nullptr, kReturned, kOk, {"Ошибка при доступе к файлу"}, nullptr},
      {34, nullptr, kReturned, 0, {"Ошибка выполнения транзакции"}, nullptr},
      {36, nullptr, kReturned, 0, {"Ошибка открытия списка"}, nullptr},
      {37, nullptr, kReturned, kYes, {"Запись добавлена"}, nullptr},
      {0, nullptr, kReturned, 0, {}, nullptr},
      {39, nullptr, kReturned, 0, {}, nullptr},
      {-1, nullptr, kReturned, 0, {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + (c.answers ? c.answers : "default"));
    const ChildRun run = run_child(c.answers, [&] { return WarnUser(c.id, "F", ""); });
    EXPECT_EQ(run.exit_code, c.exit_code);
    if (c.exit_code == kReturned) {
      EXPECT_EQ(run.result, c.result);
    }
    ASSERT_EQ(run.boxes.size(), c.captions.size());
    for (size_t i = 0; i < c.captions.size(); ++i) EXPECT_EQ(run.boxes[i].caption, c.captions[i]);
    if (c.halt_text != nullptr) {
      EXPECT_EQ(run.boxes.back().text, c.halt_text);
    }
  }
}

TEST_F(WarnUserTest, TheBoxAsShown) {
  const ChildRun run = run_child(nullptr, [] {
    vtn::post_error(5);
    return WarnUser(2, vtn::ansi("ПАКЕТЫ.TWL"), "");
  });
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].icon, "question");
  EXPECT_EQ(run.boxes[0].buttons, "Да, Нет");
  EXPECT_EQ(run.boxes[0].default_button, "Да");
  EXPECT_EQ(run.boxes[0].text,
            "Неправильный ключевой файл ПАКЕТЫ.TWL.  Хотите ли Вы восстановить его?");

  const ChildRun ok = run_child(nullptr, [] { return WarnUser(7, "", ""); });
  ASSERT_EQ(ok.boxes.size(), 1u);
  EXPECT_EQ(ok.boxes[0].icon, "exclamation");
  EXPECT_EQ(ok.boxes[0].caption, "");
  EXPECT_EQ(ok.boxes[0].buttons, "OK");
}

TEST(WarnAboutFile, TakesTheNameFromTheStringStack) {
  const int depth = vtn::string_stack().depth();
  vtn::string_stack().push_copy("below");
  vtn::string_stack().push_copy("SETUP.TWL");
  EXPECT_EQ(WarnAboutFile(0), 0);  // shows nothing, but the name is taken all the same
  EXPECT_EQ(vtn::string_stack().pop_string(), "below");
  EXPECT_EQ(vtn::string_stack().depth(), depth);
}

// ---- OpenWithRecovery against a scripted driver ----

// What the driver answers, operation by operation; an operation without a scripted result
// succeeds. Every call is written to the call log as "<operation> <first operand>".
std::map<int32_t, std::deque<int32_t>> g_script;
std::string g_call_log;

int32_t scripted_entry(int32_t code, vtn::FileBlock* file, const vtn::OperandWord* operands) {
  const std::string_view name =
      vtn::operation_rule(code) != nullptr ? vtn::operation_rule(code)->name : "?";
  std::ofstream(g_call_log, std::ios::app)
      << name << (code == vtn::op::OPEN ? " " + std::to_string(operands[0]) : std::string())
      << "\n";
  if (code == vtn::op::NAME) {
    vtn::string_stack().push_copy("PACKNAME.TWL");
    return 0;
  }
  if (code == vtn::op::SEND) {
    const std::string request = vtn::string_stack().pop_string();
    std::ofstream(g_call_log, std::ios::app) << "  " << request << "\n";
    vtn::string_stack().push_copy("");
  }
  int32_t result = 0;
  if (auto it = g_script.find(code); it != g_script.end() && !it->second.empty()) {
    result = it->second.front();
    it->second.pop_front();
  }
  if (result == 0) {
    if (code != vtn::op::SEND) vtn::clear_error();
    return 0;
  }
  vtn::post_error(result);
  if (result == 90) vtn::post_driver_error("1602", std::string("Possible data corruption in file"));
  vtn::set_error_file(file);
  return result;
}

using OpenWithRecoveryTest = ChildTest;

TEST_F(OpenWithRecoveryTest, EveryBranch) {
  using namespace vtn::op;
  struct Case {
    const char* what;
    std::vector<std::pair<int32_t, std::vector<int32_t>>> script;
    const char* answers;
    bool create_if_missing, do_not_create, shared;
    int exit_code;
    const char* calls;
    std::vector<std::string> texts;  // boxes shown
  };
  const std::string halt = "Halt";
  const Case cases[] = {
      {"opens", {}, nullptr, true, false, true, kReturned, "OPEN 66\n", {}},
      {"already open", {{OPEN, {52}}}, nullptr, true, false, true, kReturned, "OPEN 66\n", {}},
      {"not shared uses the access code",
       {},
       nullptr,
       true,
       false,
       false,
       kReturned,
       "OPEN 34\n",
       {}},
      {"locked, then free",
       {{OPEN, {32, 0}}},
       nullptr,
       true,
       false,
       true,
       kReturned,
       "OPEN 66\nSEND\n  Recover=10\nOPEN 66\n",
       {}},
      {"locked twice",
       {{OPEN, {32, 32}}},
       nullptr,
       true,
       false,
       true,
       0,
       "OPEN 66\nSEND\n  Recover=10\nOPEN 66\nNAME\n",
       {"Файл(PACKNAME.TWL) не может быть открыт.  Ошибка: Файл уже заблокирован (32).",
        "Disk Error"}},
      {"missing: created and opened",
       {{OPEN, {2, 0}}},
       nullptr,
       true,
       false,
       true,
       kReturned,
       "OPEN 66\nCREATE\nOPEN 66\n",
       {}},
      {"missing, create fails",
       {{OPEN, {2}}, {CREATE, {5}}},
       nullptr,
       true,
       false,
       true,
       0,
       "OPEN 66\nCREATE\nNAME\n",
       {"Ошибка: (Нет доступа (5)) при создании PACKNAME.TWL.  Нажмите OK для завершения "
        "программы.",
        "Ошибка создания файла!"}},
      {"missing, open after create fails",
       {{OPEN, {2, 4}}},
       nullptr,
       true,
       false,
       true,
       0,
       "OPEN 66\nCREATE\nOPEN 66\nNAME\n",
       {"Ошибка: (Слишком много открытых файлов (4)) при открытии созданного файла:PACKNAME.TWL.  "
        "Нажмите OK для "
        "завершения программы.",
        "Ошибка  при создании файла!"}},
      {"missing, creation not asked for",
       {{OPEN, {2}}},
       nullptr,
       false,
       false,
       true,
       0,
       "OPEN 66\nNAME\n",
       {"Ошибка: (Файл не найден (2)) при создании PACKNAME.TWL.  Нажмите OK для завершения "
        "программы.",
        "Ошибка создания файла!"}},
      {"missing, creation forbidden",
       {{OPEN, {2}}},
       nullptr,
       true,
       true,
       true,
       0,
       "OPEN 66\nNAME\n",
       {"Файл(PACKNAME.TWL) не может быть открыт.  Ошибка: Файл не найден (2).", "Disk Error"}},
      {"wrong structure",
       {{OPEN, {47}}},
       nullptr,
       true,
       false,
       true,
       0,
       "OPEN 66\nNAME\n",
       {"Файл Неверная структура файла (47) не соответствует описанию. Нажмите OK для "
        "завершения программы.",
        "Неправильная структура файла!"}},
      {"keys rebuilt",
       {{OPEN, {46, 0}}},
       "yes",
       true,
       false,
       true,
       kReturned,
       "OPEN 66\nNAME\nBUILDfile\nOPEN 66\n",
       {"Неправильный ключевой файл PACKNAME.TWL.  Хотите ли Вы восстановить его?"}},
      {"rebuild refused",
       {{OPEN, {46}}},
       "no",
       true,
       false,
       true,
       0,
       "OPEN 66\nNAME\n",
       {"Неправильный ключевой файл PACKNAME.TWL.  Хотите ли Вы восстановить его?",
        "Неправильный ключ!"}},
      {"rebuild fails",
       {{OPEN, {46}}, {BUILDfile, {36}}},
       "yes",
       true,
       false,
       true,
       0,
       "OPEN 66\nNAME\nBUILDfile\nNAME\n",
       {"Неправильный ключевой файл PACKNAME.TWL.  Хотите ли Вы восстановить его?",
        "Ошибка: (Поврежденный файл данных (36)) при восстановлении ключей PACKNAME.TWL.  "
        "Нажмите OK для завершения программы.",
        "Ошибка при восстановлении ключа!"}},
      {"rebuilt but still not open",
       {{OPEN, {46, 5}}},
       "yes",
       true,
       false,
       true,
       0,
       "OPEN 66\nNAME\nBUILDfile\nOPEN 66\nNAME\n",
       {"Неправильный ключевой файл PACKNAME.TWL.  Хотите ли Вы восстановить его?",
        "Файл(PACKNAME.TWL) не может быть открыт.  Ошибка: Нет доступа (5).", "Disk Error"}},
      {"access denied",
       {{OPEN, {5}}},
       nullptr,
       true,
       false,
       true,
       0,
       "OPEN 66\nNAME\n",
       {"Файл(PACKNAME.TWL) не может быть открыт.  Ошибка: Нет доступа (5).", "Disk Error"}},
      {"driver error",
       {{OPEN, {90}}},
       nullptr,
       true,
       false,
       true,
       0,
       "OPEN 66\nNAME\n",
       {"Файл(PACKNAME.TWL) не может быть открыт.  Ошибка: Possible data corruption in file "
        "(1602).",
        "Disk Error"}},
  };
  g_call_log = path("calls.log");
  static vtn::File file{vtn::FileDeclaration("TST")
                            .driver(scripted_entry)
                            .name("PACKNAME")
                            .create()
                            .field("NUMBER", vtn::ftype::SHORT)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(g_call_log);
    g_script.clear();
    for (const auto& [code, results] : c.script) {
      g_script[code] = std::deque<int32_t>(results.begin(), results.end());
    }
    const ChildRun run = run_child(c.answers, [&] {
      OpenWithRecovery(file, c.create_if_missing, c.do_not_create, 0x22, c.shared);
      return 0;
    });
    EXPECT_EQ(run.exit_code, c.exit_code);
    std::ifstream in(g_call_log);
    std::stringstream calls;
    calls << in.rdbuf();
    EXPECT_EQ(calls.str(), c.calls);
    ASSERT_EQ(run.boxes.size(), c.texts.size());
    for (size_t i = 0; i < c.texts.size(); ++i) EXPECT_EQ(run.boxes[i].text, c.texts[i]) << i;
    if (c.exit_code == 0) {
      EXPECT_EQ(run.boxes.back().caption, halt);
    }
  }
}

}  // namespace
}  // namespace ferrule
