// The record-file driver's table operations, through the file statements, on tables kept in
// memory: life cycle, changing records with their keys, positions and reading, counters, memos,
// SEND and key building.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/paths.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using testing_support::MemoryTablesTest;

#pragma pack(push, 1)
struct Person {
  int32_t id;
  char name[10];
  int16_t age;
};
#pragma pack(pop)

FileDeclaration people_declaration(std::string name = "people") {
  return FileDeclaration("PEO")
      .driver(tarnwell_entry)
      .name(std::move(name))
      .create()
      .field("ID", ftype::LONG)
      .field("NAME", ftype::STRING(10))
      .field("AGE", ftype::SHORT)
      .key("BY_ID", {"ID"}, KA_PRIMARY)
      .key("BY_NAME", {"NAME"}, KA_DUP | KA_NOCASE)
      .key("BY_AGE_ID", {"-AGE", "ID"});
}

class TableOperationsTest : public MemoryTablesTest {
 protected:
  TableOperationsTest() {
    CREATE(people_);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    OPEN(people_, 0x42);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }

  Person& rec() { return people_.record_as<Person>(); }
  void set(int32_t id, const char* name, int16_t age) {
    rec().id = id;
    std::memset(rec().name, ' ', sizeof rec().name);
    std::memcpy(rec().name, name, std::strlen(name));
    rec().age = age;
  }
  int32_t add(int32_t id, const char* name, int16_t age) {
    set(id, name, age);
    ADD(people_);
    return ERRORNUMBER();
  }
  // The ids read by NEXT (or PREVIOUS) from the position set before.
  std::vector<int32_t> read_all(bool forward = true) {
    std::vector<int32_t> ids;
    for (int guard = 0; guard < 1000; ++guard) {
      forward ? NEXT(people_) : PREVIOUS(people_);
      if (ERRORNUMBER() != 0) break;
      ids.push_back(rec().id);
    }
    EXPECT_EQ(ERRORNUMBER(), 33);
    return ids;
  }

  File people_{people_declaration()};
};

TEST_F(TableOperationsTest, AddedRecordsReadBackInEveryOrder) {
  ASSERT_EQ(add(3, "carol", 30), 0);
  ASSERT_EQ(add(1, "Alice", 40), 0);
  ASSERT_EQ(add(2, "bob", 30), 0);
  EXPECT_EQ(RECORDS(people_), 3);

  SET(people_);
  EXPECT_EQ(read_all(), (std::vector<int32_t>{3, 1, 2}));  // record-number order
  SET(people_);
  EXPECT_EQ(read_all(false), (std::vector<int32_t>{2, 1, 3}));
  SET(people_.key("BY_ID"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1, 2, 3}));
  SET(people_.key("BY_NAME"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1, 2, 3}));
  SET(people_.key("BY_AGE_ID"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1, 2, 3}));  // age 40 first, then 30 by id
  SET(people_.key("BY_AGE_ID"));
  EXPECT_EQ(read_all(false), (std::vector<int32_t>{3, 2, 1}));
}

TEST_F(TableOperationsTest, DuplicateInUniqueKeyFailsAndChangesNothing) {
  ASSERT_EQ(add(1, "a", 1), 0);
  EXPECT_EQ(add(1, "b", 2), 40);
  EXPECT_EQ(RECORDS(people_), 1);
  EXPECT_EQ(RECORDS(people_.key("BY_NAME")), 1);
  SET(people_.key("BY_NAME"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1}));  // the name entry of the refused record went
}

TEST_F(TableOperationsTest, GetByKeyPutAndDelete) {
  add(1, "ann", 20);
  add(2, "ben", 21);
  set(2, "", 0);
  GET(people_, people_.key("BY_ID"));
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(std::string(rec().name, 3), "ben");
  std::memcpy(rec().name, "BEA", 3);
  rec().id = 5;
  PUT(people_);
  ASSERT_EQ(ERRORNUMBER(), 0);
  set(2, "", 0);
  GET(people_, people_.key("BY_ID"));
  EXPECT_EQ(ERRORNUMBER(), 35);
  set(5, "", 0);
  GET(people_, people_.key("BY_ID"));
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(std::string(rec().name, 3), "BEA");
  rec().id = 1;  // taken by ann
  PUT(people_);
  EXPECT_EQ(ERRORNUMBER(), 40);
  set(5, "", 0);
  GET(people_, people_.key("BY_ID"));
  EXPECT_EQ(std::string(rec().name, 3), "BEA");  // nothing changed
  DELETE(people_);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(RECORDS(people_), 1);
  SET(people_.key("BY_NAME"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1}));
}

TEST_F(TableOperationsTest, CaseInsensitiveKeyFindsEitherCase) {
  add(1, "smith", 1);
  set(0, "SMITH", 0);
  GET(people_, people_.key("BY_NAME"));
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(rec().id, 1);
}

// APPEND makes its record the current one, as ADD does, whatever was current before it.
TEST_F(TableOperationsTest, AppendedRecordIsCurrent) {
  enum class Then { pointer, put, remove };
  for (Then then : {Then::pointer, Then::put, Then::remove}) {
    SCOPED_TRACE(static_cast<int>(then));
    CLOSE(people_);
    OPEN(people_, 0x42);  // nothing current
    set(10 + static_cast<int32_t>(then), "appended", 30);
    APPEND(people_);
    ASSERT_EQ(ERRORNUMBER(), 0);
    const int32_t record = POINTER(people_);
    ASSERT_EQ(ERRORNUMBER(), 0);
    GET(people_, record);
    ASSERT_EQ(ERRORNUMBER(), 0);
    ASSERT_EQ(rec().id, 10 + static_cast<int32_t>(then));
    set(10 + static_cast<int32_t>(then), "appended", 30);
    APPEND(people_);
    const int32_t appended = POINTER(people_);
    EXPECT_EQ(ERRORNUMBER(), 0);
    EXPECT_NE(appended, record);
    switch (then) {
      case Then::pointer:
        break;
      case Then::put:
        rec().age = 31;
        PUT(people_);
        ASSERT_EQ(ERRORNUMBER(), 0);
        GET(people_, appended);
        EXPECT_EQ(rec().age, 31);
        break;
      case Then::remove:
        DELETE(people_);
        ASSERT_EQ(ERRORNUMBER(), 0);
        GET(people_, appended);
        EXPECT_EQ(ERRORNUMBER(), 35);
        break;
    }
  }
}

TEST_F(TableOperationsTest, AppendLeavesKeysStaleUntilBuilt) {
  add(1, "a", 1);
  for (int i = 2; i <= 4; ++i) {
    set(i, "x", 1);
    APPEND(people_);
    ASSERT_EQ(ERRORNUMBER(), 0);
  }
  EXPECT_EQ(RECORDS(people_), 4);
  SET(people_.key("BY_ID"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1}));
  CLOSE(people_);
  OPEN(people_, 0x12);
  BUILD(people_);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  SET(people_.key("BY_ID"));
  EXPECT_EQ(read_all(), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(RECORDS(people_.key("BY_NAME")), 4);
}

TEST_F(TableOperationsTest, OpenChecksNameDeclarationAndTable) {
  CLOSE(people_);
  File other{people_declaration("people\\!OTHER")};
  OPEN(other);
  EXPECT_EQ(ERRORNUMBER(), 2);
  File changed{FileDeclaration("PEO")
                   .driver(tarnwell_entry)
                   .name("people")
                   .field("ID", ftype::LONG)
                   .field("NAME", ftype::STRING(12))
                   .field("AGE", ftype::SHORT)};
  OPEN(changed);
  EXPECT_EQ(ERRORNUMBER(), 47);
  File nameless{FileDeclaration("X").driver(tarnwell_entry).name("").field("A", ftype::LONG)};
  OPEN(nameless);
  EXPECT_EQ(ERRORNUMBER(), 45);
  File no_create{FileDeclaration("X").driver(tarnwell_entry).name("x").field("A", ftype::LONG)};
  CREATE(no_create);
  EXPECT_EQ(ERRORNUMBER(), 54);
}

TEST_F(TableOperationsTest, PositionsAndReset) {
  for (int i = 1; i <= 5; ++i) add(i * 10, "n", static_cast<int16_t>(i));
  set(30, "", 0);
  SET(people_.key("BY_ID"), people_.key("BY_ID"));
  NEXT(people_);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(rec().id, 30);
  const std::string position = POSITION(people_.key("BY_ID"));
  EXPECT_EQ(position.size(), 8u);
  NEXT(people_);
  EXPECT_EQ(rec().id, 40);
  RESET(people_.key("BY_ID"), position);
  PREVIOUS(people_);
  EXPECT_EQ(rec().id, 30);
  PREVIOUS(people_);
  EXPECT_EQ(rec().id, 20);
  set(35, "", 0);
  SET(people_.key("BY_ID"), people_.key("BY_ID"));
  PREVIOUS(people_);
  EXPECT_EQ(rec().id, 30);
  SET(people_.key("BY_ID"));
  SKIP(people_, 2);
  NEXT(people_);
  EXPECT_EQ(rec().id, 30);
  EXPECT_FALSE(EOF_(people_));
  SKIP(people_, 10);
  EXPECT_TRUE(EOF_(people_));
}

TEST_F(TableOperationsTest, EntriesWhoseRecordIsGoneAreSkipped) {
  add(1, "a", 1);
  add(2, "b", 2);
  const int32_t second = POINTER(people_);
  add(3, "c", 3);
  // Take record 2's data record away behind the table's back, leaving its key entries.
  auto* store = provider_.store(*platform::full_path("people.TWL"));
  ASSERT_NE(store, nullptr);
  std::vector<uint8_t> key = {0, 0, 0, 1, 0xF3, 0, 0, 0, static_cast<uint8_t>(second)};
  ASSERT_TRUE(store->delete_record(key));
  for (const char* k : {"BY_ID", "BY_NAME", "BY_AGE_ID"}) {
    SET(people_.key(k));
    std::vector<int32_t> ids = read_all();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 3})) << k;
  }
  set(2, "", 0);
  GET(people_, people_.key("BY_ID"));
  EXPECT_EQ(ERRORNUMBER(), 35);
  SET(people_.key("BY_ID"));
  SKIP(people_, 1);
  NEXT(people_);
  EXPECT_EQ(rec().id, 3);  // SKIP counted only the records that are there
}

TEST_F(TableOperationsTest, SendOptions) {
  EXPECT_EQ(SEND(people_, "FULLBUILD"), "OFF");
  EXPECT_EQ(SEND(people_, "fullbuild=on"), "ON");
  EXPECT_EQ(SEND(people_, "FLAGS=17"), "17");
  EXPECT_EQ(SEND(people_, "flags"), "17");
  EXPECT_EQ(SEND(people_, "PNM="), "UNNAMED");
  EXPECT_EQ(SEND(people_, "PNM=V"), "");
  EXPECT_EQ(SEND(people_, "whatever"), "");
}

}  // namespace
}  // namespace vtn
