// twl recover: reports a page log left by an interrupted flush and what the page store will do
// with it, then lets the store do it (a write access applies or abandons the log).
#include <cstdio>

#include "tools/twl/commands.hpp"
#include "tools/twl/page_log.hpp"
#include "tools/twl/session.hpp"

namespace twl {

int run_recover(const RecoverOptions& options) {
  const FileAndTable target = split_file_name(options.name);
  DiskLog log;
  if (int32_t err = read_disk_log(target.file, options.password, log)) {
    return report_error(target.file, err);
  }
  if (log.empty) {
    std::printf("%s: the page log is empty; nothing to recover\n", target.file.c_str());
    return kExitOk;
  }
  std::printf("%s: the page log holds %zu images (offsets %u to %u): a flush was cut short\n",
              target.file.c_str(), log.images.size(), log.header.log_start, log.header.log_end);
  // The decision is the store's: an unreadable log, or one whose transaction never committed,
  // is abandoned (the old state stays); otherwise the log is applied (the new state).
  if (!log.fault.empty()) {
    std::printf("decision: abandon the log, %s; the file keeps the state before that flush\n",
                log.fault.c_str());
  } else {
    std::printf(
        "decision: apply the log, unless it belongs to a transaction that never committed "
        "(then it is abandoned)\n");
  }
  if (options.dry_run) {
    std::printf("dry run: the file was not changed\n");
    return kExitOk;
  }
  Session session;
  if (int32_t err = session.open(target.file, Session::Intent::write, options.password)) {
    return report_error(target.file, err);
  }
  // An empty write access: bringing the header up to date for writing resolves the log.
  if (int32_t err = session.run(AccessMode::write, [] {})) {
    return report_error(target.file, err,
                        err == 90 ? "check " + std::to_string(session.damage_check()) : "");
  }
  DiskLog after;
  if (int32_t err = read_disk_log(target.file, options.password, after)) {
    return report_error(target.file, err);
  }
  if (!after.empty) {
    return report_error(target.file, 90, "the page log is still not empty after recovery");
  }
  const bool applied = after.header.change_counter > log.header.change_counter + 1;
  std::printf("recovered: the log was %s; change counter %u\n", applied ? "applied" : "abandoned",
              after.header.change_counter);
  return kExitOk;
}

}  // namespace twl
