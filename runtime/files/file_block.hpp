// The compiled descriptors through which every file statement reaches a driver.
//
// A program's FILE declaration becomes one FileBlock (with its KeyBlocks, MemoBlocks and record
// buffer); the program owns these for its whole run. A driver hangs its DriverInstance on the
// FileBlock the first time it serves the file and frees it again when the file is closed or the
// instance is discarded. Widths that other code or the trace can observe (attribute bytes, counts,
// state words) are kept; the descriptor addresses of the original 32-bit layout are pointers.
//
// FileBlock, KeyBlock and MemoBlock are plain data that a program may also fill in by hand; the
// declarative builder (file_declaration.hpp) is the usual way to make them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace vtn {

struct FileBlock;
struct KeyBlock;
struct MemoBlock;
struct DriverInstance;
struct RecordType;

// The program's handler of the progress events of a key build: called every `build_event_step`
// records with the records done so far and the total; a non-zero reply cancels the build (93).
using BuildEventHandler = int32_t (*)(FileBlock& file, uint32_t done, uint32_t total);

// One operand word of a driver call. The operands of an operation are consecutive words; when the
// operation names a key, the first word is a KeyBlock*. Words are pointer-sized so that a KeyBlock
// address fits in one.
using OperandWord = intptr_t;

// entry(operation code, FileBlock, operands) -> 32-bit result.
using DriverEntry = int32_t (*)(int32_t code, FileBlock* file, const OperandWord* operands);

// The result of a call that did nothing and reports nothing: the previous error stays.
inline constexpr int32_t NO_REPORT = -1;

// FileBlock attribute byte.
inline constexpr uint8_t FA_ENCRYPT = 0x02;
inline constexpr uint8_t FA_CREATE = 0x04;
inline constexpr uint8_t FA_RECLAIM = 0x08;
inline constexpr uint8_t FA_THREAD = 0x10;
inline constexpr uint8_t FA_OEM = 0x20;  // text fields are kept in the OEM character set
inline constexpr uint8_t FA_FURTHER = 0x40;

// FileBlock::variable_texts: which texts the definition names by variables (and which must
// therefore be copied afresh before a call that may use them).
inline constexpr uint8_t FV_NAME = 0x1;
inline constexpr uint8_t FV_OWNER = 0x2;
inline constexpr uint8_t FV_OPTIONS = 0x4;

// KeyBlock::attributes.
inline constexpr uint32_t KA_DUP = 0x1;
inline constexpr uint32_t KA_OPT = 0x2;
inline constexpr uint32_t KA_NOCASE = 0x4;
inline constexpr uint32_t KA_PRIMARY = 0x10;
inline constexpr uint32_t KA_INDEX = 0x4000;  // otherwise a KEY

// MemoBlock::attributes.
inline constexpr uint8_t MA_BINARY = 0x02;
inline constexpr uint8_t MA_BLOB = 0x04;  // otherwise a MEMO

// DriverKeyData::flags.
inline constexpr uint8_t KF_DYNAMIC = 0x40;  // a dynamic index, built on demand

// FileState bits: the file's state machine, 0 when the instance is created.
inline constexpr uint32_t FS_OPEN = 0x1;
inline constexpr uint32_t FS_CURRENT = 0x2;
inline constexpr uint32_t FS_LOGOUT = 0x4;
inline constexpr uint32_t FS_STREAM = 0x8;
inline constexpr uint32_t FS_LOCKED = 0x10;
inline constexpr uint32_t FS_SEQUENCE = 0x20;
inline constexpr uint32_t FS_WRITE = 0x40;
inline constexpr uint32_t FS_EXCLUSIVE = 0x80;
inline constexpr uint32_t FS_KEYREADY = 0x100;  // kept per key, in DriverKeyData::state
inline constexpr uint32_t FS_WATCH = 0x200;
inline constexpr uint32_t FS_WATCHED = 0x400;
inline constexpr uint32_t FS_HOLD = 0x800;
inline constexpr uint32_t FS_HELD = 0x1000;
inline constexpr uint32_t FS_SEQSTART = 0x2000;
inline constexpr uint32_t FS_BUILDING = 0x4000;
inline constexpr uint32_t FS_PROPERTY = 0x10000;

// FileControl bits: granted for one call by a successful operation.
inline constexpr uint32_t FC_CLEARERROR = 0x1;
inline constexpr uint32_t FC_DISCARD = 0x2;
inline constexpr uint32_t FC_REMEMBER = 0x4;

// DriverInstance::refresh_flags: texts to re-copy from the FileBlock before the next call.
inline constexpr uint32_t RF_NAME = 0x1;
inline constexpr uint32_t RF_OWNER = 0x2;
inline constexpr uint32_t RF_OPTIONS = 0x4;

// FileBlock::driver_flags[1] bit 0: the file is served remotely.
inline constexpr uint8_t DF_REMOTE = 0x1;

struct FileBlock {
  DriverEntry entry = nullptr;
  const char* name = nullptr;  // NAME: a constant or the storage of a variable
  uint32_t name_length = 0;
  const char* driver_options = nullptr;  // DRIVER('name', options); null when absent
  uint32_t driver_options_length = 0;
  const char* owner = nullptr;  // OWNER; null when absent
  uint32_t owner_length = 0;
  uint8_t attributes = 0;  // FA_*
  uint8_t key_count = 0;
  uint8_t memo_count = 0;
  uint32_t record_length = 0;               // above 0x7FFFFFFF is rejected with 47
  const RecordType* record_type = nullptr;  // null: the definition declares no record layout
  KeyBlock** keys = nullptr;                // key_count entries
  MemoBlock** memos = nullptr;              // memo_count entries
  char* record = nullptr;                   // the record buffer
  DriverInstance* instance = nullptr;       // the driver's; null until the first call
  uint8_t driver_flags[2] = {0, 0};

  // Beyond the compiled layout: which texts are variables (FV_*), the build events the file asks
  // for (none while the handler is null), and for THREAD files the bookkeeping of per-thread
  // copies (thread_files.hpp).
  uint8_t variable_texts = 0;
  BuildEventHandler build_events = nullptr;
  uint32_t build_event_step = 0;
  const FileBlock* declared = nullptr;  // a thread's copy: the FileBlock it was copied from
  bool fresh_copy = false;              // a copy that no call has used yet
  std::thread::id home_thread{};        // THREAD files: the thread that uses this block itself
};

// True for a file served remotely: its driver hands every operation to a remote-access component
// and, with none installed, answers 80.
inline bool is_remote(const FileBlock& file) {
  return (file.driver_flags[1] & DF_REMOTE) != 0;
}

// The head of every driver's per-key block. A driver derives its own key data from it and points
// KeyBlock::driver_data at it while its instance lives.
struct DriverKeyData {
  DriverInstance* instance = nullptr;  // the instance that owns this key data
  uint8_t flags = 0;                   // KF_DYNAMIC
  uint32_t state = 0;                  // FS_KEYREADY for a dynamic index that has been built
  int32_t number = 0;                  // the key's number within its file (the trace shows it)
  std::string name;                    // the key's name as the driver knows it (for the trace)

  virtual ~DriverKeyData() = default;
};

struct KeyBlock {
  const char* name = nullptr;  // external NAME; null when absent
  uint32_t name_length = 0;
  const char* label = nullptr;
  uint32_t label_length = 0;
  DriverKeyData* driver_data = nullptr;
  uint32_t attributes = 0;  // KA_*
  uint8_t component_count = 0;
  const int32_t* components = nullptr;  // 1-based field numbers; negative: descending
  FileBlock* file = nullptr;
};

struct MemoBlock {
  const char* name = nullptr;  // external NAME; null when absent
  uint32_t name_length = 0;
  const char* label = nullptr;
  uint32_t label_length = 0;
  char* buffer = nullptr;
  uint8_t driver_data[5] = {};
  uint8_t attributes = 0;  // MA_*
  uint32_t size = 0;       // the n of MEMO(n)
};

// One static record per driver.
struct DriverRegistration {
  char name[21];  // "BASIC", "TARNWELL"
  char component_file[13];
  char notice[41];
  char description[31];
  DriverEntry entry;
  uint32_t capabilities;   // the driver's own capability word
  uint32_t instance_size;  // size of the driver's DriverInstance
  char second_component_file[13];
};

// The driver's state for one FileBlock. Drivers derive their instance from this common header;
// the trace reads only the header. The file layer creates it through the driver and destroys it
// when the instance is discarded, so a driver frees its own resources in its destructor.
struct DriverInstance {
  std::string file_name;    // copy of the FileBlock's name (a driver may expand it)
  std::string driver_text;  // a second text of the driver's own
  std::string owner;
  std::string driver_options;
  uint8_t attributes = 0;  // bit 0 ENCRYPT ... bit 5 the further flag (FileBlock bits >> 1)
  char* record = nullptr;
  uint32_t record_length = 0;
  uint32_t memo_count = 0;  // the driver's own memo, key and field tables are in the
  uint32_t key_count = 0;   // derived instance; these are their sizes
  uint32_t field_count = 0;
  uint32_t open_mode = 0;  // the OPEN access code
  int32_t last_sequential = 0;
  uint32_t file_control = 0;   // FC_*
  uint32_t file_state = 0;     // FS_*
  uint32_t refresh_flags = 0;  // RF_*
  int32_t last_error = 0;
  uint8_t trace = 0;
  uint8_t trace_details = 0;
  std::string trace_file;
  void* trace_log = nullptr;  // an open log kept by the trace, or null
  const char* driver_name = nullptr;
  FileBlock* file = nullptr;

  DriverInstance() = default;
  DriverInstance(const DriverInstance&) = delete;
  DriverInstance& operator=(const DriverInstance&) = delete;
  virtual ~DriverInstance() = default;
};

}  // namespace vtn
