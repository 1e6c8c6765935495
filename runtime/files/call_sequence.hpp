// The call sequence that every file driver runs around its operations: the shared frame that
// refreshes the instance's copies of the file's texts, creates the DriverInstance on first use,
// checks the call against OperationRules and the file's state, performs the operation, updates
// the state, hands string results back on the StringStack and posts the result into ErrorState.
//
// A driver plugs into the frame by deriving from FileDriver: it says how to make its instance and
// its tables, and performs the operations themselves. Its DriverEntry is then one line:
//
//   int32_t basic_entry(int32_t code, FileBlock* file, const OperandWord* operands) {
//     static BasicDriver driver;
//     return run_call_sequence(driver, code, file, operands);
//   }
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/files/file_block.hpp"
#include "runtime/files/open_file_list.hpp"
#include "runtime/files/operation_rules.hpp"

namespace vtn {

// One call on its way through the sequence; the driver's perform() reads its operands and writes
// its results here (result_text, value; the strings it may take over). The fields above the
// strings describe the call and stay as the sequence set them.
struct FileCall {
  int32_t code = 0;
  const OperationRule* rule = nullptr;  // null for codes without a row
  FileBlock* file = nullptr;
  const OperandWord* operands = nullptr;  // never null inside the sequence
  DriverInstance* instance = nullptr;
  KeyBlock* key = nullptr;            // operations with a key: the first operand
  DriverKeyData* key_data = nullptr;  // ...and its driver key data
  std::string strings[2];             // the popped string operands, first string first
  int string_count = 0;
  std::string result_text;  // pushed for the operations with a string result
  int32_t value = 0;        // the result of BOF, EOF, RECORDS, POINTER, BYTES, ...

  OperandWord operand(size_t i) const { return operands[i]; }
};

class FileDriver {
 public:
  virtual ~FileDriver() = default;

  virtual const DriverRegistration& registration() const = 0;

  // The profile section and default log of the driver's trace ("XWBASIC", "BASIC.LOG").
  virtual const char* trace_section() const = 0;
  virtual const char* trace_default_log() const = 0;

  // The flags with which the driver's files join the OpenFileList.
  virtual OpenFileFlags open_file_flags() const = 0;

  // A new, zero-filled instance of the driver's own type.
  virtual std::unique_ptr<DriverInstance> new_instance() = 0;

  // Called once the common header is filled in (texts, attributes, record): checks the
  // definition and builds the driver's field, key and memo tables, pointing each KeyBlock's
  // driver_data at key data whose instance is `instance`. A non-zero result (47, 75, 79, ...)
  // fails the creation; the instance is then destroyed.
  virtual int32_t prepare_instance(DriverInstance& instance, FileBlock& file) = 0;

  // The operation itself (after a passed state check). Returns 0, NO_REPORT or an error code;
  // 80 for an operation the driver does not implement.
  virtual int32_t perform(FileCall& call) = 0;
};

// Runs one call of `driver` through the whole sequence and returns the entry's result: the value
// for BOF, EOF, RECORDS and the other value operations (1 for BOF and EOF, 0 for the others, when
// an error was posted), otherwise the result code (0, NO_REPORT or the error posted).
//
// The usual call (an OT_PLAIN operation on an instance that exists, does not trace and whose state
// passes the rule as it stands) goes a short way that leaves out the steps with nothing to do for
// it; every other call goes the whole way. Both ways give the same results, states and errors.
int32_t run_call_sequence(FileDriver& driver, int32_t code, FileBlock* file,
                          const OperandWord* operands);

// Every call the whole way, step by step; what run_call_sequence does for calls that cannot take
// the short way, and the reference against which the short way is tested.
int32_t run_whole_call_sequence(FileDriver& driver, int32_t code, FileBlock* file,
                                const OperandWord* operands);

// The state check before an operation; `position` is the first popped string (used by REGET and
// RESET). Resets the instance's FileControl and honours its refresh flags as the check allows.
int32_t check_state(DriverInstance& instance, const KeyBlock* key, const DriverKeyData* key_data,
                    int32_t code, std::string_view position);

// The state update after an operation with the given result.
void update_state(DriverInstance& instance, DriverKeyData* key_data, int32_t code, int32_t result);

// Re-copies the texts named by `which` (RF_* bits) from the FileBlock into the instance.
void copy_definition_texts(DriverInstance& instance, const FileBlock& file, uint32_t which);

// Frees the file's instance (its texts, tables and driver resources), unhooks the key data from
// the file's KeyBlocks, removes the file from the OpenFileList and sets the instance field to
// null. Does nothing when there is no instance.
void discard_instance(FileBlock& file);

// The extension points of the driver trace. Both are called by the sequence when set; the trace
// fills them in. read_settings runs right after an instance is created; call runs after every
// operation of an instance whose trace switch is on, with the elapsed time in hundredths.
struct TraceHooks {
  void (*read_settings)(DriverInstance& instance, const char* section,
                        const char* default_log) = nullptr;
  void (*call)(DriverInstance& instance, const DriverKeyData* key_data, int32_t code,
               const char* driver_name, int32_t result, uint32_t elapsed_hundredths) = nullptr;
};
void set_trace_hooks(const TraceHooks& hooks);
const TraceHooks& trace_hooks();

}  // namespace vtn
