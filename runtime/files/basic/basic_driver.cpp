#include "runtime/files/basic/basic_driver.hpp"

#include <array>

#include "runtime/files/basic/basic_operations.hpp"
#include "runtime/files/basic/basic_properties.hpp"
#include "runtime/files/call_sequence.hpp"
#include "runtime/files/driver_trace.hpp"

namespace vtn {
namespace {

using basic::BasicInstance;

constexpr int32_t kInvalidKeyFile = 38;
constexpr int32_t kInvalidRecordDeclaration = 47;
constexpr int32_t kUnsupported = 80;

int32_t answer_zero(FileCall& call) {
  call.value = 0;
  return 0;
}

// A file of this driver has no keys, so no key of it can carry a property.
int32_t no_such_key(FileCall&) {
  return kInvalidKeyFile;
}

int32_t own_entry(FileCall& call) {
  call.value = static_cast<int32_t>(reinterpret_cast<intptr_t>(&basic_entry));
  return 0;
}

struct Operation {
  int32_t code;
  int32_t (*perform)(FileCall& call);
};

// Every operation the driver answers; the others are 80.
constexpr Operation kOperations[] = {
    {op::ADD, basic::add_record},
    {op::APPEND, basic::add_record},
    {op::ADDfilelen, basic::add_record_length},
    {op::APPENDlen, basic::add_record_length},
    {op::CLOSE, basic::close_file},
    {op::COPY, basic::copy_file},
    {op::CREATE, basic::create_file},
    {op::EMPTY, basic::empty_file},
    {op::EOF_, basic::end_of_file},
    {op::GETfileptr, basic::get_record},
    {op::GETfileptrlen, basic::get_record},
    {op::LOCKfile, basic::lock_file},
    {op::LOCKfilesec, basic::lock_file_seconds},
    {op::NAME, basic::file_name},
    {op::NEXT, basic::next_record},
    {op::OPEN, basic::open_file},
    {op::SHARE, basic::open_file},
    {op::POINTERfile, basic::pointer_of},
    {op::FLUSH, basic::flush_file},
    {op::PUT, basic::put_record},
    {op::REMOVE, basic::remove_file},
    {op::RENAME, basic::rename_file},
    {op::SETfile, basic::set_file},
    {op::SETfileptr, basic::set_file_pointer},
    {op::UNLOCK, basic::unlock_file},
    {op::BYTES, basic::bytes_of},
    {op::PUTfileptr, basic::put_record_pointer},
    {op::PUTfileptrlen, basic::put_record_pointer_length},
    {op::SEND, basic::send_option},
    {op::POSITIONfile, basic::position_of},
    {op::RESETfile, basic::reset_file},
    {op::REGETfile, basic::reget_record},
    {op::QUERY_KEY, answer_zero},
    {op::QUERY_VIEW, answer_zero},
    {op::INVIEW, answer_zero},
    {op::ENDVIEW, answer_zero},
    {op::COUNTRECORDS, answer_zero},
    {op::CLEAR, basic::clear_record_buffer},
    {op::SET_PROPERTY, basic::set_property},
    {op::GET_PROPERTY, basic::get_property},
    {op::SETPROPERTYkey, no_such_key},
    {op::GETPROPERTYkey, no_such_key},
    {op::Internal91, own_entry},
};

constexpr auto kTable = [] {
  std::array<int32_t (*)(FileCall&), op::kLast + 1> table{};
  for (const Operation& o : kOperations) table[static_cast<size_t>(o.code)] = o.perform;
  return table;
}();

// Operations that a remotely served file would hand to a remote-access component; with none
// installed, every operation on such a file is 80.
bool served_remotely(const FileCall& call) {
  return is_remote(*call.file);
}

class BasicDriver final : public FileDriver {
 public:
  const DriverRegistration& registration() const override { return basic_registration(); }
  const char* trace_section() const override { return "XWBASIC"; }
  const char* trace_default_log() const override { return "BASIC.LOG"; }
  OpenFileFlags open_file_flags() const override {
    return {.driver_word = 0,
            .rollback_needed = false,
            .commit_needed = false,
            .driver_flag = true,
            .unlock_needed = true};
  }
  // The trace is installed before the driver serves its first file (the settings are read once
  // the file has its instance).
  std::unique_ptr<DriverInstance> new_instance() override {
    install_driver_trace();
    return std::make_unique<BasicInstance>();
  }

  int32_t prepare_instance(DriverInstance& base, FileBlock& file) override {
    if (file.key_count != 0 || file.memo_count != 0) return kInvalidRecordDeclaration;
    auto& in = static_cast<BasicInstance&>(base);
    if (int32_t r = basic::build_field_table(file.record_type, file.record_length, in.table);
        r != 0)
      return r;
    in.field_count = static_cast<uint32_t>(in.table.fields.size());
    return 0;
  }

  int32_t perform(FileCall& call) override {
    if (served_remotely(call)) return kUnsupported;
    const int32_t code = call.code;
    if (code < 0 || code > op::kLast || kTable[static_cast<size_t>(code)] == nullptr)
      return kUnsupported;
    return kTable[static_cast<size_t>(code)](call);
  }
};

// Stateless, and initialised before any code runs: a call pays no guard for it.
constinit BasicDriver the_driver;

}  // namespace

const DriverRegistration& basic_registration() {
  static const DriverRegistration registration = {
      "BASIC",
      "V5BAS.DLL",
      "Vortane run-time",
      "BASIC (Comma Delimited)",
      &basic_entry,
      0,
      static_cast<uint32_t>(sizeof(basic::BasicInstance)),
      "V5BASS.DLL",
  };
  return registration;
}

int32_t basic_entry(int32_t code, FileBlock* file, const OperandWord* operands) {
  return run_call_sequence(the_driver, code, file, operands);
}

}  // namespace vtn
