#include "runtime/files/call_sequence.hpp"

#include <chrono>
#include <new>

#include "runtime/files/thread_files.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

constexpr int32_t kRecordNotAvailable = 33;
constexpr int32_t kRecordNotFound = 35;
constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kInvalidKeyFile = 38;
constexpr int32_t kKeyMustBeRebuilt = 46;
constexpr int32_t kInvalidRecordDeclaration = 47;
constexpr int32_t kFileAlreadyOpen = 52;
constexpr int32_t kLogoutAlreadyActive = 56;
constexpr int32_t kExclusiveRequired = 63;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kInsufficientMemory = 8;
constexpr int32_t kUnsupported = 80;
constexpr int32_t kBuildInProgress = 92;

constexpr uint32_t kMaxRecordLength = 0x7FFFFFFF;
constexpr int32_t kFirstUncheckedCode = 380;

bool all_blank(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

// A definition text as the instance keeps it: up to the first NUL, without trailing blanks (a
// variable's storage is blank-padded).
std::string definition_text(const char* text, uint32_t length) {
  if (text == nullptr) return {};
  std::string_view v(text, length);
  v = v.substr(0, v.find('\0'));
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return std::string(v);
}

// Constant-initialised: the sequence reads it on every call without a guard.
TraceHooks g_trace_hooks;

void unhook_key_data(FileBlock& file) {
  for (uint8_t i = 0; i < file.key_count; ++i)
    if (file.keys != nullptr && file.keys[i] != nullptr) file.keys[i]->driver_data = nullptr;
}

// Creates the file's instance. Returns 0 or the error that made the creation fail.
int32_t create_instance(FileDriver& driver, FileBlock& file) {
  if (file.record_length > kMaxRecordLength) return kInvalidRecordDeclaration;
  std::unique_ptr<DriverInstance> instance;
  try {
    instance = driver.new_instance();
  } catch (const std::bad_alloc&) {
    return kInsufficientMemory;
  }
  copy_definition_texts(*instance, file, RF_NAME | RF_OWNER | RF_OPTIONS);
  instance->attributes = static_cast<uint8_t>((file.attributes >> 1) & 0x3F);
  instance->record = file.record;
  instance->record_length = file.record_length;
  instance->refresh_flags = (file.variable_texts & FV_NAME ? RF_NAME : 0) |
                            (file.variable_texts & FV_OWNER ? RF_OWNER : 0) |
                            (file.variable_texts & FV_OPTIONS ? RF_OPTIONS : 0);
  instance->driver_name = driver.registration().name;
  instance->file = &file;
  if (int32_t r = driver.prepare_instance(*instance, file); r != 0) {
    unhook_key_data(file);
    return r;
  }
  file.instance = instance.release();
  register_open_file(&file, 0, driver.open_file_flags());
  if (g_trace_hooks.read_settings != nullptr)
    g_trace_hooks.read_settings(*file.instance, driver.trace_section(), driver.trace_default_log());
  return 0;
}

// The entry's return value for a call that ended with `result`.
int32_t entry_result(int32_t code, uint8_t traits, int32_t result, int32_t value) {
  const bool posted = result != 0 && result != NO_REPORT;
  if ((traits & OT_VALUE) == 0) return result;
  if (!posted) return value;
  return code == op::BOF || code == op::EOF_ ? 1 : 0;
}

void post_file_error(int32_t result, FileBlock* file) {
  post_error(result);
  set_error_file(file);
}

// A file that is not open takes its variable texts afresh before an operation that does not need it
// open (and may therefore name, create or open it).
void refresh_texts_of_closed_file(DriverInstance& instance, uint32_t required, uint32_t state) {
  if ((required & FS_OPEN) == 0 && (state & FS_OPEN) == 0 && instance.refresh_flags != 0 &&
      instance.file != nullptr)
    copy_definition_texts(instance, *instance.file, instance.refresh_flags);
}

// The state check of a call whose row and traits are known, after the key and the code range
// have passed. The usual call (every required bit present, no forbidden one, no build running,
// neither a dynamic index nor a position to check) passes after a few tests; any other goes
// through the whole rule.
inline int32_t check_call(DriverInstance& instance, const OperationRule* rule, uint8_t traits,
                          const DriverKeyData* key_data, std::string_view position) {
  const uint32_t required = rule != nullptr ? rule->required : 0;
  const uint32_t forbidden = rule != nullptr ? rule->forbidden : 0;
  const uint32_t state = instance.file_state;
  uint32_t missing = required & ~state & ~FS_KEYREADY;
  const bool dynamic = key_data != nullptr && (key_data->flags & KF_DYNAMIC) != 0;
  if ((missing | (forbidden & state) | (state & FS_BUILDING)) == 0 && !dynamic &&
      (traits & OT_POSITION) == 0) {
    refresh_texts_of_closed_file(instance, required, state);
    return 0;
  }

  if (missing == 0 && dynamic) missing = required & FS_KEYREADY & ~key_data->state;
  int32_t result = 0;
  uint32_t present = 0;
  if (missing == 0 && (state & FS_BUILDING) != 0 && (traits & OT_ALLOWED_IN_BUILD) == 0) {
    result = kBuildInProgress;
  } else if (missing != 0) {
    if (missing & FS_OPEN)
      result = kFileNotOpen;
    else if (missing & FS_KEYREADY)
      result = kKeyMustBeRebuilt;
    else if ((state & FS_OPEN) == 0)
      result = 0;  // the driver decides what a closed file means for this operation
    else if (missing & (FS_CURRENT | FS_SEQUENCE))
      result = kRecordNotAvailable;
    else if (missing & FS_EXCLUSIVE)
      result = kExclusiveRequired;
    else if (missing & FS_WRITE)
      result = kAccessDenied;
    else
      result = NO_REPORT;
  } else {
    present = forbidden & state;
    if (present & FS_OPEN)
      result = kFileAlreadyOpen;
    else if (present & FS_LOGOUT)
      result = kLogoutAlreadyActive;
    else if (present != 0)
      result = NO_REPORT;
  }

  if (result == 0 && missing == 0 && present == 0 && (traits & OT_POSITION) != 0 &&
      all_blank(position))
    result = kRecordNotFound;

  if (result == 0) refresh_texts_of_closed_file(instance, required, state);
  return result;
}

// check_state for a call whose row and traits are known.
inline int32_t check_known_call(DriverInstance& instance, const OperationRule* rule, uint8_t traits,
                                const KeyBlock* key, const DriverKeyData* key_data, int32_t code,
                                std::string_view position) {
  // A key of another file (or of a file whose instance is gone) cannot serve this one.
  if (key != nullptr && (key_data == nullptr || key_data->instance != &instance))
    return kInvalidKeyFile;
  instance.file_control = 0;
  if (code >= kFirstUncheckedCode || code < 0) return kUnsupported;
  return check_call(instance, rule, traits, key_data, position);
}

// update_state for a call whose row is known. The row's words are read before the state is
// written, so that the new state is computed in one go and stored once.
inline void apply_rule(DriverInstance& instance, const OperationRule& rule, DriverKeyData* key_data,
                       int32_t result) {
  const uint32_t set = rule.set;
  const uint32_t cleared = rule.cleared;
  uint32_t state = instance.file_state;
  if (result == 0) {
    const uint32_t control = rule.control;
    // A one-shot WATCH or HOLD request becomes the state of the record just read: an operation
    // that clears the request sets WATCHED or HELD exactly when the request was there.
    static_assert(FS_WATCHED == FS_WATCH << 1 && FS_HELD == FS_HOLD << 1);
    const uint32_t one_shot = cleared & (FS_WATCH | FS_HOLD);
    state = (state & ~(one_shot << 1)) | ((state & one_shot) << 1);
    state |= set & ~FS_KEYREADY;
    state &= ~(cleared & ~FS_KEYREADY);
    instance.file_state = state;
    if (key_data != nullptr && (key_data->flags & KF_DYNAMIC) != 0) {
      key_data->state |= set & FS_KEYREADY;
      key_data->state &= ~(cleared & FS_KEYREADY);
    }
    instance.file_control |= control;
  } else {
    const uint32_t cleared_on_failure = rule.cleared_on_failure;
    if (result == kFileNotOpen || ((rule.control & FC_DISCARD) && result != kFileAlreadyOpen))
      instance.file_control |= FC_DISCARD;
    instance.file_state = state & ~(cleared_on_failure | FS_WATCH | FS_WATCHED);
  }
}

inline void apply_result(DriverInstance& instance, const OperationRule* rule,
                         DriverKeyData* key_data, int32_t result) {
  if (rule != nullptr) apply_rule(instance, *rule, key_data, result);
}

// The operation itself. Drivers report failures as codes; running out of memory is the one
// failure that can still arrive as an exception, and it must not leave the string stack or the
// state half done.
inline int32_t perform_guarded(FileDriver& driver, FileCall& call) {
  try {
    return driver.perform(call);
  } catch (const std::bad_alloc&) {
    return kInsufficientMemory;
  }
}

// Steps 14 and 15 of a call whose instance exists and whose state is updated: the instance's last
// error, the granted controls, the posting and the entry's result.
inline int32_t finish_call(FileBlock* file, DriverInstance& instance, int32_t code, uint8_t traits,
                           int32_t result, int32_t value, bool discard_after) {
  instance.last_error = result == NO_REPORT ? 0 : result;
  const uint32_t control = instance.file_control;
  if (result == 0 && (control & FC_CLEARERROR)) clear_error();
  if (control & FC_REMEMBER) instance.last_sequential = code;
  if ((control & FC_DISCARD) || discard_after) discard_instance(*file);
  if (result != 0 && result != NO_REPORT) post_file_error(result, file);
  return entry_result(code, traits, result, value);
}

constexpr OperandWord kNoOperands[4] = {0, 0, 0, 0};

}  // namespace

void set_trace_hooks(const TraceHooks& h) {
  g_trace_hooks = h;
}

const TraceHooks& trace_hooks() {
  return g_trace_hooks;
}

void copy_definition_texts(DriverInstance& instance, const FileBlock& file, uint32_t which) {
  if (which & RF_NAME) instance.file_name = definition_text(file.name, file.name_length);
  if (which & RF_OWNER) instance.owner = definition_text(file.owner, file.owner_length);
  if (which & RF_OPTIONS)
    instance.driver_options = definition_text(file.driver_options, file.driver_options_length);
}

void discard_instance(FileBlock& file) {
  if (file.instance == nullptr) return;
  DriverInstance* instance = file.instance;
  file.instance = nullptr;
  unhook_key_data(file);
  unregister_open_file(&file);
  delete instance;
}

int32_t check_state(DriverInstance& instance, const KeyBlock* key, const DriverKeyData* key_data,
                    int32_t code, std::string_view position) {
  return check_known_call(instance, operation_rule(code), operation_traits(code), key, key_data,
                          code, position);
}

void update_state(DriverInstance& instance, DriverKeyData* key_data, int32_t code, int32_t result) {
  apply_result(instance, operation_rule(code), key_data, result);
}

int32_t run_whole_call_sequence(FileDriver& driver, int32_t code, FileBlock* file,
                                const OperandWord* operands) {
  // 1. A view query never reaches the file.
  if (code == op::QUERY_VIEW) return 0;
  const OperationRule* rule = operation_rule(code);
  const uint8_t traits = operation_traits(code);
  if (file == nullptr) {
    // A statement always names a file; without one there is nothing to serve or to report on.
    if (rule != nullptr && rule->string_out) string_stack().push_copy(std::string_view("", 0));
    post_error(kUnsupported);
    return entry_result(code, traits, kUnsupported, 0);
  }
  FileCall call;
  call.code = code;
  call.rule = rule;
  call.file = file;
  call.operands = operands != nullptr ? operands : kNoOperands;

  // 2. A thread's new copy of a THREAD file starts without an instance.
  if ((file->attributes & FA_THREAD) != 0 && take_fresh_copy(*file)) file->instance = nullptr;

  // 3. A stale instance is replaced, so that the texts come afresh from the definition.
  bool discard_after = false;
  if ((traits & OT_TEXTS_AFRESH) != 0 && file->instance != nullptr &&
      (file->instance->file_state & (FS_OPEN | FS_PROPERTY)) == 0) {
    if (code == op::CLOSE)
      discard_after = true;
    else
      discard_instance(*file);
  }

  // 4. String operands, first string first.
  const int strings_in = rule != nullptr ? rule->strings_in : 0;
  for (int i = 0; i < strings_in; ++i) call.strings[i] = string_stack().pop_string();
  call.string_count = strings_in;

  // 5. The instance.
  if (file->instance == nullptr) {
    if (int32_t r = create_instance(driver, *file); r != 0) {
      // The caller pops a string result whatever happened; keep the stack balanced.
      if (rule != nullptr && rule->string_out) string_stack().push_copy(std::string_view("", 0));
      post_file_error(r, file);
      return entry_result(code, traits, r, 0);
    }
  }
  DriverInstance& instance = *file->instance;
  call.instance = &instance;

  // 6. Start of the timed part. The trace is the only reader of the time, and whether an instance
  // traces is settled when it is made, so an untraced call never reads the clock.
  const bool traced = instance.trace != 0 && g_trace_hooks.call != nullptr;
  const auto started =
      traced ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};

  // 7. The key's driver data.
  if (rule != nullptr && rule->key) {
    call.key = reinterpret_cast<KeyBlock*>(call.operands[0]);
    call.key_data = call.key != nullptr ? call.key->driver_data : nullptr;
  }

  // 8-9. Check, then perform.
  // FileControl lives for one call, even one that fails before the check resets it.
  instance.file_control = 0;
  int32_t result = rule != nullptr && rule->key && call.key == nullptr
                       ? kInvalidKeyFile
                       : check_known_call(instance, rule, traits, call.key, call.key_data, code,
                                          call.strings[0]);
  if (result == 0) result = perform_guarded(driver, call);

  // 10. Trace.
  if (traced) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    g_trace_hooks.call(instance, call.key_data, code, instance.driver_name, result,
                       static_cast<uint32_t>(elapsed.count() / 10));
  }

  // 11. The popped strings go with `call`. 12. State update.
  apply_result(instance, rule, call.key_data, result);
  if (result == 0 && (code == op::OPEN || code == op::SHARE)) {
    const auto access = static_cast<uint32_t>(call.operands[0]);
    instance.open_mode = access;
    instance.file_state &= ~(FS_WRITE | FS_EXCLUSIVE);
    if (access % 4 != 0) instance.file_state |= FS_WRITE;
    if (access & 0x30) instance.file_state |= FS_EXCLUSIVE;
    register_open_file(file, access, driver.open_file_flags());
  }

  // 13. String result.
  if (rule != nullptr && rule->string_out) string_stack().push_copy(call.result_text);

  // 14-15.
  return finish_call(file, instance, code, traits, result, call.value, discard_after);
}

int32_t run_call_sequence(FileDriver& driver, int32_t code, FileBlock* file,
                          const OperandWord* operands) {
  const uint8_t traits = operation_traits(code);
  if ((traits & OT_PLAIN) != 0 && file != nullptr) [[likely]] {
    DriverInstance* instance = file->instance;
    // An instance of a thread's fresh copy is never kept (step 2), and a traced call needs the
    // clock and the trace: both take the whole way.
    if (instance != nullptr && instance->trace == 0 && !file->fresh_copy) [[likely]] {
      const OperationRule& rule = detail::kOperationRules[static_cast<size_t>(code)];
      const uint32_t state = instance->file_state;
      // The state check passes without a word when every required bit is there and no forbidden
      // one, no build is running, and a key (when the operation has one) is this instance's own
      // and not a dynamic index. Any other call takes the whole way, which finds its result.
      uint32_t refused =
          (rule.required & ~state & ~FS_KEYREADY) | ((rule.forbidden | FS_BUILDING) & state);
      if (operands == nullptr) operands = kNoOperands;
      KeyBlock* key = nullptr;
      DriverKeyData* key_data = nullptr;
      if (rule.key) {
        key = reinterpret_cast<KeyBlock*>(operands[0]);
        key_data = key != nullptr ? key->driver_data : nullptr;
        if (key_data == nullptr || key_data->instance != instance ||
            (key_data->flags & KF_DYNAMIC) != 0)
          refused = ~0u;
      }
      if (refused == 0) [[likely]] {
        // The key's data (7) is in hand and the check (8) has passed; steps 1-6, 10, 11 and 13
        // have nothing to do: no view query, no fresh copy, no stale instance, no strings either
        // way, an instance that exists and does not trace.
        FileCall call;
        call.code = code;
        call.rule = &rule;
        call.file = file;
        call.operands = operands;
        call.instance = instance;
        call.key = key;
        call.key_data = key_data;
        instance->file_control = 0;
        const int32_t result = perform_guarded(driver, call);
        apply_rule(*instance, rule, key_data, result);
        return finish_call(file, *instance, code, traits, result, call.value, false);
      }
    }
  }
  return run_whole_call_sequence(driver, code, file, operands);
}

}  // namespace vtn
