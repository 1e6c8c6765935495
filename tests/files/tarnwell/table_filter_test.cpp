// Filtered dynamic indexes: BUILD(index, components, filter) compiles the filter with the
// expression evaluator over the table's fields and leaves out the records it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Fruit {
  int32_t id;
  char name[8];
  double price;
};
#pragma pack(pop)

FileDeclaration fruits() {
  return FileDeclaration("FRT")
      .driver(tarnwell_entry)
      .name("fruits")
      .create()
      .field("ID", ftype::LONG)
      .field("NAME", ftype::STRING(8))
      .field("PRICE", ftype::REAL)
      .key("BY_ID", {"ID"})
      .index("BY_NAME", {"NAME"}, KA_DUP);
}

class TableFilterTest : public testing_support::MemoryTablesTest {
 protected:
  TableFilterTest() {
    CREATE(f_);
    OPEN(f_);
    const struct {
      int32_t id;
      const char* name;
      double price;
    } rows[] = {{1, "pear", 2.5}, {2, "apple", 1.0}, {3, "fig", 4.0}, {4, "plum", 0.5}};
    for (const auto& r : rows) {
      Fruit& b = f_.record_as<Fruit>();
      b.id = r.id;
      std::memset(b.name, ' ', sizeof b.name);
      std::memcpy(b.name, r.name, std::strlen(r.name));
      b.price = r.price;
      ADD(f_);
    }
  }
  ~TableFilterTest() override { eval::reset_scopes(); }

  std::vector<int32_t> by_name() {
    SET(f_.key("BY_NAME"));
    std::vector<int32_t> out;
    for (NEXT(f_); ERRORNUMBER() == 0; NEXT(f_)) out.push_back(f_.record_as<Fruit>().id);
    return out;
  }

  File f_{fruits()};
};

TEST_F(TableFilterTest, FilterDecidesWhichRecordsAreIndexed) {
  int32_t limit = 2;
  bind("LIMIT", limit);
  const struct {
    const char* filter;
    std::vector<int32_t> ids;  // in name order
  } cases[] = {
      {"", {2, 3, 1, 4}},                            // no filter: every record
      {"   ", {2, 3, 1, 4}},                         // a blank filter is none
      {"FRT:ID > 1", {2, 3, 4}},                     // the label with its prefix
      {"ID > 1", {2, 3, 4}},                         // ...and without
      {"frt:price >= 2.5", {3, 1}},                  // names in any case; a REAL field
      {"NAME = 'fig'", {3}},                         // text compared as padded
      {"INSTRING('p', FRT:NAME, 1, 1)", {2, 1, 4}},  // built-ins over the fields
      {"ID <= LIMIT", {2, 1}},                       // the program's own bindings stay visible
      {"ID > 99", {}},                               // a filter that refuses everything
      {"1", {2, 3, 1, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    BUILD(f_.key("BY_NAME"), "", c.filter);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    EXPECT_EQ(RECORDS(f_.key("BY_NAME")), static_cast<int32_t>(c.ids.size()));
    EXPECT_EQ(by_name(), c.ids);
  }
  EXPECT_EQ(eval::scope_depth(), 0);  // the fields' scope is gone again
}

TEST_F(TableFilterTest, FilterThatDoesNotCompileIsReported) {
  const struct {
    const char* filter;
    int32_t error;
    const char* driver_error;  // part of DRIVERERROR()
  } cases[] = {
      {"NOSUCH > 1", 801, "NOSUCH"},
      {"ID >", 800, ""},
      {"ID > 1)", 800, ""},
      {"'open", 800, ""},
  };
  BUILD(f_.key("BY_NAME"), "");
  ASSERT_EQ(ERRORNUMBER(), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    BUILD(f_.key("BY_NAME"), "-FRT:ID", c.filter);
    EXPECT_EQ(ERRORNUMBER(), c.error);
    EXPECT_NE(DRIVERERROR().find(c.driver_error), std::string::npos) << DRIVERERROR();
    EXPECT_EQ(eval::scope_depth(), 0);
  }
  // A filter that does not compile changes nothing: the index keeps its last build, and its
  // components with it.
  EXPECT_EQ(by_name(), (std::vector<int32_t>{2, 3, 1, 4}));
  Fruit& b = f_.record_as<Fruit>();
  std::memset(b.name, ' ', sizeof b.name);
  std::memcpy(b.name, "fig", 3);
  b.id = 0;
  SET(f_.key("BY_NAME"), f_.key("BY_NAME"));
  NEXT(f_);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(f_.record_as<Fruit>().id, 3);
}

TEST_F(TableFilterTest, FilterReadsTheRecordAsTheBuildLoadsIt) {
  // The record buffer is the program's; the build restores it when it is done.
  f_.record_as<Fruit>().id = 77;
  BUILD(f_.key("BY_NAME"), "-FRT:ID", "FRT:ID <> 3");
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(f_.record_as<Fruit>().id, 77);
  EXPECT_EQ(by_name(), (std::vector<int32_t>{4, 2, 1}));
}

}  // namespace
}  // namespace vtn
