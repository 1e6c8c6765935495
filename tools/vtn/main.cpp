// vtn: a console to the run-time. It evaluates expressions and tries pictures with exactly the
// answers a program gets, for scripts, for checking a picture before it goes into a program,
// and for support. All its work is done by the run-time library.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "console.hpp"
#include "runtime/core/random.hpp"
#include "runtime/eval/evaluate.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/format/picture.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/error_state.hpp"

namespace {

using vtn::console::report;
using vtn::console::to_ansi;
using vtn::console::to_utf8;

constexpr int kExitFailed = 1;  // an expression or picture failed
constexpr int kExitUsage = 2;   // the command line was wrong

constexpr const char* kMainFooter = R"text(
Texts are UTF-8 on the terminal and Windows-1251 inside the run-time, so any character that
1251 has (Russian included) goes in and comes out unchanged. The locale (collation, case,
month names, date and time pictures) comes from the same places as a program's: the "intl"
section of the settings profile (VTN_WININI, else ~/.config/vortane/win.ini) and vtn.ENV beside
the executable, then --env-file and --env, in the order given. A program's defaults fold case
for A-Z only; VTNCASE=WINDOWS gives every letter of 1251 its partner:

  vtn --env VTNCASE=WINDOWS eval "UPPER('Привет')"     ПРИВЕТ

Exit status: 0 when everything succeeded, 1 when an expression or picture failed (the
run-time's error number and text go to standard error), 2 for a wrong command line.

Run "vtn <command> --help" for the details of a command.)text";

constexpr const char* kEvalFooter = R"text(
Evaluates each EXPRESSION and prints its value on a line of its own, as EVALUATE gives it: a
number in its shortest exact form (3.5, 100, 1.5E+20), a text as it is.

With no EXPRESSION, reads one expression per line from standard input; blank lines and lines
starting with "#" are skipped. On a terminal there is a prompt with line editing and history;
Ctrl-D ends. An expression that fails prints its error and the others still run.

The language: numbers (12, 0FFH, 17O, 101B, 1.5E2), texts in single quotes ('it''s'),
pictures (@N10.2), operators ^ * / % + - & = <> < > <= >= AND OR XOR NOT, and the built-in
functions (UPPER, SUB, INSTRING, FORMAT, DATE, TODAY, ROUND, MATCH, CHOOSE, GETINI, ...).

Errors: 800 the text is not an expression (the place is shown), 801 a name that is not bound,
8 a text too long for memory.

An expression that begins with "-" must follow "--", so that it is not taken for an option.

Examples:
  vtn eval '1 + 2 * 3 ^ 2'                    19
  vtn eval "FORMAT(TODAY(), @D6)"              07/12/2026
  vtn eval --bind name=Smith "UPPER(name)"     SMITH
  vtn eval -- '-7 % 3'                         -1
  printf '1+1\n2*3\n' | vtn eval               2, then 6)text";

constexpr const char* kFormatFooter = R"text(
Shows VALUE through PICTURE as FORMAT does. A numeric picture reads VALUE as an exact decimal
number, a date or time picture as a date or time serial, a text picture takes it as it is.
With --expression, VALUE is an expression whose value is shown (FORMAT(VALUE, PICTURE)).

A PICTURE that does not compile is an error (exit status 1), so a picture can be checked
before it goes into a program.

Examples:
  vtn format @N-12.2 -- -1234.5                   "   -1,234.50"
  vtn format @D3 --expression 'DATE(10,31,1959)'  "OCT 31,1959"
  vtn format @P(###)###-####P 5551234567          "(555)123-4567")text";

constexpr const char* kDeformatFooter = R"text(
Reads TEXT back through PICTURE as DEFORMAT does: the plain digits of a number (with "-" and
"."), or the serial of a date or time. TEXT must stand in the places that FORMAT gives it.

Examples:
  vtn deformat @N12.2 '    1,234.50'   0001234.50 (a blank digit cell reads as 0)
  vtn deformat @D1 ' 1/05/30'          the date serial of 5 January 2030)text";

// Binds NAME=VALUE pairs as text variables; the storage lives as long as the process.
bool bind_texts(const std::vector<std::string>& pairs) {
  static std::vector<std::unique_ptr<char[]>> storage;
  for (const std::string& pair : pairs) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) {
      report("--bind wants NAME=VALUE, not \"" + pair + "\"");
      return false;
    }
    const std::string value = to_ansi(pair.substr(eq + 1));
    auto bytes = std::make_unique<char[]>(value.size() + 1);
    value.copy(bytes.get(), value.size());
    bytes[value.size()] = '\0';
    vtn::bind_variable(to_ansi(pair.substr(0, eq)),
                       vtn::make_typed_reference(vtn::ValueType::CSTRING, bytes.get(),
                                                 static_cast<uint32_t>(value.size() + 1)));
    storage.push_back(std::move(bytes));
  }
  return true;
}

// Evaluates one expression (UTF-8) and prints its value; false when it failed.
bool evaluate_and_print(const std::string& text) {
  const std::string ansi = to_ansi(text);
  vtn::eval::CompileError error;
  const std::optional<std::string> value = vtn::evaluate(ansi, &error);
  if (!value) {
    vtn::console::report_error(ansi, &error);
    return false;
  }
  std::cout << to_utf8(*value) << '\n';
  return true;
}

int run_eval(const std::vector<std::string>& expressions) {
  bool ok = true;
  if (!expressions.empty()) {
    for (const std::string& e : expressions) ok = evaluate_and_print(e) && ok;
    return ok ? 0 : kExitFailed;
  }
  vtn::console::LineReader reader;
  while (std::optional<std::string> line = reader.next()) {
    const size_t first = line->find_first_not_of(" \t");
    if (first == std::string::npos || (*line)[first] == '#') continue;
    ok = evaluate_and_print(*line) && ok;
    std::cout.flush();
  }
  return ok ? 0 : kExitFailed;
}

bool picture_compiles(const std::string& picture_ansi) {
  vtn::CompiledPicture compiled;
  if (vtn::compile_picture(picture_ansi, compiled)) return true;
  report("not a picture: " + to_utf8(picture_ansi));
  return false;
}

int run_format(const std::string& picture, const std::string& value, bool expression) {
  const std::string picture_ansi = to_ansi(picture);
  if (!picture_compiles(picture_ansi)) return kExitFailed;
  if (!expression) {
    std::cout << to_utf8(vtn::format_picture_text(to_ansi(value), picture_ansi)) << '\n';
    return 0;
  }
  // FORMAT over the expression, with the picture as a text constant.
  std::string quoted;
  for (char c : picture_ansi) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return evaluate_and_print("FORMAT((" + value + "), '" + to_utf8(quoted) + "')") ? 0 : kExitFailed;
}

int run_deformat(const std::string& picture, const std::string& text) {
  const std::string picture_ansi = to_ansi(picture);
  if (!picture_compiles(picture_ansi)) return kExitFailed;
  std::cout << to_utf8(vtn::deformat_picture(to_ansi(text), picture_ansi)) << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vtn: a console to the vtn run-time: evaluate expressions, try pictures.", "vtn"};
  app.footer(kMainFooter);
  app.set_version_flag("--version", std::string("vtn ") + VTN_VERSION + " (run-time 5.2.0)");
  app.require_subcommand(1);
  app.fallthrough();
  std::vector<std::string> env_files, env_keys;
  app.add_option("--env-file", env_files, "Apply an environment file (lines of KEY=VALUE).")
      ->type_name("FILE")
      ->allow_extra_args(false)
      ->check(CLI::ExistingFile);
  app.add_option("--env", env_keys, "Apply one environment key, as ENVSET does (repeatable).")
      ->type_name("KEY=VALUE")
      ->allow_extra_args(false);

  std::vector<std::string> expressions;
  std::vector<std::string> binds;
  CLI::App* eval = app.add_subcommand("eval", "Evaluate expressions and print their values.");
  eval->footer(kEvalFooter);
  eval->add_option("--bind", binds, "Bind NAME to the text VALUE (repeatable).")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  eval->add_option("expression", expressions, "Expressions; none: read them from standard input.")
      ->type_name("EXPRESSION");

  std::string picture, value;
  bool as_expression = false;
  CLI::App* format = app.add_subcommand("format", "Show a value through a picture (FORMAT).");
  format->footer(kFormatFooter);
  format->add_option("picture", picture, "The picture, e.g. @N-12.2, @D3, @T4.")->required();
  format->add_option("value", value, "The value to show.")->required();
  format->add_flag("-e,--expression", as_expression, "VALUE is an expression.");

  std::string text;
  CLI::App* deformat = app.add_subcommand("deformat", "Read text back through a picture.");
  deformat->footer(kDeformatFooter);
  deformat->add_option("picture", picture, "The picture the text was shown through.")->required();
  deformat->add_option("text", text, "The display text.")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  vtn::InitializeEnvironment();
  for (const std::string& file : env_files) vtn::LoadEnvironmentFile(to_ansi(file));
  for (const std::string& pair : env_keys) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) {
      report("--env wants KEY=VALUE, not \"" + pair + "\"");
      return kExitUsage;
    }
    vtn::ENVSET(to_ansi(pair.substr(0, eq)), to_ansi(pair.substr(eq + 1)));
  }
  vtn::seed_random_from_clock();
  if (*eval) {
    if (!bind_texts(binds)) return kExitUsage;
    return run_eval(expressions);
  }
  if (*format) return run_format(picture, value, as_expression);
  return run_deformat(picture, text);
}
