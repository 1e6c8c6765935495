// twl: looks inside record files (.TWL), checks them, recovers them after a crash, exports and
// imports their tables and rebuilds their keys, without a program of one's own. Every subcommand
// opens the file shared and works inside the record-file locks, so it is safe beside running
// programs.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/twl/commands.hpp"

namespace {

constexpr const char* kNameHelp =
    "the record file, FILE or FILE\\!TABLE (\".TWL\" is added when the name has no extension)";

// The subcommand the command line names: its first argument that is neither an option nor the
// value of --password; empty when there is none.
std::string named_subcommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--password") {
      ++i;
    } else if (arg.empty() || arg[0] != '-') {
      return arg;
    }
  }
  return "";
}

// Without a known subcommand CLI11 would only say that one is required; twl names what it got
// and what it knows.
int refuse_subcommand(const CLI::App& app, const std::string& named) {
  std::string known;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    known += (known.empty() ? "" : ", ") + command->get_name();
  }
  if (named.empty()) {
    std::fprintf(stderr, "twl: no subcommand given; one of %s is needed (twl --help)\n",
                 known.c_str());
  } else {
    std::fprintf(stderr, "twl: unknown subcommand \"%s\"; the subcommands are %s (twl --help)\n",
                 named.c_str(), known.c_str());
  }
  return twl::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"twl: look inside, check, recover, export, import and rebuild record files (.TWL)",
               "twl"};
  app.set_version_flag("--version", std::string("twl ") + TWL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();  // the global options may follow the subcommand
  std::string password;
  app.add_option("--password", password, "the owner password of an encrypted file");

  twl::InfoOptions info;
  CLI::App* info_command = app.add_subcommand(
      "info", "the header, the page log and the tables with their counts, keys and definitions");
  info_command->add_option("FILE", info.name, kNameHelp)->required();
  info_command->add_flag("--json", info.json, "print JSON for scripts");

  twl::CheckOptions check;
  CLI::App* check_command = app.add_subcommand(
      "check",
      "check the pages, and every table's counters and keys against its records; exit 1 when "
      "damaged");
  check_command->add_option("FILE", check.name, kNameHelp)->required();
  check_command->add_flag("--json", check.json, "print JSON for scripts");

  twl::RecoverOptions recover;
  CLI::App* recover_command = app.add_subcommand(
      "recover",
      "complete or abandon a flush that a crash cut short, as the record-file rules say");
  recover_command->add_option("FILE", recover.name, kNameHelp)->required();
  recover_command->add_flag("--dry-run", recover.dry_run, "only report; change nothing");

  twl::ExportOptions exporting;
  CLI::App* export_command = app.add_subcommand(
      "export",
      "write a table's records as CSV (default) or JSON lines, or every table into SQLite");
  export_command->add_option("FILE", exporting.name, kNameHelp)->required();
  bool json_lines = false;
  export_command->add_flag("--json", json_lines, "JSON lines: one object per record");
  export_command->add_option("--sqlite", exporting.sqlite_path,
                             "write into this SQLite database: one SQL table per table");
  export_command->add_option("--key", exporting.key, "in the order of this key (its label)");
  bool no_header = false;
  export_command->add_flag("--no-header", no_header, "CSV without the line of field labels");

  twl::ImportOptions importing;
  CLI::App* import_command = app.add_subcommand(
      "import", "add the records of a CSV file (as export writes it) to an existing table");
  import_command->add_option("FILE", importing.name, kNameHelp)->required();
  import_command->add_option("CSV", importing.csv_path, "the CSV file, or - for standard input")
      ->required();
  bool import_no_header = false;
  import_command->add_flag("--no-header", import_no_header,
                           "the first line is a record even when it holds the field labels");
  import_command->add_option("--batch", importing.batch, "records per LOGOUT / COMMIT (1000)")
      ->check(CLI::PositiveNumber);

  twl::RebuildOptions rebuild;
  CLI::App* rebuild_command = app.add_subcommand(
      "rebuild", "build the keys of a table (BUILD), with progress; Ctrl-C cancels cleanly");
  rebuild_command->add_option("FILE", rebuild.name, kNameHelp)->required();
  rebuild_command->add_option("--key", rebuild.key, "only this key (its label)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const std::string named = named_subcommand(argc, argv);
    bool known = false;
    try {
      known = !named.empty() && app.get_subcommand(named) != nullptr;
    } catch (const CLI::OptionNotFound&) {
    }
    if (!known && e.get_exit_code() != 0) return refuse_subcommand(app, named);
    const int code = app.exit(e);
    return code == 0 ? twl::kExitOk : twl::kExitUsage;
  }

  if (*info_command) {
    info.password = password;
    return twl::run_info(info);
  }
  if (*check_command) {
    check.password = password;
    return twl::run_check(check);
  }
  if (*recover_command) {
    recover.password = password;
    return twl::run_recover(recover);
  }
  if (*import_command) {
    importing.password = password;
    importing.header = !import_no_header;
    return twl::run_import(importing);
  }
  if (*rebuild_command) {
    rebuild.password = password;
    return twl::run_rebuild(rebuild);
  }
  exporting.password = password;
  exporting.header = !no_header;
  if (json_lines && !exporting.sqlite_path.empty()) {
    std::fprintf(stderr, "twl: export: --json and --sqlite exclude each other\n");
    return twl::kExitUsage;
  }
  exporting.format = json_lines                       ? twl::ExportFormat::json_lines
                     : !exporting.sqlite_path.empty() ? twl::ExportFormat::sqlite
                                                      : twl::ExportFormat::csv;
  return twl::run_export(exporting);
}
