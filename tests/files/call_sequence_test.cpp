#include "runtime/files/call_sequence.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "files/support/test_driver.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using testing_driver::disk;
using testing_driver::keyless_entry;
using testing_driver::test_entry;

constexpr uint32_t kOpenRW = FS_OPEN | FS_WRITE;

TEST(StateCheck, RequirementsAndProhibitionsGiveTheirCodes) {
  struct Row {
    const char* what;
    uint32_t state;
    int32_t code;
    int32_t expected;
    std::string_view position = "1";
  };
  const Row rows[] = {
      {"NEXT on a closed file", 0, op::NEXT, 37},
      {"NEXT without SET", kOpenRW, op::NEXT, 33},
      {"NEXT after SET", kOpenRW | FS_SEQUENCE, op::NEXT, 0},
      {"PUT without a current record", kOpenRW, op::PUT, 33},
      {"ADD on a read-only file", FS_OPEN, op::ADD, 5},
      {"ADD on a writable file", kOpenRW, op::ADD, 0},
      {"BUILD shared", kOpenRW, op::BUILDfile, 63},
      {"BUILD exclusive", kOpenRW | FS_EXCLUSIVE, op::BUILDfile, 0},
      {"BUILD of a closed file goes to the driver", 0, op::BUILDfile, 0},
      {"EMPTY on a closed file", 0, op::EMPTY, 37},
      {"OPEN of an open file", FS_OPEN, op::OPEN, 52},
      {"SHARE of an open file", FS_OPEN, op::SHARE, 52},
      {"LOGOUT twice", FS_OPEN | FS_LOGOUT, op::LOGOUT, 56},
      {"CLOSE inside a transaction", FS_OPEN | FS_LOGOUT, op::CLOSE, 56},
      {"COMMIT outside a transaction", FS_OPEN, op::COMMIT, NO_REPORT},
      {"UNLOCK of an unlocked file", FS_OPEN, op::UNLOCK, NO_REPORT},
      {"LOCK of a locked file", FS_OPEN | FS_LOCKED, op::LOCKfile, NO_REPORT},
      {"STREAM twice", FS_OPEN | FS_STREAM, op::STREAM, NO_REPORT},
      {"NEXT while building", kOpenRW | FS_SEQUENCE | FS_BUILDING, op::NEXT, 92},
      {"ADD while building", kOpenRW | FS_BUILDING, op::ADD, 92},
      {"BUILDevent while building", kOpenRW | FS_EXCLUSIVE | FS_BUILDING, op::BUILDevent, 0},
      {"CLOSE while building", FS_OPEN | FS_BUILDING, op::CLOSE, 0},
      {"NAME while building", FS_OPEN | FS_BUILDING, op::NAME, 0},
      {"GET_PROPERTY while building", FS_OPEN | FS_BUILDING, op::GET_PROPERTY, 0},
      {"missing beats building", FS_BUILDING | FS_OPEN, op::NEXT, 33},
      {"RESET to a blank position", FS_OPEN, op::RESETfile, 35, "   "},
      {"REGET at an empty position", FS_OPEN, op::REGETfile, 35, ""},
      {"RESET to a position", FS_OPEN, op::RESETfile, 0, "12"},
      {"REGET of a closed file", 0, op::REGETfile, 37, ""},
      {"a code without rules", FS_OPEN, 200, 0},
      {"code 380", FS_OPEN, 380, 80},
      {"a negative code", FS_OPEN, -3, 80},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DriverInstance in;
    in.file_state = row.state;
    in.file_control = FC_DISCARD;
    EXPECT_EQ(check_state(in, nullptr, nullptr, row.code, row.position), row.expected);
    EXPECT_EQ(in.file_control, 0u);
  }
}

TEST(StateCheck, KeysMustBelongToTheInstanceAndDynamicIndexesMustBeBuilt) {
  DriverInstance in, other;
  in.file_state = FS_OPEN;
  KeyBlock key;
  DriverKeyData mine, foreign, dynamic_index;
  mine.instance = &in;
  foreign.instance = &other;
  dynamic_index.instance = &in;
  dynamic_index.flags = KF_DYNAMIC;

  EXPECT_EQ(check_state(in, &key, &foreign, op::SETkeykey, {}), 38);
  EXPECT_EQ(check_state(in, &key, nullptr, op::SETkeykey, {}), 38);
  EXPECT_EQ(check_state(in, &key, &mine, op::SETkeykey, {}), 0);
  EXPECT_EQ(check_state(in, &key, &dynamic_index, op::SETkeykey, {}), 46);
  dynamic_index.state = FS_KEYREADY;
  EXPECT_EQ(check_state(in, &key, &dynamic_index, op::SETkeykey, {}), 0);
  in.file_state = 0;  // a closed file is reported before the index
  dynamic_index.state = 0;
  EXPECT_EQ(check_state(in, &key, &dynamic_index, op::SETkeykey, {}), 37);
}

TEST(StateCheck, VariableTextsAreRefreshedOnlyWhileClosed) {
  char name[12] = "first";
  FileBlock file;
  file.name = name;
  file.name_length = sizeof name;
  DriverInstance in;
  in.file = &file;
  in.refresh_flags = RF_NAME;
  std::memcpy(name, "second", 7);
  EXPECT_EQ(check_state(in, nullptr, nullptr, op::RECORDSfile, {}), 37);
  EXPECT_EQ(in.file_name, "");
  EXPECT_EQ(check_state(in, nullptr, nullptr, op::CREATE, {}), 0);
  EXPECT_EQ(in.file_name, "second");
  in.file_state = FS_OPEN;
  std::memcpy(name, "third", 6);
  EXPECT_EQ(check_state(in, nullptr, nullptr, op::SEND, {}), 0);
  EXPECT_EQ(in.file_name, "second");
}

TEST(StateUpdate, SuccessAndFailureMoveTheState) {
  struct Row {
    const char* what;
    uint32_t before;
    int32_t code;
    int32_t result;
    uint32_t after;
    uint32_t control;
  };
  const Row rows[] = {
      {"OPEN", 0, op::OPEN, 0, FS_OPEN, FC_CLEARERROR},
      {"CLOSE", kOpenRW | FS_CURRENT, op::CLOSE, 0, FS_WRITE | FS_CURRENT,
       FC_CLEARERROR | FC_DISCARD},
      {"NEXT without WATCH", kOpenRW | FS_SEQUENCE | FS_WATCHED, op::NEXT, 0,
       kOpenRW | FS_SEQUENCE | FS_CURRENT, FC_CLEARERROR | FC_REMEMBER},
      {"NEXT under WATCH and HOLD", kOpenRW | FS_SEQUENCE | FS_WATCH | FS_HOLD, op::NEXT, 0,
       kOpenRW | FS_SEQUENCE | FS_CURRENT | FS_WATCHED | FS_HELD, FC_CLEARERROR | FC_REMEMBER},
      {"failed NEXT", kOpenRW | FS_SEQUENCE | FS_SEQSTART | FS_CURRENT | FS_WATCH | FS_WATCHED,
       op::NEXT, 33, kOpenRW, 0},
      {"failed GET", kOpenRW | FS_CURRENT, op::GETfilekey, 35, kOpenRW, 0},
      {"SET", kOpenRW, op::SETfile, 0, kOpenRW | FS_SEQUENCE | FS_SEQSTART,
       FC_CLEARERROR | FC_REMEMBER},
      {"ADD releases the held record", kOpenRW | FS_HELD | FS_WATCHED, op::ADD, 0,
       kOpenRW | FS_CURRENT, FC_CLEARERROR},
      {"LOCK", FS_OPEN, op::LOCKfile, 0, FS_OPEN | FS_LOCKED | FS_EXCLUSIVE, FC_CLEARERROR},
      {"SEND marks a property", 0, op::SEND, 0, FS_PROPERTY, FC_CLEARERROR},
      {"query", FS_OPEN, op::RECORDSfile, 0, FS_OPEN, 0},
      {"37 discards", 0, op::RECORDSfile, 37, 0, FC_DISCARD},
      {"failed CREATE discards", 0, op::CREATE, 5, 0, FC_DISCARD},
      {"CREATE refused with 52 keeps the instance", FS_OPEN, op::CREATE, 52, FS_OPEN, 0},
      {"failed OPEN keeps the instance", 0, op::OPEN, 2, 0, 0},
      {"NO_REPORT is a failure", FS_OPEN | FS_WATCH, op::COMMIT, NO_REPORT, FS_OPEN, 0},
      {"a code beyond the table", FS_OPEN | FS_WATCH, 120, 80, FS_OPEN | FS_WATCH, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DriverInstance in;
    in.file_state = row.before;
    update_state(in, nullptr, row.code, row.result);
    EXPECT_EQ(in.file_state, row.after);
    EXPECT_EQ(in.file_control, row.control);
  }
}

TEST(StateUpdate, DynamicIndexReadiness) {
  DriverInstance in;
  in.file_state = FS_OPEN;
  DriverKeyData key, plain_key;
  key.flags = KF_DYNAMIC;
  update_state(in, &key, op::BUILDdyn, 0);
  EXPECT_EQ(key.state, FS_KEYREADY);
  EXPECT_EQ(in.file_state & FS_KEYREADY, 0u);
  update_state(in, &plain_key, op::BUILDdyn, 0);
  EXPECT_EQ(plain_key.state, 0u);
  update_state(in, &key, op::CLOSE, 0);
  EXPECT_EQ(key.state, 0u);
}

// Whole calls through the test driver.
class CallSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_driver::reset_disk();
    clear_error();
    disk().files["orders"];
    disk().files["clients"];
  }
  void TearDown() override {
    discard_instance(orders_.declared());
    discard_instance(clients_.declared());
  }

  static FileDeclaration declaration(const char* prefix, const char* name) {
    return FileDeclaration(prefix)
        .driver(test_entry)
        .name(name)
        .create()
        .field("ID", ftype::LONG)
        .field("TEXT", ftype::STRING(10))
        .key("BY_ID", {"ID"}, KA_PRIMARY);
  }

  int32_t& id() { return *reinterpret_cast<int32_t*>(orders_.record()); }

  File orders_{declaration("ORD", "orders")};
  File clients_{declaration("CLI", "clients")};
};

TEST_F(CallSequence, FirstCallCreatesTheInstanceAndRegistersTheFile) {
  FileBlock& f = orders_;
  EXPECT_EQ(f.instance, nullptr);
  OPEN(f, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0);
  ASSERT_NE(f.instance, nullptr);
  EXPECT_EQ(f.instance->file_name, "orders");
  EXPECT_EQ(f.instance->attributes, 0x02);  // CREATE, shifted down
  EXPECT_EQ(f.instance->record, f.record);
  EXPECT_EQ(f.instance->file_state, FS_OPEN | FS_WRITE);
  EXPECT_EQ(f.instance->open_mode, 0x42u);
  EXPECT_EQ(std::string(f.instance->driver_name), "TESTDRV");
  auto entry = find_open_file(&f);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->access, 0x42u);
  EXPECT_EQ(entry->driver_words[0], 1u);
  EXPECT_TRUE(entry->commit_needed && entry->rollback_needed && entry->unlock_needed);
  EXPECT_EQ(entry->thread, -1);

  CLOSE(f);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(f.instance, nullptr);
  EXPECT_FALSE(find_open_file(&f).has_value());
}

TEST_F(CallSequence, AccessCodesGiveWriteAndExclusive) {
  struct Row {
    uint32_t access;
    uint32_t state;
  };
  const Row rows[] = {{0x40, FS_OPEN},
                      {0x42, FS_OPEN | FS_WRITE},
                      {0x12, FS_OPEN | FS_WRITE | FS_EXCLUSIVE},
                      {0x20, FS_OPEN | FS_EXCLUSIVE},
                      {0x01, FS_OPEN | FS_WRITE}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.access);
    OPEN(orders_, row.access);
    EXPECT_EQ(orders_.declared().instance->file_state, row.state);
    CLOSE(orders_);
  }
}

TEST_F(CallSequence, NextWithoutSetAndAfterAFailure) {
  OPEN(orders_, 0x42);
  NEXT(orders_);
  EXPECT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(error_source_file(), &orders_.declared());
  SET(orders_);
  EXPECT_EQ(ERRORNUMBER(), 0);
  NEXT(orders_);  // the file is empty
  EXPECT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(orders_.declared().instance->file_state & (FS_SEQUENCE | FS_CURRENT | FS_SEQSTART), 0u);
  const size_t performed = disk().log.size();
  NEXT(orders_);
  EXPECT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(disk().log.size(), performed);  // refused by the check, not by the driver
}

TEST_F(CallSequence, PutAfterAFailedGet) {
  OPEN(orders_, 0x42);
  id() = 5;
  ADD(orders_);
  ASSERT_EQ(ERRORNUMBER(), 0);
  PUT(orders_);
  EXPECT_EQ(ERRORNUMBER(), 0);
  id() = 6;
  GET(orders_, orders_.key("BY_ID"));
  EXPECT_EQ(ERRORNUMBER(), 35);
  PUT(orders_);
  EXPECT_EQ(ERRORNUMBER(), 33);
}

TEST_F(CallSequence, AccessBitsRefuseWritesAndBuilds) {
  OPEN(orders_, 0x40);
  ADD(orders_);
  EXPECT_EQ(ERRORNUMBER(), 5);
  CLOSE(orders_);
  OPEN(orders_, 0x42);
  BUILD(orders_);
  EXPECT_EQ(ERRORNUMBER(), 63);
  CLOSE(orders_);
  OPEN(orders_, 0x12);
  BUILD(orders_);
  EXPECT_EQ(ERRORNUMBER(), 0);
}

TEST_F(CallSequence, OpenTwiceKeepsTheInstanceButCreateDiscardsIt) {
  OPEN(orders_);
  DriverInstance* first = orders_.declared().instance;
  OPEN(orders_);
  EXPECT_EQ(ERRORNUMBER(), 52);
  EXPECT_EQ(orders_.declared().instance, first);
  EXPECT_EQ(first->file_state & FS_OPEN, FS_OPEN);
  CLOSE(orders_);

  CREATE(orders_);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(orders_.declared().instance, nullptr);
  File no_create{FileDeclaration("N").driver(test_entry).name("orders").field("X", ftype::BYTE)};
  CREATE(no_create);
  EXPECT_EQ(ERRORNUMBER(), 54);
  EXPECT_EQ(no_create.declared().instance, nullptr);
  EXPECT_FALSE(find_open_file(&no_create.declared()).has_value());
}

TEST_F(CallSequence, BuildInProgressRefusesAllButAFew) {
  OPEN(orders_, 0x12);
  SET(orders_);
  std::vector<std::pair<const char*, int32_t>> seen;
  disk().during_build = [&](FileBlock& f) {
    NEXT(f);
    seen.emplace_back("NEXT", ERRORNUMBER());
    ADD(f);
    seen.emplace_back("ADD", ERRORNUMBER());
    const std::string name = NAME(f);
    seen.emplace_back(name == "orders" ? "NAME" : "NAME?", ERRORNUMBER());
  };
  BUILD(orders_);
  EXPECT_EQ(ERRORNUMBER(), 0);
  const std::vector<std::pair<const char*, int32_t>> expected = {
      {"NEXT", 92}, {"ADD", 92}, {"NAME", 92}};  // NAME is a query: the 92 stays
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_STREQ(seen[i].first, expected[i].first);
    EXPECT_EQ(seen[i].second, expected[i].second);
  }
}

TEST_F(CallSequence, ResetToABlankPosition) {
  OPEN(orders_);
  RESET(orders_, "    ");
  EXPECT_EQ(ERRORNUMBER(), 35);
  RESET(orders_, "0");
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(string_stack().depth(), 0);
}

TEST_F(CallSequence, EofOnAClosedFileIsTrueAndPosts37) {
  EXPECT_TRUE(EOF_(orders_));
  EXPECT_EQ(ERRORNUMBER(), 37);
  EXPECT_EQ(orders_.declared().instance, nullptr);  // discarded after 37
  OPEN(orders_);
  SET(orders_);
  EXPECT_TRUE(EOF_(orders_));
  EXPECT_EQ(ERRORNUMBER(), 0);
  id() = 1;
  ADD(orders_);
  SET(orders_);
  EXPECT_FALSE(EOF_(orders_));
  EXPECT_TRUE(BOF(orders_));  // not served by the test driver: 80, and BOF reads true
  EXPECT_EQ(ERRORNUMBER(), 80);
}

TEST_F(CallSequence, QueriesLeaveTheErrorAloneAndOtherSuccessesClearIt) {
  EXPECT_EQ(RECORDS(orders_), 0);
  EXPECT_EQ(ERRORNUMBER(), 37);
  OPEN(orders_, 0x42);
  id() = 1;
  ADD(orders_);
  NEXT(orders_);
  ASSERT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(RECORDS(orders_), 1);
  EXPECT_EQ(ERRORNUMBER(), 33);
  EXPECT_EQ(ERRORSOURCE(), "orders");
  SET(orders_);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(ERRORSOURCE(), "");
}

TEST_F(CallSequence, ForeignKeyIs38AndPostedWithTheFile) {
  OPEN(orders_);
  OPEN(clients_);
  // SET(key, key) with the clients' key as the value for the orders' key.
  SET(orders_.key("BY_ID"), clients_.key("BY_ID"));
  EXPECT_EQ(ERRORNUMBER(), 0);  // the second key only supplies the value
  const OperandWord words[4] = {reinterpret_cast<OperandWord>(&clients_.key("BY_ID"))};
  dispatch(op::SETkeykey, &orders_.declared(), words);
  EXPECT_EQ(ERRORNUMBER(), 38);
  EXPECT_EQ(error_source_file(), &orders_.declared());
  EXPECT_EQ(ERRORTEXT(), "Invalid Key File");
  GET(orders_, clients_.key("BY_ID"));
  EXPECT_EQ(ERRORNUMBER(), 38);
  // A key whose file has no instance has no key data at all.
  CLOSE(clients_);
  GET(orders_, clients_.key("BY_ID"));
  EXPECT_EQ(ERRORNUMBER(), 38);
  EXPECT_NE(orders_.declared().instance, nullptr);
}

TEST_F(CallSequence, StringsTravelOnTheStack) {
  EXPECT_EQ(SEND(orders_, "QUOTE=39"), "sent:QUOTE=39");
  EXPECT_EQ(NAME(orders_), "orders");
  EXPECT_EQ(POSITION(orders_), "");  // 37 (not open), with an empty text for the position
  EXPECT_EQ(ERRORNUMBER(), 37);
  EXPECT_EQ(string_stack().depth(), 0);
}

TEST_F(CallSequence, RunningOutOfMemoryIsReportedNotThrown) {
  OPEN(orders_);
  ADD(orders_);  // a current record, which POSITION requires
  EXPECT_EQ(POSITION(orders_), "");
  EXPECT_EQ(ERRORNUMBER(), 8);
  EXPECT_EQ(string_stack().depth(), 0);
  EXPECT_NE(orders_.declared().instance, nullptr);
}

TEST_F(CallSequence, FailedCreationPostsAndKeepsTheStackBalanced) {
  File keyed{FileDeclaration("K")
                 .driver(keyless_entry)
                 .name("orders")
                 .field("X", ftype::LONG)
                 .key("K", {"X"})};
  EXPECT_EQ(NAME(keyed), "");
  EXPECT_EQ(ERRORNUMBER(), 47);
  EXPECT_EQ(error_source_file(), &keyed.declared());
  EXPECT_EQ(keyed.declared().instance, nullptr);
  EXPECT_EQ(keyed.declared().keys[0]->driver_data, nullptr);
  EXPECT_FALSE(find_open_file(&keyed.declared()).has_value());
  EXPECT_TRUE(EOF_(keyed));
  EXPECT_EQ(string_stack().depth(), 0);

  FileBlock huge;
  huge.entry = test_entry;
  huge.record_length = 0x80000000u;
  OPEN(huge);
  EXPECT_EQ(ERRORNUMBER(), 47);
  EXPECT_EQ(huge.instance, nullptr);
}

TEST_F(CallSequence, StaleInstancesTakeTheirTextsAfresh) {
  char name[16] = "orders";
  File variable{FileDeclaration("V")
                    .driver(test_entry)
                    .name_variable(name, sizeof name)
                    .field("X", ftype::LONG)};
  EXPECT_EQ(NAME(variable), "orders");
  DriverInstance* stale = variable.declared().instance;
  ASSERT_NE(stale, nullptr);
  std::memcpy(name, "clients", 8);
  EXPECT_EQ(NAME(variable), "clients");
  OPEN(variable);
  EXPECT_EQ(ERRORNUMBER(), 0);
  std::memcpy(name, "orders\0", 8);
  EXPECT_EQ(NAME(variable), "clients");  // open: the instance keeps its name
  CLOSE(variable);
}

TEST_F(CallSequence, UnsupportedOperationsAndTheViewQuery) {
  OPEN(orders_);
  PACK(orders_);
  EXPECT_EQ(ERRORNUMBER(), 80);
  EXPECT_EQ(ERRORTEXT(), "Unsupported File Driver Function");
  EXPECT_EQ(error_source_file(), &orders_.declared());
  clear_error();
  EXPECT_EQ(dispatch(op::QUERY_VIEW, &clients_.declared(), nullptr), 0);
  EXPECT_EQ(clients_.declared().instance, nullptr);
  FileBlock driverless;
  CLOSE(driverless);
  EXPECT_EQ(ERRORNUMBER(), 80);
}

TEST_F(CallSequence, ViewAndBlobStatementsReachTheDriverWithTheirCodes) {
  OPEN(orders_, 0x12);  // read/write, deny all: BUILD needs exclusive access
  ADD(orders_);         // a current record for the blob operations
  struct Case {
    const char* statement;
    std::function<void()> call;
    int32_t code;
  };
  const Case cases[] = {
      {"BLOB_YIELD", [&] { BLOB_YIELD(orders_, 1); }, op::BLOB_YIELD},
      {"BLOB_TAKE", [&] { BLOB_TAKE(orders_, 1); }, op::BLOB_TAKE},
      {"SET_BLOB_PROPERTY", [&] { SET_BLOB_PROPERTY(orders_, 1, 7, "v", "e"); }, op::BLOB_GET_PROP},
      {"GET_BLOB_PROPERTY", [&] { EXPECT_EQ(GET_BLOB_PROPERTY(orders_, 1, 7), ""); },
       op::BLOB_SET_PROP},
      {"DO_BLOB_PROPERTY", [&] { DO_BLOB_PROPERTY(orders_, 1, 7, "a"); }, op::DOPROPERTYblob},
      {"SET_VIEW", [&] { SET_VIEW(orders_); }, op::SETview},
      {"RESET_VIEW", [&] { RESET_VIEW(orders_); }, op::RESETviewfile},
      {"INVIEW", [&] { INVIEW(orders_); }, op::INVIEW},
      {"ENDVIEW", [&] { ENDVIEW(orders_); }, op::ENDVIEW},
      {"COUNTRECORDS", [&] { COUNTRECORDS(orders_); }, op::COUNTRECORDS},
      {"QUERY_KEY", [&] { QUERY_KEY(orders_.key("BY_ID")); }, op::QUERY_KEY},
      {"BUILD_WITH_EVENTS", [&] { BUILD_WITH_EVENTS(orders_); }, op::BUILDevent},
  };
  for (const Case& c : cases) {
    disk().log.clear();
    c.call();
    ASSERT_FALSE(disk().log.empty()) << c.statement << " did not reach the driver";
    EXPECT_EQ(disk().log.back().first, c.code) << c.statement;
    EXPECT_EQ(ERRORNUMBER(), 80) << c.statement;  // the test driver serves none of them
    EXPECT_EQ(string_stack().depth(), 0) << c.statement;
  }
  disk().log.clear();
  EXPECT_EQ(QUERY_VIEW(orders_), 0);
  EXPECT_TRUE(disk().log.empty());
}

TEST_F(CallSequence, RememberedOperationAndLastError) {
  OPEN(orders_);
  SET(orders_);
  DriverInstance& in = *orders_.declared().instance;
  EXPECT_EQ(in.last_sequential, op::SETfile);
  NEXT(orders_);
  EXPECT_EQ(in.last_error, 33);
  EXPECT_EQ(in.last_sequential, op::SETfile);  // a failure grants nothing
  COMMIT();                                    // posts 91 without a file
  UNLOCK(orders_);
  EXPECT_EQ(in.last_error, 0);  // NO_REPORT
  EXPECT_EQ(ERRORNUMBER(), 91);
}

TEST_F(CallSequence, TraceHooksSeeEveryCallOfATracedFile) {
  static std::vector<int32_t> traced;
  traced.clear();
  TraceHooks hooks;
  hooks.read_settings = [](DriverInstance& in, const char* section, const char*) {
    in.trace = std::string_view(section) == "XWTEST";
  };
  hooks.call = [](DriverInstance&, const DriverKeyData*, int32_t code, const char* driver,
                  int32_t result, uint32_t) {
    EXPECT_STREQ(driver, "TESTDRV");
    traced.push_back(code * 1000 + result);
  };
  set_trace_hooks(hooks);
  OPEN(orders_);
  NEXT(orders_);
  CLOSE(orders_);
  set_trace_hooks({});
  EXPECT_EQ(traced, (std::vector<int32_t>{25000, 24033, 7000}));
}

}  // namespace
}  // namespace vtn

namespace vtn {
namespace {

// The statements of the utility's registration, in its order, over the test drivers.
TEST(UtilityStatements, ARegistrationRunsThroughTheLayer) {
  testing_driver::reset_disk();
  clear_error();
  auto numbered = [](const char* prefix, const char* name) {
    return FileDeclaration(prefix)
        .driver(test_entry)
        .name(name)
        .create()
        .thread()
        .field("NUMBER", ftype::SHORT)
        .field("NAME", ftype::STRING(40))
        .field("PATH", ftype::STRING(120))
        .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY | KA_NOCASE | KA_OPT);
  };
  File pack{numbered("PNM", "PACKNAME")};
  File settings{numbered("SET", "SETUP")};
  File request{FileDeclaration("NPK")
                   .driver(keyless_entry)
                   .name("Mossgate.ini")
                   .create()
                   .thread()
                   .field("NAME", ftype::STRING(40))
                   .field("PATH", ftype::STRING(120))};
  auto number = [&](File& f) -> int16_t& { return *reinterpret_cast<int16_t*>(f.record()); };

  for (File* f : {&pack, &request, &settings}) {
    CREATE(*f);
    ASSERT_EQ(ERRORNUMBER(), 0);
    OPEN(*f, 0x42);
    ASSERT_EQ(ERRORNUMBER(), 0);
  }
  for (int16_t n : {1, 2}) {
    number(pack) = n;
    ADD(pack);
  }
  ADD(request);

  SET(request);
  NEXT(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  number(pack) = 0;
  SET(pack.key("BY_NUMBER"), pack.key("BY_NUMBER"));
  EXPECT_EQ(ERRORNUMBER(), 0);
  std::vector<int16_t> read;
  while (!EOF_(pack)) {
    NEXT(pack);
    read.push_back(number(pack));
  }
  EXPECT_EQ(read, (std::vector<int16_t>{1, 2}));
  EXPECT_EQ(RECORDS(pack), 2);

  number(settings) = 1;
  GET(settings, settings.key("BY_NUMBER"));
  EXPECT_EQ(ERRORNUMBER(), 35);
  ADD(settings);
  EXPECT_EQ(ERRORNUMBER(), 0);
  GET(settings, settings.key("BY_NUMBER"));
  EXPECT_EQ(ERRORNUMBER(), 0);
  PUT(settings);
  EXPECT_EQ(ERRORNUMBER(), 0);

  for (File* f : {&settings, &pack, &request}) {
    CLOSE(*f);
    EXPECT_EQ(ERRORNUMBER(), 0);
    EXPECT_EQ(f->declared().instance, nullptr);
  }
  REMOVE(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(disk().files.count("Mossgate.ini"), 0u);
  EXPECT_EQ(request.declared().instance, nullptr);
  EXPECT_FALSE(find_open_file(&request.declared()).has_value());
  EXPECT_EQ(string_stack().depth(), 0);
}

}  // namespace
}  // namespace vtn
