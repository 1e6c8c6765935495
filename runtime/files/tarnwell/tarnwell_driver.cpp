#include "runtime/files/tarnwell/tarnwell_driver.hpp"

#include <algorithm>
#include <array>
#include <new>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/driver_trace.hpp"
#include "runtime/files/operation_rules.hpp"
#include "runtime/files/tarnwell/access_locks.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/lock_retry.hpp"
#include "runtime/files/tarnwell/locking_hooks.hpp"
#include "runtime/files/tarnwell/properties.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_holds.hpp"
#include "runtime/files/tarnwell/send_options.hpp"
#include "runtime/files/tarnwell/table_lock.hpp"
#include "runtime/files/tarnwell/table_ops.hpp"
#include "runtime/files/tarnwell/transaction.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kInsufficientMemory = 8;
constexpr int32_t kRecordHeld = 43;  // Record Is Already Held
constexpr int32_t kNotLocked = 158;  // UNLOCK of a table this file did not lock

enum class Access : uint8_t { none, read, write };

using Handler = int32_t (*)(TableInstance&, FileCall&);

struct Operation {
  int32_t code;
  Handler run;
  Access access;
};

// Holds, watches, table locks and transactions (record_holds.hpp, table_lock.hpp,
// transaction.hpp) work on the page store's file; a table on a store in memory has no other
// process to keep out, so its locks are always granted and it has nothing to commit.

int32_t op_hold(TableInstance& t, FileCall& call) {
  request_hold(t.holds,
               call.code == op::HOLDfilesec ? static_cast<int32_t>(call.operand(0)) : kHoldForever);
  return 0;
}

int32_t op_release(TableInstance& t, FileCall&) {
  release_hold(t);
  return 0;
}

int32_t op_watch(TableInstance& t, FileCall&) {
  request_watch(t.holds);
  return 0;
}

int32_t op_lock(TableInstance& t, FileCall& call) {
  RecordFile* f = record_file_of(t);
  if (f == nullptr) return 0;
  return lock_table(
      *f, number_value(t.table),
      call.code == op::LOCKfilesec ? static_cast<int32_t>(call.operand(0)) : kLockForever);
}

int32_t op_unlock(TableInstance& t, FileCall&) {
  RecordFile* f = record_file_of(t);
  if (f == nullptr) return 0;
  const int32_t r = unlock_table(*f, number_value(t.table));
  return r == kNotLocked ? 0 : r;
}

int32_t op_logout(TableInstance& t, FileCall&) {
  RecordFile* f = record_file_of(t);
  return f != nullptr ? logout(*f) : 0;
}

int32_t op_commit(TableInstance&, FileCall&) {
  return commit();
}

int32_t op_rollback(TableInstance&, FileCall&) {
  return rollback();
}

int32_t op_flush(TableInstance& t, FileCall&) {
  RecordFile* f = record_file_of(t);
  return f != nullptr ? flush_now(*f) : t.store->flush();
}

int32_t op_nomemo(TableInstance& t, FileCall&) {
  t.nomemo_requested = true;
  return 0;
}

// STREAM asks for faster bulk writing; this driver has nothing to change for it.
int32_t op_stream(TableInstance&, FileCall&) {
  return 0;
}

constexpr Operation kOperations[] = {
    {op::ADD, op_add, Access::write},
    {op::APPEND, op_append, Access::write},
    {op::BOF, op_bof_eof, Access::read},
    {op::BUILDdyn, op_build, Access::none},
    {op::BUILDfile, op_build, Access::none},
    {op::BUILDkey, op_build, Access::none},
    {op::BYTES, op_bytes, Access::read},
    {op::EOF_, op_bof_eof, Access::read},
    {op::CLOSE, op_close, Access::none},
    {op::COMMIT, op_commit, Access::none},
    {op::COPY, op_rename_copy, Access::none},
    {op::CREATE, op_create, Access::none},
    {op::DELETE, op_delete, Access::write},
    {op::DUPLICATE, op_duplicate, Access::read},
    {op::DUPLICATEkey, op_duplicate, Access::read},
    {op::EMPTY, op_empty, Access::write},
    {op::FLUSH, op_flush, Access::none},
    {op::GETfilekey, op_get, Access::read},
    {op::GETfileptr, op_get, Access::read},
    {op::GETkeyptr, op_get, Access::read},
    {op::GET_PROPERTY, op_property, Access::none},
    {op::GETPROPERTYkey, op_key_property, Access::none},
    {op::HOLDfile, op_hold, Access::none},
    {op::HOLDfilesec, op_hold, Access::none},
    {op::LOCKfile, op_lock, Access::none},
    {op::LOCKfilesec, op_lock, Access::none},
    {op::LOGOUT, op_logout, Access::none},
    {op::NAME, op_name, Access::none},
    {op::NEXT, op_next, Access::read},
    {op::NOMEMO, op_nomemo, Access::none},
    {op::OPEN, op_open, Access::none},
    {op::PACK, op_build, Access::none},
    {op::POINTERfile, op_pointer, Access::none},
    {op::POINTERkey, op_pointer, Access::none},
    {op::POSITIONfile, op_position, Access::none},
    {op::POSITIONkey, op_position, Access::none},
    {op::PREVIOUS, op_next, Access::read},
    {op::PUT, op_put, Access::write},
    {op::PUTfileptr, op_put_pointer, Access::write},
    {op::RECORDSfile, op_records, Access::read},
    {op::RECORDSkey, op_records, Access::read},
    {op::REGETfile, op_get, Access::read},
    {op::REGETkey, op_get, Access::read},
    {op::RELEASE, op_release, Access::none},
    {op::REMOVE, op_remove, Access::none},
    {op::RENAME, op_rename_copy, Access::none},
    {op::RESETfile, op_set, Access::none},
    {op::RESETkey, op_set, Access::none},
    {op::ROLLBACK, op_rollback, Access::none},
    {op::SEND, op_send, Access::read},
    {op::SETfile, op_set, Access::none},
    {op::SETfilekey, op_set, Access::none},
    {op::SETfileptr, op_set, Access::none},
    {op::SETkey, op_set, Access::none},
    {op::SETkeykeyptr, op_set, Access::none},
    {op::SETkeykey, op_set, Access::none},
    {op::SETkeyptr, op_set, Access::none},
    {op::SET_PROPERTY, op_property, Access::none},
    {op::SETPROPERTYkey, op_key_property, Access::none},
    {op::SHARE, op_open, Access::none},
    {op::SKIP, op_skip, Access::read},
    {op::STREAM, op_stream, Access::none},
    {op::UNLOCK, op_unlock, Access::none},
    {op::WATCH, op_watch, Access::none},
    {op::BUILDdynfilter, op_build, Access::none},
    {op::BLOB_YIELD, op_blob, Access::none},
    {op::BLOB_TAKE, op_blob, Access::none},
    {op::BLOB_SIZE, op_blob, Access::none},
    {op::BLOB_GET_PROP, op_blob, Access::none},
    {op::BLOB_SET_PROP, op_blob, Access::none},
};
static_assert(std::size(kOperations) == 70);

// The rows of kOperations by operation code: a call finds its row without a search.
constexpr int32_t kHighestCode = std::ranges::max(kOperations, {}, &Operation::code).code;
constexpr auto kOperationIndex = [] {
  std::array<const Operation*, kHighestCode + 1> index{};
  for (const Operation& o : kOperations) index[static_cast<size_t>(o.code)] = &o;
  return index;
}();

const Operation* find_operation(int32_t code) {
  if (static_cast<uint32_t>(code) > static_cast<uint32_t>(kHighestCode)) return nullptr;
  return kOperationIndex[static_cast<size_t>(code)];
}

Access access_of(const Operation& o, const FileCall& call) {
  if (o.code == op::SEND) {
    const SendRequest q = parse_send(call.strings[0]);
    return q.option == SendOption::flags && q.assigns ? Access::write : Access::read;
  }
  return o.access;
}

bool changes_a_record(int32_t code) {
  return code == op::PUT || code == op::PUTfileptr || code == op::DELETE;
}

// Runs the operation; a read that was refused its hold (43) while HOLD asked for one is repeated
// from the same position, outside its access between tries (the holder's flush needs every reader
// slot, and the next try must see what the holder wrote), until the hold succeeds or HOLDfilesec's
// deadline passes.
int32_t run_holding(const Operation& o, TableInstance& t, FileCall& call, Access access) {
  if (!t.holds.hold_requested) return o.run(t, call);
  const uint32_t start = tick_clock();
  const uint32_t current = t.current;
  const Position position = t.position;
  for (uint32_t tries = 0;; ++tries) {
    const int32_t result = o.run(t, call);
    if (result != kRecordHeld || !t.holds.hold_requested) return result;
    t.current = current;
    t.position = position;
    if (!may_retry_hold(t.holds, start)) {
      give_up_hold(t.holds);
      return kRecordHeld;
    }
    if (access != Access::none) {
      if (int32_t r = end_operation_access(t); r != 0) return r;
    }
    pause_before_retry(tries);
    if (access != Access::none) {
      if (int32_t r = begin_operation_access(t, access == Access::write); r != 0) return r;
    }
  }
}

void report_internal_error(TableInstance& t) {
  post_internal_error(t.internal_error, true);
}

class TarnwellDriver : public FileDriver {
 public:
  const DriverRegistration& registration() const override { return tarnwell_registration(); }
  const char* trace_section() const override { return "XWTARNWELL"; }
  const char* trace_default_log() const override { return "TARNWELL.LOG"; }
  OpenFileFlags open_file_flags() const override { return {1, true, true, true, true}; }
  // The trace is installed before the driver serves its first file (the settings are read once
  // the file has its instance).
  std::unique_ptr<DriverInstance> new_instance() override {
    install_driver_trace();
    return std::make_unique<TableInstance>();
  }
  int32_t prepare_instance(DriverInstance& instance, FileBlock& file) override {
    return prepare_table(static_cast<TableInstance&>(instance), file);
  }
  int32_t perform(FileCall& call) override;
};

int32_t TarnwellDriver::perform(FileCall& call) {
  auto& t = static_cast<TableInstance&>(*call.instance);
  // A table served remotely goes to the remote-access component; none is installed.
  if (is_remote(*call.file)) return err::kUnsupported;
  if (t.internal_error != 0 && call.code != op::CLOSE && call.code != op::NAME) {
    report_internal_error(t);
    return err::kFileSystemError;
  }
  const Operation* o = find_operation(call.code);
  if (o == nullptr) return err::kUnsupported;
  const Access access = t.is_open() ? access_of(*o, call) : Access::none;
  const uint32_t state_before = t.file_state;
  try {
    settle_waiting_counters(t, call.code);
    if (access != Access::none) {
      if (int32_t r = begin_operation_access(t, access == Access::write); r != 0) return r;
    }
    int32_t result = run_holding(*o, t, call, access);
    if (access != Access::none && t.is_open()) {
      const int32_t ended = end_operation_access(t);
      if (result == 0) result = ended;
    }
    if (changes_a_record(o->code) && t.is_open()) finish_put(t);
    // APPEND makes its record the current one, as ADD does; the file's state must say so, or
    // POINTER, PUT and DELETE would answer 33 right after it.
    if (o->code == op::APPEND && result == 0) t.file_state |= FS_CURRENT;
    return result;
  } catch (const InternalError& e) {
    t.internal_error = e.check();
  } catch (const std::bad_alloc&) {
    t.internal_error = 0;
  }
  // The operation was abandoned half-way: nothing of it may reach the disk.
  t.file_state = state_before;
  if (t.store != nullptr) {
    drop_waiting_counters(*t.store);
    t.store->discard_changes();
    if (t.store->in_access()) t.store->end_access();
  }
  if (t.internal_error == 0) return kInsufficientMemory;
  report_internal_error(t);
  return err::kFileSystemError;
}

// Stateless, and initialised before any code runs: a call pays no guard for it.
constinit TarnwellDriver the_driver;

StoreProvider*& provider_slot() {
  static StoreProvider* provider = nullptr;
  return provider;
}

}  // namespace

StoreProvider& page_store_provider();

StoreProvider& store_provider() {
  StoreProvider* p = provider_slot();
  return p != nullptr ? *p : page_store_provider();
}

void set_store_provider(StoreProvider* provider) {
  provider_slot() = provider;
}

TableInstance::~TableInstance() {
  try {
    settle_own_counters(*this);
  } catch (...) {
    // A damaged file (or no memory): its waiting counts are lost with its other changes.
  }
  close_table(*this);
}

int32_t tarnwell_entry(int32_t code, FileBlock* file, const OperandWord* operands) {
  return run_call_sequence(the_driver, code, file, operands);
}

const DriverRegistration& tarnwell_registration() {
  static const DriverRegistration registration = {
      "TARNWELL",     "V5TWL.DLL", "ferrule run-time record-file driver",        "Tarnwell (TWL)",
      tarnwell_entry, 0,           static_cast<uint32_t>(sizeof(TableInstance)), "V5TWLS.DLL"};
  return registration;
}

const std::array<int32_t, 70>& tarnwell_operations() {
  static const std::array<int32_t, 70> codes = [] {
    std::array<int32_t, 70> c{};
    for (size_t i = 0; i < c.size(); ++i) c[i] = kOperations[i].code;
    return c;
  }();
  return codes;
}

const std::array<ValueType, 17>& tarnwell_field_types() {
  static constexpr std::array<ValueType, 17> types = {
      ValueType::BYTE,    ValueType::SHORT,   ValueType::USHORT, ValueType::DATE,
      ValueType::TIME,    ValueType::LONG,    ValueType::ULONG,  ValueType::SREAL,
      ValueType::REAL,    ValueType::DECIMAL, ValueType::STRING, ValueType::CSTRING,
      ValueType::PSTRING, ValueType::MEMO,    ValueType::GROUP,  ValueType::ARRAY,
      ValueType::BLOB};
  return types;
}

}  // namespace vtn::tarnwell
