// A small in-memory driver for the file layer's tests. It keeps records per file name on a
// pretend disk (so they outlive CLOSE), serves the operations the tests need and logs every
// operation it performs. Key operations compare the bytes of the key's first component.
#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "runtime/files/call_sequence.hpp"
#include "runtime/files/field_info.hpp"
#include "runtime/files/file_block.hpp"

namespace vtn::testing_driver {

struct Disk {
  std::map<std::string, std::vector<std::string>> files;  // name -> records
  std::vector<std::pair<int32_t, std::string>> log;       // (code, file name) performed
  std::function<void(FileBlock&)> during_build;           // runs while BUILD is under way
  int32_t fail_open_with = 0;                             // the next OPEN fails with this
};

inline Disk& disk() {
  static Disk d;
  return d;
}

struct TestKeyData : DriverKeyData {};

// Gives every key of `file` its driver data in `keys`, numbered from 1; a key declared as an index
// is dynamic.
template <class KeyData>
void attach_keys(DriverInstance& instance, std::vector<KeyData>& keys, FileBlock& file) {
  keys.resize(file.key_count);
  for (uint8_t i = 0; i < file.key_count; ++i) {
    keys[i].instance = &instance;
    keys[i].number = i + 1;
    keys[i].flags = file.keys[i]->attributes & KA_INDEX ? KF_DYNAMIC : 0;
    file.keys[i]->driver_data = &keys[i];
  }
}

struct TestInstance : DriverInstance {
  std::vector<TestKeyData> keys;
  size_t next = 0;     // index of the record NEXT reads
  size_t current = 0;  // index + 1 of the current record, 0 when none
};

class TestDriver : public FileDriver {
 public:
  TestDriver(const DriverRegistration& registration, OpenFileFlags flags, bool serves_keys)
      : registration_(registration), flags_(flags), serves_keys_(serves_keys) {}

  const DriverRegistration& registration() const override { return registration_; }
  const char* trace_section() const override { return "XWTEST"; }
  const char* trace_default_log() const override { return "TEST.LOG"; }
  OpenFileFlags open_file_flags() const override { return flags_; }
  std::unique_ptr<DriverInstance> new_instance() override {
    return std::make_unique<TestInstance>();
  }

  int32_t prepare_instance(DriverInstance& base, FileBlock& file) override {
    if (!serves_keys_ && (file.key_count != 0 || file.memo_count != 0)) return 47;
    auto& in = static_cast<TestInstance&>(base);
    attach_keys(in, in.keys, file);
    in.key_count = file.key_count;
    in.field_count = field_count(file.record_type);
    return 0;
  }

  int32_t perform(FileCall& call) override {
    auto& in = static_cast<TestInstance&>(*call.instance);
    disk().log.emplace_back(call.code, in.file_name);
    auto& records = disk().files[in.file_name];
    // Like the comma-delimited driver, the keyless driver takes no part in transactions.
    if (!serves_keys_ &&
        (call.code == op::LOGOUT || call.code == op::COMMIT || call.code == op::ROLLBACK))
      return 80;
    const uint32_t length = in.record_length;
    switch (call.code) {
      case op::CREATE:
        if ((call.file->attributes & FA_CREATE) == 0) return 54;
        records.clear();
        return 0;
      case op::OPEN:
      case op::SHARE:
        if (in.file_name.empty()) return 45;
        if (int32_t r = disk().fail_open_with; r != 0) {
          disk().fail_open_with = 0;
          return r;
        }
        if (disk().files.count(in.file_name) == 0 || in.file_name == "missing") return 2;
        return 0;
      case op::CLOSE:
      case op::LOGOUT:
      case op::COMMIT:
      case op::ROLLBACK:
      case op::UNLOCK:
      case op::LOCKfile:
      case op::STREAM:
      case op::FLUSH:
      case op::WATCH:
      case op::HOLDfile:
        return 0;
      case op::REMOVE:
        disk().files.erase(in.file_name);
        return 0;
      case op::NAME:
        call.result_text = in.file_name;
        return 0;
      case op::SEND:
        call.result_text = "sent:" + call.strings[0];
        return 0;
      case op::ADD:
        records.emplace_back(in.record, length);
        in.current = records.size();
        return 0;
      case op::PUT:
        records[in.current - 1].assign(in.record, length);
        return 0;
      case op::SETfile:
        in.next = 0;
        return 0;
      case op::RESETfile:
        in.next = static_cast<size_t>(std::stoul(call.strings[0]));
        return 0;
      case op::SETkeykey:
        in.next = find(call, records, /*at_least=*/true);
        return 0;
      case op::NEXT:
        if (in.next >= records.size()) return 33;
        std::memcpy(in.record, records[in.next].data(), length);
        in.current = ++in.next;
        return 0;
      case op::EOF_:
        call.value = in.next >= records.size() ? 1 : 0;
        return 0;
      case op::RECORDSfile:
        call.value = static_cast<int32_t>(records.size());
        return 0;
      case op::NULL_:  // field 2 is null, every other field is not
        call.value = call.operand(0) == 2 ? 1 : 0;
        return 0;
      case op::GETfilekey: {
        const size_t i = find(call, records, /*at_least=*/false);
        if (i == records.size()) return 35;
        std::memcpy(in.record, records[i].data(), length);
        in.current = i + 1;
        return 0;
      }
      case op::BUILDdyn:
        return 0;
      case op::POSITIONfile:  // stands for an operation that runs out of memory
        throw std::bad_alloc();
      case op::BUILDfile:
        in.file_state |= FS_BUILDING;
        if (disk().during_build) disk().during_build(*call.file);
        in.file_state &= ~FS_BUILDING;
        return 0;
      default:
        return 80;
    }
  }

 private:
  // The first record whose first key component equals (or, with at_least, is not below) the
  // record buffer's; records.size() when there is none.
  static size_t find(const FileCall& call, const std::vector<std::string>& records, bool at_least) {
    const FieldDescriptor* f =
        field_info(call.file->record_type, std::abs(call.key->components[0]));
    const std::string_view wanted(call.instance->record + f->offset, f->size);
    for (size_t i = 0; i < records.size(); ++i) {
      const std::string_view have(records[i].data() + f->offset, f->size);
      if (have == wanted || (at_least && have > wanted)) return i;
    }
    return records.size();
  }

  const DriverRegistration& registration_;
  OpenFileFlags flags_;
  bool serves_keys_;
};

inline const DriverRegistration kTestRegistration = {
    "TESTDRV", "V5TST.DLL", "test notice",        "Test driver",
    nullptr,   0,           sizeof(TestInstance), "V5TSTS.DLL"};

// Registers like the record-file driver: everything needed, driver word 1.
inline int32_t test_entry(int32_t code, FileBlock* file, const OperandWord* operands) {
  static TestDriver driver(kTestRegistration, {1, true, true, true, true}, true);
  return run_call_sequence(driver, code, file, operands);
}

// Registers like the comma-delimited driver and refuses keys and memos with 47.
inline int32_t keyless_entry(int32_t code, FileBlock* file, const OperandWord* operands) {
  static TestDriver driver(kTestRegistration, {0, false, false, true, true}, false);
  return run_call_sequence(driver, code, file, operands);
}

inline void reset_disk() {
  disk().files.clear();
  disk().log.clear();
  disk().during_build = nullptr;
  disk().fail_open_with = 0;
}

}  // namespace vtn::testing_driver
