// The short way of the call sequence against the whole way: every operation code, in many file
// states, with every kind of key operand, with the driver succeeding, reporting nothing, failing,
// running out of memory or granting a discard, traced and untraced, with and without an error
// standing from before. Two twin files take the same calls, one through run_call_sequence and one
// through run_whole_call_sequence; everything a program, the trace or the next call can see must
// come out the same.
#include <gtest/gtest.h>

#include <array>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "files/support/test_driver.hpp"
#include "runtime/files/call_sequence.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/operation_rules.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

struct KeyData : DriverKeyData {};

struct ScriptInstance : DriverInstance {
  std::vector<KeyData> keys;
};

// What the driver does when an operation reaches it.
enum class Answer { success, no_report, failure, out_of_memory, discard };

struct Performed {
  int32_t code = 0;
  const KeyBlock* key = nullptr;  // compared as `key_seen`: the twins' keys differ
  int key_seen = 0;
  bool key_data_is_own = false;
  int32_t string_count = 0;
  std::string first_string;
  bool operator==(const Performed& o) const {
    return code == o.code && key_seen == o.key_seen && key_data_is_own == o.key_data_is_own &&
           string_count == o.string_count && first_string == o.first_string;
  }
};

// A driver that answers as the test says and notes what reached it.
class ScriptDriver : public FileDriver {
 public:
  Answer answer = Answer::success;
  std::vector<Performed> performed;

  const DriverRegistration& registration() const override { return kRegistration; }
  const char* trace_section() const override { return "XWSCRIPT"; }
  const char* trace_default_log() const override { return "SCRIPT.LOG"; }
  OpenFileFlags open_file_flags() const override { return {1, true, true, true, true}; }
  std::unique_ptr<DriverInstance> new_instance() override {
    return std::make_unique<ScriptInstance>();
  }
  int32_t prepare_instance(DriverInstance& base, FileBlock& file) override {
    auto& in = static_cast<ScriptInstance&>(base);
    testing_driver::attach_keys(in, in.keys, file);
    return 0;
  }
  int32_t perform(FileCall& call) override {
    performed.push_back({call.code, call.key, 0,
                         call.key_data != nullptr && call.key_data->instance == call.instance,
                         call.string_count, call.strings[0]});
    call.result_text = "text of " + std::to_string(call.code);
    call.value = 7;
    switch (answer) {
      case Answer::success:
        return 0;
      case Answer::no_report:
        return NO_REPORT;
      case Answer::failure:
        return 33;
      case Answer::out_of_memory:
        throw std::bad_alloc();
      case Answer::discard:
        call.instance->file_control |= FC_DISCARD;
        return 0;
    }
    return 0;
  }

 private:
  static constexpr DriverRegistration kRegistration = {
      "SCRIPT", "V5SCR.DLL", "notice", "Script driver", nullptr, 0, 0, "V5SCRS.DLL"};
};

FileDeclaration declaration() {
  return FileDeclaration("SCR")
      .driver(nullptr)
      .name("script")
      .field("ID", ftype::LONG)
      .field("NAME", ftype::STRING(20))
      .key("BY_ID", {"ID"}, KA_PRIMARY)
      .index("BY_NAME", {"NAME"});
}

// How the call names its key (for the operations that take one).
enum class KeyOperand { own, built_index, unbuilt_index, foreign, none };

struct Case {
  int32_t code;
  uint32_t state;
  KeyOperand key;
  Answer answer;
  bool traced;
  bool error_before;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << "code " << c.code << " (" << operation_name(c.code) << ") state 0x" << std::hex
            << c.state << std::dec << " key " << static_cast<int>(c.key) << " answer "
            << static_cast<int>(c.answer) << " traced " << c.traced << " error before "
            << c.error_before;
}

// Everything the call leaves behind that anyone can see.
struct Outcome {
  int32_t entry_result = 0;
  bool has_instance = false;
  uint32_t file_state = 0;
  uint32_t file_control = 0;
  int32_t last_error = 0;
  int32_t last_sequential = 0;
  uint32_t open_mode = 0;
  uint32_t index_state = 0;
  int32_t error_code = 0;
  std::string error_text;
  bool error_names_the_file = false;
  std::vector<std::string> strings_left;
  std::vector<Performed> performed;
  std::vector<std::pair<int32_t, int32_t>> traced;  // (code, result) seen by the trace
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << "{result " << o.entry_result << ", instance " << o.has_instance << ", state 0x" << std::hex
     << o.file_state << ", control 0x" << o.file_control << std::dec << ", last error "
     << o.last_error << ", last sequential " << o.last_sequential << ", open mode " << o.open_mode
     << ", index state " << o.index_state << ", error " << o.error_code << " '" << o.error_text
     << "' on file " << o.error_names_the_file << ", strings";
  for (const auto& s : o.strings_left) os << " '" << s << "'";
  os << ", performed " << o.performed.size() << ", traced " << o.traced.size() << "}";
  return os;
}

std::vector<std::pair<int32_t, int32_t>>& trace_seen() {
  static std::vector<std::pair<int32_t, int32_t>> seen;
  return seen;
}

using Sequence = int32_t (*)(FileDriver&, int32_t, FileBlock*, const OperandWord*);

class CallShortcut : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceHooks hooks;
    hooks.call = [](DriverInstance&, const DriverKeyData*, int32_t code, const char*,
                    int32_t result, uint32_t) { trace_seen().emplace_back(code, result); };
    set_trace_hooks(hooks);
    // The other file's key data belongs to an instance of its own.
    run_whole_call_sequence(driver_, op::NAME, &other_.declared(), nullptr);
    string_stack().clear();
  }
  void TearDown() override {
    set_trace_hooks({});
    for (File* f : {&short_way_, &whole_way_, &other_}) discard_instance(f->declared());
    string_stack().clear();
    clear_error();
  }

  // Gives `file` an instance in the state the case asks for, then runs the case's call through
  // `sequence` and collects what it left.
  Outcome run(const Case& c, File& file, Sequence sequence) {
    FileBlock& block = file.declared();
    discard_instance(block);
    string_stack().clear();
    driver_.answer = Answer::success;
    run_whole_call_sequence(driver_, op::NAME, &block, nullptr);
    string_stack().clear();
    DriverInstance& in = *block.instance;
    in.file_state = c.state;
    in.trace = c.traced ? 1 : 0;
    file.key("BY_NAME").driver_data->state = c.key == KeyOperand::built_index ? FS_KEYREADY : 0;

    clear_error();
    if (c.error_before) {
      post_error(35);
      set_error_file(&block);
    }
    const OperationRule* rule = operation_rule(c.code);
    const int strings = rule != nullptr ? rule->strings_in : 0;
    string_stack().push_copy("below");
    for (int i = 0; i < strings; ++i) string_stack().push_copy(std::to_string(i + 1));

    OperandWord words[4] = {0x42, 0, 0, 0};
    if (rule != nullptr && rule->key) words[0] = key_word(c.key, file);
    driver_.answer = c.answer;
    driver_.performed.clear();
    trace_seen().clear();

    Outcome o;
    o.entry_result = sequence(driver_, c.code, &block, words);
    o.has_instance = block.instance != nullptr;
    if (block.instance != nullptr) {
      const DriverInstance& after = *block.instance;
      o.file_state = after.file_state;
      o.file_control = after.file_control;
      o.last_error = after.last_error;
      o.last_sequential = after.last_sequential;
      o.open_mode = after.open_mode;
      // The key data goes with a discarded instance; read it only while the instance lives.
      o.index_state = file.key("BY_NAME").driver_data->state;
    }
    o.error_code = ERRORNUMBER();
    o.error_text = ERRORTEXT();
    o.error_names_the_file = error_source_file() == &block;
    while (string_stack().depth() != 0) o.strings_left.push_back(string_stack().pop_string());
    o.performed = driver_.performed;
    for (Performed& p : o.performed)
      p.key_seen = p.key == nullptr                ? 0
                   : p.key == &file.key("BY_ID")   ? 1
                   : p.key == &file.key("BY_NAME") ? 2
                   : p.key == &other_.key("BY_ID") ? 3
                                                   : 4;
    o.traced = trace_seen();
    return o;
  }

  OperandWord key_word(KeyOperand k, File& file) {
    switch (k) {
      case KeyOperand::own:
        return reinterpret_cast<OperandWord>(&file.key("BY_ID"));
      case KeyOperand::built_index:
      case KeyOperand::unbuilt_index:
        return reinterpret_cast<OperandWord>(&file.key("BY_NAME"));
      case KeyOperand::foreign:
        return reinterpret_cast<OperandWord>(&other_.key("BY_ID"));
      case KeyOperand::none:
        return 0;
    }
    return 0;
  }

  ScriptDriver driver_;
  File short_way_{declaration()};
  File whole_way_{declaration()};
  File other_{declaration()};
};

TEST_F(CallShortcut, TheShortWayLeavesWhatTheWholeWayLeaves) {
  // States a program meets, and the ones that must stop a call: closed, open in each access,
  // in a sequence with and without a current record, in a transaction, locked, building, with a
  // WATCH or HOLD request or its result, touched by a property.
  constexpr uint32_t kReady = FS_OPEN | FS_SEQUENCE | FS_CURRENT;
  const uint32_t states[] = {
      0,
      FS_PROPERTY,
      FS_OPEN,
      FS_OPEN | FS_WRITE,
      kReady,
      kReady | FS_WRITE,
      kReady | FS_WRITE | FS_EXCLUSIVE,
      kReady | FS_WRITE | FS_SEQSTART,
      kReady | FS_WRITE | FS_LOGOUT,
      kReady | FS_WRITE | FS_LOCKED | FS_STREAM,
      kReady | FS_WRITE | FS_BUILDING,
      kReady | FS_WATCH | FS_HOLD,
      kReady | FS_WATCHED | FS_HELD,
      FS_OPEN | FS_WRITE | FS_EXCLUSIVE | FS_HOLD | FS_SEQSTART,
  };
  const Answer answers[] = {Answer::success, Answer::no_report, Answer::failure,
                            Answer::out_of_memory, Answer::discard};
  const KeyOperand key_operands[] = {KeyOperand::own, KeyOperand::built_index,
                                     KeyOperand::unbuilt_index, KeyOperand::foreign,
                                     KeyOperand::none};

  int cases = 0, short_way_possible = 0, mismatches = 0;
  for (int32_t code = 0; code <= op::kLast + 1; ++code) {
    const OperationRule* rule = operation_rule(code);
    const bool keyed = rule != nullptr && rule->key;
    for (uint32_t state : states)
      for (KeyOperand key : key_operands) {
        if (!keyed && key != KeyOperand::own) continue;
        for (Answer answer : answers)
          for (int variant = 0; variant < 4; ++variant) {
            const Case c{code, state, key, answer, (variant & 1) != 0, (variant & 2) != 0};
            ++cases;
            // The conditions of the short way, from the outside: counted so that the table is
            // known to reach it often, whichever way each call then takes.
            if ((operation_traits(code) & OT_PLAIN) != 0 && !c.traced &&
                (rule->required & ~FS_KEYREADY & ~state) == 0 &&
                ((rule->forbidden | FS_BUILDING) & state) == 0 &&
                (!keyed || key == KeyOperand::own))
              ++short_way_possible;
            const Outcome by_short_way = run(c, short_way_, run_call_sequence);
            const Outcome by_whole_way = run(c, whole_way_, run_whole_call_sequence);
            if (by_short_way != by_whole_way && ++mismatches <= 10)
              ADD_FAILURE() << c << "\n  short way: " << by_short_way
                            << "\n  whole way: " << by_whole_way;
          }
      }
  }
  EXPECT_EQ(mismatches, 0) << "of " << cases << " cases";
  EXPECT_GT(short_way_possible, 1000);
}

// The operations a program runs in its loops are the ones the short way is for; the ones that
// move strings, name or discard the instance, or check a position never take it.
TEST(OperationTraits, PlainOperations) {
  for (int32_t code : {op::ADD, op::APPEND, op::PUT, op::DELETE, op::NEXT, op::PREVIOUS, op::SKIP,
                       op::GETfilekey, op::GETfileptr, op::GETkeyptr, op::SETkey, op::SETfile,
                       op::RECORDSfile, op::POINTERkey, op::EOF_, op::HOLDfile})
    EXPECT_NE(operation_traits(code) & OT_PLAIN, 0) << operation_name(code);
  for (int32_t code : {0, op::OPEN, op::SHARE, op::CLOSE, op::CREATE, op::NAME, op::SEND,
                       op::POSITIONfile, op::REGETfile, op::RESETkey, op::BUILDevent, op::BUILDdyn,
                       op::QUERY_VIEW, op::GET_PROPERTY, op::kLast + 1, -1})
    EXPECT_EQ(operation_traits(code) & OT_PLAIN, 0) << code;
}

}  // namespace
}  // namespace vtn
