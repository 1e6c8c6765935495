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

// A copy of the utility's start-up locale (its program procedure makes these calls in this order).
struct Row {
  std::string_view key;
  std::string_view value;
};
const Row kUtilityLocale[] = {
    {"VTNCHARSET", "WINDOWS"},
    {"VTNMON", u8"Янв,Фев,Мар,Апр,Май,Июн,Июл,Авг,Сен,Окт,Ноя,Дек"_ansi},
    {"VTNMONTH",
     u8"января,февраля,марта,апреля,мая,июня,июля,августа,сентября,октября,ноября,декабря"_ansi},
    {"VTNBUTTON", u8"&OK,&Да,&Нет,Пре&рвать,&Повторить,&Игнорировать,&Отменить,&Справка"_ansi},
    {"VTNCOLSEQ", "WINDOWS"},
    {"VTNCASE", "WINDOWS"},
    {"VTNAMPM", u8"ут,вч"_ansi},
    {"VTNMSG2", u8"Файл не найден"_ansi},
    {"VTNMSG3", u8"Путь не найден"_ansi},
    {"VTNMSG4", u8"Слишком много открытых файлов"_ansi},
    {"VTNMSG5", u8"Нет доступа"_ansi},
    {"VTNMSG7", u8"Память повреждена"_ansi},
    {"VTNMSG8", u8"Недостаточно памяти"_ansi},
    {"VTNMSG30", u8"Запись в очереди не найдена"_ansi},
    {"VTNMSG32", u8"Файл уже заблокирован"_ansi},
    {"VTNMSG33", u8"Запись не доступна"_ansi},
    {"VTNMSG35", u8"Запись не найдена"_ansi},
    {"VTNMSG36", u8"Поврежденный файл данных"_ansi},
    {"VTNMSG37", u8"Файл не был открыт"_ansi},
    {"VTNMSG38", u8"Поврежденный ключевой файл"_ansi},
    {"VTNMSG40", u8"Недопустимое повторение ключа"_ansi},
    {"VTNMSG43", u8"Запись уже захвачена"_ansi},
    {"VTNMSG45", u8"Некорректное имя файла"_ansi},
    {"VTNMSG46", u8"Необходимо перестроить ключ"_ansi},
    {"VTNMSG47", u8"Неверная структура файла"_ansi},
    {"VTNMSG48", u8"Невозможно открыть файл транзакций"_ansi},
    {"VTNMSG52", u8"Файл уже открыт"_ansi},
    {"VTNMSG53", u8"Поврежденный заголовок dBase файла"_ansi},
    {"VTNMSG54", u8"Файл не имеет атрибута CREATE"_ansi},
    {"VTNMSG56", u8"Транзакция уже активна"_ansi},
    {"VTNMSG57", u8"Поврежденный MEMO-файл"_ansi},
    {"VTNMSG63", u8"Необходим монопольный доступ к файлу"_ansi},
    {"VTNMSG64", u8"Нарушение совместного доступа"_ansi},
    {"VTNMSG65", u8"Ошибка отката транзакции"_ansi},
    {"VTNMSG73", u8"Отсутствует MEMO-файл"_ansi},
    {"VTNMSG75", u8"Неверное описание типа поля"_ansi},
    {"VTNMSG76", u8"Неверный параметр сортировки"_ansi},
    {"VTNMSG77", u8"Индекс недоступен"_ansi},
    {"VTNMSG78", u8"Вызов функции с неверным количеством параметров"_ansi},
    {"VTNMSG79", u8"Тип данных не поддерживается драйвером баз данных"_ansi},
    {"VTNMSG80", u8"Функция не поддерживается драйвером баз данных"_ansi},
    {"VTNMSG81", u8"Неизвестная ошибка драйвера баз данных"_ansi},
    {"VTNMSG88", u8"Длина ключа(индекса) превышает 245"_ansi},
    {"VTNMSG89", u8"Запись была изменена другим пользователем"_ansi},
    {"VTNMSG90", u8"Ошибка драйвера баз данных"_ansi},
    {"VTNMSG800", u8"Неверное выражение"_ansi},
    {"VTNMSG801", u8"Не найдена переменная"_ansi},
};

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

TEST_F(EnvironmentTest, TheUtilityLocale) {
  for (const Row& row : kUtilityLocale) ENVSET(row.key, row.value);

  char tree[] = "\xB8\xEB\xEA\xE0";  // ёлка
  to_upper(tree, kUpToNul);
  EXPECT_EQ(std::string(tree), u8"ЁЛКА"_ansi);

  const DateNames& names = date_names();
  EXPECT_EQ(std::string(names.month[0]), u8"января"_ansi);
  EXPECT_EQ(std::string(names.month[8]), u8"сентября"_ansi);
  EXPECT_EQ(std::string(names.month_short[4]), u8"Май"_ansi);
  EXPECT_EQ(std::string(names.day_part[0]), u8"ут"_ansi);
  EXPECT_EQ(std::string(names.day_part[1]), u8"вч"_ansi);

  const std::string_view buttons[] = {
      "&OK"_ansi,          u8"&Да"_ansi,           u8"&Нет"_ansi,      u8"Пре&рвать"_ansi,
      u8"&Повторить"_ansi, u8"&Игнорировать"_ansi, u8"&Отменить"_ansi, u8"&Справка"_ansi};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(find_message_override(0x7F00 + i), std::optional<std::string_view>(buttons[i])) << i;
  }

  EXPECT_EQ(std::string(error_message(2)), u8"Файл не найден"_ansi);
  EXPECT_EQ(std::string(error_message(88)), u8"Длина ключа(индекса) превышает 245"_ansi);
  EXPECT_EQ(std::string(error_message(801)), u8"Не найдена переменная"_ansi);
  EXPECT_STREQ(error_message(55), "File Must Be Shared");  // not replaced

  EXPECT_FALSE(char_tables().oem_flag);
  EXPECT_LT(collated_compare(u8"еж"_ansi, u8"ёж"_ansi), 0);
  EXPECT_LT(collated_compare(u8"ёж"_ansi, u8"жук"_ansi), 0);
  EXPECT_LT(collated_compare("Zebra", u8"абрикос"_ansi), 0);
  EXPECT_LT(collated_compare(u8"абрикос"_ansi, u8"Абрикос"_ansi), 0);
  EXPECT_LT(collated_compare(u8"Абрикос"_ansi, u8"банан"_ansi), 0);
}

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
