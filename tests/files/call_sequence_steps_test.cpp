// The call sequence, operation by operation: which operations replace a stale instance before
// they run, and how many strings each one takes from the StringStack and gives back, whether it
// succeeds, fails its state check or cannot even create its instance.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>
#include <string>

#include "files/support/test_driver.hpp"
#include "runtime/files/call_sequence.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using testing_driver::disk;
using testing_driver::keyless_entry;
using testing_driver::test_entry;

// Written out from the driver interface rather than read from the rules table, so that a slip in
// either shows.
const std::set<int32_t> kTwoStrings = {34, 71, 78, 85};
const std::set<int32_t> kOneString = {5, 9, 38, 60, 63, 64, 66, 67, 72, 79, 86, 88, 89, 90};
const std::set<int32_t> kStringResult = {23, 60, 61, 62, 72, 79, 86};
// The operations that take name, owner and options afresh from the definition.
const std::set<int32_t> kFreshTexts = {60, 78, 90, 85, 89, 71, 88, 9, 38, 23, 37, 10, 25, 48, 7};

int strings_in(int32_t code) {
  return kTwoStrings.count(code) != 0 ? 2 : kOneString.count(code) != 0 ? 1 : 0;
}

std::string& served_by() {
  static std::string text;
  return text;
}

class CallSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_driver::reset_disk();
    clear_error();
    string_stack().clear();
    // Every instance traces, so the trace hook sees which instance served each call.
    TraceHooks hooks;
    hooks.read_settings = [](DriverInstance& in, const char*, const char*) { in.trace = 1; };
    hooks.call = [](DriverInstance& in, const DriverKeyData*, int32_t, const char*, int32_t,
                    uint32_t) { served_by() = in.driver_text; };
    set_trace_hooks(hooks);
  }
  void TearDown() override {
    set_trace_hooks({});
    discard_instance(file_.declared());
    discard_instance(keyed_keyless_.declared());
    string_stack().clear();
    clear_error();
  }

  // The operand words of `code`: the file's key first for the key operations, otherwise an access
  // code (read/write, deny none) where OPEN and SHARE look for one.
  std::array<OperandWord, 4> operands(File& file, int32_t code) {
    const OperationRule* rule = operation_rule(code);
    if (rule != nullptr && rule->key && file.declared().key_count != 0)
      return {reinterpret_cast<OperandWord>(&file.key("BY_ID")), 0, 0, 0};
    return {0x42, 0, 0, 0};
  }

  // Runs `code` on `file` with a marker below its strings; returns what the call left above the
  // marker, or "unbalanced".
  std::string call_with_strings(File& file, int32_t code) {
    string_stack().push_copy("marker");
    for (int i = 0; i < strings_in(code); ++i) string_stack().push_copy("1");
    const auto words = operands(file, code);
    dispatch(code, &file.declared(), words.data());
    std::string result = "(none)";
    if (kStringResult.count(code) != 0 && string_stack().depth() >= 2)
      result = string_stack().pop_string();
    if (string_stack().depth() != 1 || string_stack().peek() != "marker") {
      string_stack().clear();
      return "unbalanced";
    }
    string_stack().release();
    return result;
  }

  static FileDeclaration keyed(DriverEntry entry) {
    return FileDeclaration("ORD")
        .driver(entry)
        .name("orders")
        .create()
        .field("ID", ftype::LONG)
        .key("BY_ID", {"ID"}, KA_PRIMARY);
  }

  File file_{keyed(test_entry)};
  File keyed_keyless_{keyed(keyless_entry)};  // its instance can never be created (47)
};

TEST_F(CallSteps, StaleInstancesAreReplacedOnlyBeforeTheOperationsThatTakeTextsAfresh) {
  for (int32_t code = 1; code <= op::kLast; ++code) {
    if (code == op::QUERY_VIEW) continue;  // answered before anything else
    SCOPED_TRACE(testing::Message() << "code " << code << " " << operation_name(code));
    disk().files["orders"];
    NAME(file_);  // an instance that is neither open nor touched by a property
    ASSERT_NE(file_.declared().instance, nullptr);
    file_.declared().instance->driver_text = "stale";
    served_by() = "(not traced)";

    EXPECT_NE(call_with_strings(file_, code), "unbalanced");
    // CLOSE runs on the stale instance and discards it afterwards.
    const bool fresh = kFreshTexts.count(code) != 0 && code != op::CLOSE;
    EXPECT_EQ(served_by(), fresh ? "" : "stale");
    if (code == op::CLOSE) {
      EXPECT_EQ(file_.declared().instance, nullptr);
    }
    discard_instance(file_.declared());
    clear_error();
  }
}

TEST_F(CallSteps, OpenOrPropertyInstancesAreNotStale) {
  const std::pair<uint32_t, int32_t> rows[] = {
      {FS_PROPERTY, op::SEND}, {FS_PROPERTY, op::CREATE}, {FS_PROPERTY, op::CLOSE},
      {FS_OPEN, op::NAME},     {FS_OPEN, op::SEND},       {FS_OPEN, op::OPEN},
  };
  for (const auto& [state, code] : rows) {
    SCOPED_TRACE(testing::Message() << "code " << code << " state " << state);
    disk().files["orders"];
    NAME(file_);
    ASSERT_NE(file_.declared().instance, nullptr);
    file_.declared().instance->driver_text = "kept";
    file_.declared().instance->file_state = state;
    served_by() = "(not traced)";
    EXPECT_NE(call_with_strings(file_, code), "unbalanced");
    EXPECT_EQ(served_by(), "kept");
    discard_instance(file_.declared());
    clear_error();
  }
}

TEST_F(CallSteps, EveryOperationTakesAndGivesItsStrings) {
  for (int32_t code = 0; code <= op::kLast; ++code) {
    SCOPED_TRACE(testing::Message() << "code " << code << " " << operation_name(code));
    const std::string nothing = kStringResult.count(code) != 0 ? "" : "(none)";

    // Without an instance: the call creates one (and most fail their state check on a closed
    // file).
    disk().files["orders"];
    EXPECT_NE(call_with_strings(file_, code), "unbalanced") << "closed";
    discard_instance(file_.declared());

    // On an open file.
    disk().files["orders"];
    OPEN(file_, 0x42);
    ASSERT_EQ(ERRORNUMBER(), 0);
    EXPECT_NE(call_with_strings(file_, code), "unbalanced") << "open";
    discard_instance(file_.declared());

    // When the instance cannot be created, the strings still go and an empty result comes back.
    if (code != op::QUERY_VIEW) {
      EXPECT_EQ(call_with_strings(keyed_keyless_, code), nothing) << "no instance";
      EXPECT_EQ(ERRORNUMBER(), 47);
      EXPECT_EQ(keyed_keyless_.declared().instance, nullptr);
    }
    clear_error();
  }
}

// Statements with a number or a Boolean result get it from the entry, not the call's error code;
// a failed call gives 0 (1 for BOF and EOF) and leaves the code in ERRORNUMBER().
TEST_F(CallSteps, ValueStatementsReturnTheDriversValue) {
  struct Row {
    const char* what;
    bool open;
    std::function<int32_t(File&)> call;
    int32_t value;
    int32_t error;
  };
  const Row rows[] = {
      {"NULL of a null field", true, [](File& f) { return int32_t{NULL_(f, 2)}; }, 1, 0},
      {"NULL of a field with a value", true, [](File& f) { return int32_t{NULL_(f, 1)}; }, 0, 0},
      {"NULL on a closed file", false, [](File& f) { return int32_t{NULL_(f, 2)}; }, 0, 37},
      {"RECORDS", true, [](File& f) { return RECORDS(f); }, 2, 0},
      {"RECORDS on a closed file", false, [](File& f) { return RECORDS(f); }, 0, 37},
      {"EOF on a closed file", false, [](File& f) { return int32_t{EOF_(f)}; }, 1, 37},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    disk().files["orders"] = {"a", "b"};
    if (row.open) OPEN(file_, 0x42);
    clear_error();
    EXPECT_EQ(row.call(file_), row.value);
    EXPECT_EQ(ERRORNUMBER(), row.error);
    discard_instance(file_.declared());
  }
}

}  // namespace
}  // namespace vtn
