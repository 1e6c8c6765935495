// twl recover: reports a page log left by an interrupted flush and what the page store will do
// with it, then lets the store do it (a write access applies or abandons the log).
#include <cstdio>

#include "runtime/files/tarnwell/control_file.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "tools/twl/commands.hpp"
#include "tools/twl/page_log.hpp"
#include "tools/twl/session.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

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
  Session session;
  if (int32_t err = session.open(target.file,
                                 options.dry_run ? Session::Intent::read : Session::Intent::write,
                                 options.password)) {
    return report_error(target.file, err);
  }
  // The store decides; twl listens in on the question it asks about a transaction's log.
  struct Asked {
    bool asked = false;
    uint32_t transaction = 0;
    std::string control_file;
    bool listed = false;
  } asked;
  tw::set_pending_transaction_check(
      [&asked](const std::string& data_file, uint32_t transaction, const std::string& control) {
        asked = {true, transaction, control,
                 tw::transaction_still_listed(data_file, transaction, control)};
        return asked.listed;
      });
  // A read access resolves nothing on disk: it only reads through the log or ignores it.
  if (int32_t err = session.run(AccessMode::read, [] {})) {
    return report_error(target.file, err,
                        err == 90 ? "check " + std::to_string(session.damage_check()) : "");
  }
  if (!log.fault.empty()) {
    std::printf("decision: abandon the log, %s; the file keeps the state before that flush\n",
                log.fault.c_str());
  } else if (asked.asked && asked.listed) {
    std::printf(
        "decision: abandon the log: it belongs to transaction %u, still listed in %s (it never "
        "committed); the file keeps the state before that flush\n",
        asked.transaction, asked.control_file.c_str());
  } else if (asked.asked) {
    std::printf("decision: apply the log: transaction %u committed (no longer listed in %s)\n",
                asked.transaction, asked.control_file.c_str());
  } else {
    std::printf("decision: apply the log: the file takes the state of that flush\n");
  }
  if (options.dry_run) {
    std::printf("dry run: the file was not changed\n");
    return kExitOk;
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
