// The subcommands of twl. Each returns the exit code: 0 success, 1 a damaged or refused file,
// 2 wrong usage; errors go to standard error as "twl: NAME: error N: TEXT".
#pragma once

#include <cstdint>
#include <string>

namespace twl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;

struct InfoOptions {
  std::string name;
  std::string password;
  bool json = false;
};
int run_info(const InfoOptions& options);

struct CheckOptions {
  std::string name;
  std::string password;
  bool json = false;
};
int run_check(const CheckOptions& options);

struct RecoverOptions {
  std::string name;
  std::string password;
  bool dry_run = false;
};
int run_recover(const RecoverOptions& options);

enum class ExportFormat { csv, json_lines, sqlite };
struct ExportOptions {
  std::string name;
  std::string password;
  ExportFormat format = ExportFormat::csv;
  std::string sqlite_path;
  std::string key;  // key order by this key's label (or external name); empty: record order
  bool header = true;
};
int run_export(const ExportOptions& options);

struct ImportOptions {
  std::string name;
  std::string password;
  std::string csv_path;  // "-": standard input
  bool header = true;    // the first line may be the field labels (skipped when it is)
  size_t batch = 1000;   // records per LOGOUT / COMMIT
};
int run_import(const ImportOptions& options);

struct RebuildOptions {
  std::string name;
  std::string password;
  std::string key;  // empty: every key of the table
};
int run_rebuild(const RebuildOptions& options);

// Reports a failure with the run-time's number and text; returns kExitRefused.
int report_error(const std::string& name, int32_t code, const std::string& detail = {});

}  // namespace twl
