// WarnUser: ferrule's vocabulary of 38 numbered warnings, all Russian, each shown in a message box
// with its own caption, icon, buttons and default button. Some of them end the program (HALT with
// code 0 and a short Russian message), the others return the button that was pressed.
//
// A warning's text joins fixed pieces with the two texts of the call and the current error, the
// latter as "<message> (<code>)", or for error 90 as "<driver message> (<driver code>)". Pieces
// run together exactly as the table gives them: the texts are the system's own, byte for byte,
// double blanks and missing blanks included.
//
// The utility itself raises warnings 1 to 5 and 30 (through OpenWithRecovery); the others serve
// procedures that browse and edit records.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ferrule {

// Button values of the message box and the two icon codes the warnings use.
inline constexpr int32_t kOk = 1, kYes = 2, kNo = 4, kRetry = 16, kCancel = 64;
inline constexpr std::string_view kWarningIcon = "\xFF\x01\x04\x7F";   // exclamation, 32515
inline constexpr std::string_view kQuestionIcon = "\xFF\x01\x03\x7F";  // question, 32514

// What follows the box.
enum class Afterwards : uint8_t {
  kButton,     // the value of the button pressed is returned
  kHalt,       // HALT(0, halt message)
  kYesOrHalt,  // No: HALT(0, halt message); otherwise 2 (Yes) is returned
  kNoResult,   // 0 is returned
};

// Which text a row shows. The row's main text (and caption) when the condition holds or there
// is none; the other text (and caption, when it has one) otherwise.
enum class TextChoice : uint8_t {
  kAlways,
  kFirstTextIsDown,       // the first text equals "Вниз"
  kFirstTextIsPut,        // the first text equals "Put"
  kErrorIsZeroOrChanged,  // ERRORNUMBER() is 0 or 89
};

// One warning. Texts are 1251; in a text "{1}" and "{2}" stand for the two texts of the call
// (without trailing blanks) and "{E}" for the error text.
struct Warning {
  std::string_view caption;
  std::string_view text;
  std::string_view icon;
  int32_t buttons = 0;
  int32_t default_button = 0;
  Afterwards afterwards = Afterwards::kButton;
  std::string_view halt_message = {};
  TextChoice choice = TextChoice::kAlways;
  std::string_view other_caption = {};  // empty: the main caption
  std::string_view other_text = {};
};

inline constexpr int32_t kWarningCount = 38;
// The table; warning n is element n - 1.
std::span<const Warning> warning_table();

// The error as warnings show it, from the current error state: CLIP(ERRORTEXT()) " (" code ")",
// or for error 90 CLIP(DRIVERERROR()) " (" CLIP(DRIVERERRORCODE()) ")"; at most 150 characters.
inline constexpr size_t kErrorTextLimit = 150;
std::string warning_error_text();

// What warning `id` shows for these texts under the current error state.
struct WarningBox {
  std::string caption;
  std::string text;
};
WarningBox compose_warning(int32_t id, std::string_view first_text, std::string_view second_text);

// Shows warning `id` (1 to 38; any other shows nothing and returns 0) and does what follows it.
int32_t WarnUser(int32_t id, std::string_view first_text, std::string_view second_text);

// Pops the name of a file from the string stack (the caller has just pushed NAME(file)) and shows
// warning `id` with it as the first text and an empty second text.
int32_t WarnAboutFile(int32_t id);

}  // namespace ferrule
