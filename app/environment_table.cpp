#include "app/environment_table.hpp"

#include "runtime/platform/code_pages.hpp"

namespace ferrule {
namespace {

using namespace vtn::literals;

// Written in UTF-8, stored as 1251 (converted at compile time).
constexpr EnvironmentSetting kProgramEnvironment[] = {
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

}  // namespace

std::span<const EnvironmentSetting> program_environment() {
  return kProgramEnvironment;
}

}  // namespace ferrule
