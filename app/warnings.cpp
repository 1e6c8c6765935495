#include "app/warnings.hpp"

#include "runtime/core/halt.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/ui/message_dialog.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"

namespace ferrule {
namespace {

using namespace vtn::literals;

constexpr int32_t kDriverError = 90;
constexpr int32_t kRecordChanged = 89;

constexpr std::string_view W = kWarningIcon;
constexpr std::string_view Q = kQuestionIcon;
constexpr Afterwards kButton = Afterwards::kButton;
constexpr Afterwards kHalt = Afterwards::kHalt;
constexpr Afterwards kNoResult = Afterwards::kNoResult;

// The vocabulary, written in UTF-8 and stored as 1251 (converted at compile time). Where a text
// joins pieces without a blank, or with two, it does so on purpose: these are the texts the users
// know.
constexpr Warning kWarnings[kWarningCount] = {
    /* 1 */ {u8"Файл неправильной структуры"_ansi,
             u8"Файл {E} не соответствует описанию. Нажмите OK для завершения программы."_ansi, W,
             kOk, kOk, kHalt, u8"Неправильная структура файла!"_ansi},
    /* 2 */
    {u8"Неправильный ключевой файл"_ansi,
     u8"Неправильный ключевой файл {1}.  Хотите ли Вы восстановить его?"_ansi, Q, kYes | kNo, kYes,
     Afterwards::kYesOrHalt, u8"Неправильный ключ!"_ansi},
    /* 3 */
    {u8"Ошибка при восстановлении ключа"_ansi,
     u8"Ошибка: ({E}) при восстановлении ключей {1}.  Нажмите OK для завершения программы."_ansi, W,
     kOk, kOk, kHalt, u8"Ошибка при восстановлении ключа!"_ansi},
    /* 4 */
    {u8"Ошибка создания файла"_ansi,
     u8"Ошибка: ({E}) при создании {1}.  Нажмите OK для завершения программы."_ansi, W, kOk, kOk,
     kHalt, u8"Ошибка создания файла!"_ansi},
    /* 5 */
    {u8"Ошибка при создании файла"_ansi,
     u8"Ошибка: ({E}) при открытии созданного файла:{1}.  Нажмите OK для завершения программы."_ansi,
     W, kOk, kOk, kHalt, u8"Ошибка  при создании файла!"_ansi},
    /* 6 */
    {u8"Процедура не разработана"_ansi, u8"Процедура {1} еще не разработана."_ansi, W, kOk, kOk},
    /* 7 */
    {"", u8"Невозможен поиск по ключу.  Ошибка: {E}.  Добавление записи не выполнено"_ansi, W, kOk,
     0},
    /* 8 */
    {u8"Неправильный диапазон"_ansi, u8"Значение {1} должно быть меньше, чем {2}."_ansi, W, kOk,
     kOk},
    /* 9 */
    {u8"Неправильный диапазон"_ansi, u8"Значение {1} должно быть больше, чем {2}."_ansi, W, kOk,
     kOk},
    /* 10 */
    {u8"Неправильный диапазон"_ansi, u8"Значение {1} должно быть в диапазоне между {2}."_ansi, W,
     kOk, kOk},
    /* 11 */
    {u8"Неправильное содержимое поля"_ansi, u8"Значение {1} должно содержаться в файле {2}"_ansi, W,
     kOk, kOk},
    /* 12 */
    {u8"Разрушение связей при редактировании"_ansi,
     u8"На эту запись ссылаются записи файла {1}.  Запрещается изменять связанные поля,  "
     u8"поэтому в них восстановлены первоначальные значения."_ansi,
     W, kOk, kOk},
    /* 13 */
    {u8"Разрушение связей при удалении записи"_ansi,
     u8"На эту запись ссылаются записи файла {1}.  Эта запись не может быть удалена пока "
     u8"существуют эти ссылки."_ansi,
     W, kOk, kOk},
    /* 14 */
    {u8"Ошибка при добавлении записи"_ansi,
     u8"Возникла ошибка при попытке обновления записи.  Ошибка: {E}."_ansi, W, kOk, kOk},
    /* 15 */
    {u8"Ошибка при обновлении записи"_ansi,
     u8"Эта запись была изменена с другой станции."_ansi,
     W,
     kOk,
     kOk,
     kButton,
     {},
     TextChoice::kErrorIsZeroOrChanged,
     {},
     u8"Возникла ошибка({E})  при попытке обновить запись файла.  Возможная причина: {1}."_ansi},
    /* 16 */
    {u8"Ошибка при обновлении записи"_ansi,
     u8"Возникла ошибка при попытке изменения этой записи. Хотите повторить перезапись?"_ansi, W,
     kYes | kNo | kCancel, kCancel},
    /* 17 */
    {u8"Ошибка при стирании записи"_ansi,
     u8"Возникла ошибка({E}) при попытке стереть запись файла {1}."_ansi, W, kOk, kOk},
    /* 18 */
    {u8"Ошибка при удалении записи"_ansi,
     u8"Возникла ошибка при удалении этой записи. Хотите попробовать еще раз?"_ansi, W,
     kYes | kNo | kCancel, kCancel},
    /* 19 */
    {u8"Недопустимый запрос"_ansi,
     u8"Эта процедура была вызвана для добавления записи, в то время как в ней добавление "
     u8"записей не разрешается.  Нажмите OK для возврата в вызвавшую процедуру."_ansi,
     W, kOk, kOk},
    /* 20 */
    {u8"Недопустимый запрос"_ansi,
     u8"Эта процедура была вызвана для изменения записи, в то время как в ней изменение "
     u8"записей не разрешается.  Нажмите OK для возврата в вызвавшую процедуру"_ansi,
     W, kOk, kOk},
    /* 21 */
    {u8"Недопустимый запрос"_ansi,
     u8"Эта процедура была вызвана для удаления записи, в то время как в ней удаление "
     u8"записей не разрешается.  Нажмите OK для возврата в вызвавшую процедуру"_ansi,
     W, kOk, kOk},
    /* 22 */
    {u8"Создание файла не предусмотрено"_ansi,
     u8"Файл {1} не найден, а создание файла не предусмотрено (не разрешается).  Нажмите "
     u8"OK для завершения этой программы."_ansi,
     W, kOk, kOk, kHalt, u8"Ошибка создания файла!"_ansi},
    /* 23 */
    {u8"Отмена редактирования"_ansi,
     u8"Вы уверены, что хотите отменить изменения в этой записи?"_ansi, Q, kYes | kNo, kNo},
    /* 24 */
    {u8"Повторяющийся ключ"_ansi,
     u8"Добавление этой записи создаст недопустимые повторения в ключе:{1}"_ansi, W, kOk, kOk},
    /* 25 */
    {u8"Ошибка при автонумерации"_ansi,
     u8"Неудача при автонумерации этой записи.  Ошибка: {E}."_ansi, W, kRetry | kCancel, kCancel},
    /* 26 */
    {u8"Ошибка загрузки файла"_ansi, u8"Ошибка при загрузке файла {1}.  Ошибка: {E}."_ansi, W, kOk,
     kOk},
    /* 27 */
    {u8"Отмена запроса"_ansi, u8"Вы уверены, что хотите прекратить загрузку файла {1}?"_ansi, Q,
     kOk | kCancel, kCancel},
    /* 28 */
    {u8"Ошибка загрузки файла"_ansi,
     u8"Ошибка при загрузке файла {1}.  Запрошенный файл не содержит текста."_ansi, W, kOk, kOk},
    /* 29 */
    {u8"Конец файла"_ansi,
     u8"Достигнут конец просматриваемого файла.  Хотите перейти к началу файла?"_ansi,
     Q,
     kYes | kNo,
     kYes,
     kButton,
     {},
     TextChoice::kFirstTextIsDown,
     u8"Начало файла"_ansi,
     u8"Достигнуто начало просматриваемого файла.  Хотите перейти к концу файла?"_ansi},
    /* 30 */
    {u8"Ошибка при доступе к файлу"_ansi, u8"Файл({1}) не может быть открыт.  Ошибка: {E}."_ansi, W,
     kOk, kOk},
    /* 31 */
    {u8"Ошибка в процессе записи"_ansi,
     u8"Возникла ошибка при записи изменений в файл {2}.  Ошибка: {E}"_ansi,
     W,
     kOk,
     kOk,
     kButton,
     {},
     TextChoice::kFirstTextIsPut,
     u8"Ошибка в процессе удаления"_ansi,
     u8"Возникла ошибка при удалении записи файла{2}.  Ошибка: {E}"_ansi},
    /* 32 */
    {u8"Подтвердите удаление"_ansi,
     u8"Вы потребовали удалить текущую запись.Нажатием на OK подтвердите необходимость "
     u8"удаления этой записи."_ansi,
     Q, kOk | kCancel, kCancel},
    /* 33 */
    {u8"Отмена редактирования"_ansi, u8"Хотите сохранить изменения в этой записи?"_ansi, Q,
     kYes | kNo | kCancel, kNo},
    /* 34 */
    {u8"Ошибка выполнения транзакции"_ansi,
     u8"Ошибка ({E}) при попытке выполнитьтранзакцию {1}для {2}.  Транзакция {1} "
     u8"отменена."_ansi,
     W, kOk, kOk, kNoResult},
    /* 35 */
    {u8"Ошибка извлечения записи"_ansi,
     u8"Ошибка ({E}) При попытке доступа кзаписи файла {1}.  Возвращаемся впредыдущее "
     u8"окно."_ansi,
     W, kOk, kOk, kNoResult},
    /* 36 */
    {u8"Ошибка открытия списка"_ansi,
     u8"Ошибка: ({E}) при открытии текущего списка. Ограничения и фильтр "
     u8"проигорированы."_ansi,
     W, kOk, kOk, kNoResult},
    /* 37 */
    {u8"Запись добавлена"_ansi, u8"Запись была успешно добавлена. Будете добавлять следующую?"_ansi,
     Q, kYes | kNo, kYes},
    /* 38 */
    {u8"Запись не обновляется"_ansi,
     u8"Эта запись была изменена с другой станции. Изменения сейчас будут показаны. "
     u8"Используйте кнопку с кавычкой или Ctrl+' для повторной попытки внести Ваши "
     u8"изменения."_ansi,
     W, kOk, kOk},
};

bool main_text_applies(TextChoice choice, std::string_view first_text) {
  switch (choice) {
    case TextChoice::kAlways:
      return true;
    case TextChoice::kFirstTextIsDown:
      return vtn::collated_compare(first_text, u8"Вниз"_ansi) == 0;
    case TextChoice::kFirstTextIsPut:
      return vtn::collated_compare(first_text, "Put") == 0;
    case TextChoice::kErrorIsZeroOrChanged:
      return vtn::ERRORNUMBER() == 0 || vtn::ERRORNUMBER() == kRecordChanged;
  }
  return true;
}

// Replaces the placeholders of `pattern`; what is inserted is not searched again.
std::string fill(std::string_view pattern, std::string_view first, std::string_view second,
                 std::string_view error) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}') {
      const char which = pattern[i + 1];
      if (which == '1' || which == '2' || which == 'E') {
        out += which == '1' ? first : which == '2' ? second : error;
        i += 2;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}

}  // namespace

std::span<const Warning> warning_table() {
  return kWarnings;
}

std::string warning_error_text() {
  std::string text;
  if (vtn::ERRORNUMBER() != kDriverError) {
    text =
        std::string(vtn::clip(vtn::ERRORTEXT())) + " (" + std::to_string(vtn::ERRORNUMBER()) + ")";
  } else {
    text = std::string(vtn::clip(vtn::DRIVERERROR())) + " (" +
           std::string(vtn::clip(vtn::DRIVERERRORCODE())) + ")";
  }
  if (text.size() > kErrorTextLimit) text.resize(kErrorTextLimit);
  return text;
}

WarningBox compose_warning(int32_t id, std::string_view first_text, std::string_view second_text) {
  const std::string error = warning_error_text();
  const Warning& w = kWarnings[id - 1];
  const bool main = main_text_applies(w.choice, first_text);
  const std::string_view caption = main || w.other_caption.empty() ? w.caption : w.other_caption;
  const std::string_view pattern = main ? w.text : w.other_text;
  return {std::string(caption),
          fill(pattern, vtn::clip(first_text), vtn::clip(second_text), vtn::clip(error))};
}

int32_t WarnUser(int32_t id, std::string_view first_text, std::string_view second_text) {
  if (id < 1 || id > kWarningCount) return 0;
  const Warning& w = kWarnings[id - 1];
  const WarningBox box = compose_warning(id, first_text, second_text);
  const int32_t pressed =
      vtn::MessageDialog(box.text, box.caption, w.icon, std::to_string(w.buttons),
                         static_cast<uint32_t>(w.default_button), 0);
  switch (w.afterwards) {
    case Afterwards::kButton:
      return pressed;
    case Afterwards::kHalt:
      vtn::HALT(0, w.halt_message);
    case Afterwards::kYesOrHalt:
      if (pressed == kNo) vtn::HALT(0, w.halt_message);
      return kYes;
    case Afterwards::kNoResult:
      return 0;
  }
  return 0;
}

int32_t WarnAboutFile(int32_t id) {
  const std::string name = vtn::string_stack().pop_string();
  return WarnUser(id, name, "");
}

}  // namespace ferrule
