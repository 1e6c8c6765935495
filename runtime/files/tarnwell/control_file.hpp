// Transaction control files: where a commit over several record files records that it is in
// progress.
//
// A control file is itself a record file. It holds one record per transaction in progress:
//
//     key part   transaction number, 4 bytes little-endian
//     data part  empty
//
// A commit inserts its record (and makes it durable) before any participating file points its
// header at its page log, and deletes it (durably) once every participating file has done so.
// So at any moment:
//   - record present: the transaction has not committed; a participating file whose page log is
//     pending keeps its old state (the log is abandoned);
//   - record absent: the transaction committed; the log is applied.
// A participating file names the control file in its pending-transaction record (kind 0xFF). The
// default control file of a directory, "tarnwell.tcf", is stored as the placeholder
// "C:\tarnwell.TCF", which stands for the control file beside the data file, wherever the file
// has been moved since; an explicit name (SEND "TCF") is stored as it is.
//
// Names are paths of this system: the directory of a file is its full name up to and including
// the last directory separator, "/" or "\" (both are accepted, so names written on either
// system split the same way).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vtn::tarnwell {

class RecordFile;

inline constexpr std::string_view kControlFileName = "tarnwell.tcf";
inline constexpr std::string_view kControlFilePlaceholder = "C:\\tarnwell.TCF";

// The access codes of the driver's own opens of a control file.
inline constexpr uint32_t kControlFileOpenMode = 0x142;     // read-write, shared, created
inline constexpr uint32_t kControlFileRecoveryMode = 0x40;  // read only, shared, must exist

// The default control file of the directory that holds `data_file`.
std::string default_control_file(std::string_view data_file);

// The control file meant by the name stored in a pending-transaction record of `data_file`: the
// placeholder (compared without regard to case) stands for the default control file of the data
// file's directory; any other name is taken as it is.
std::string control_file_for_recovery(std::string_view stored_name, std::string_view data_file);

// One control file, open for the length of a commit (read-write, shared, created when missing).
class ControlFile {
 public:
  ControlFile() = default;
  ~ControlFile();
  ControlFile(ControlFile&& other) noexcept;
  ControlFile& operator=(ControlFile&& other) noexcept;
  ControlFile(const ControlFile&) = delete;
  ControlFile& operator=(const ControlFile&) = delete;

  // 0 or the error of the open (5 for a sharing conflict, a system error).
  int32_t open(const std::string& name);
  void close();
  const std::string& name() const { return name_; }

  // In one write access: when `transaction` is already listed, sets `listed` and changes nothing;
  // otherwise inserts it and flushes. 0 or the error of the access or the flush.
  int32_t list(uint32_t transaction, bool& listed);
  // In one write access: deletes the record of `transaction` (absent is fine) and flushes.
  int32_t unlist(uint32_t transaction);

 private:
  RecordFile* file_ = nullptr;
  std::string name_;
};

// The recovery decision for a pending page log of `data_file` that belongs to `transaction`:
// whether the transaction is still listed in the control file stored as `stored_name`. The control
// file is opened for shared reading, retried for as long as the open reports a sharing conflict
// (5); a control file that cannot be opened or read counts as listing the transaction (it never
// finished as far as anyone can tell, so the file keeps its old state).
bool transaction_still_listed(const std::string& data_file, uint32_t transaction,
                              const std::string& stored_name);

}  // namespace vtn::tarnwell
