// Properties of a table, its keys and its blobs, and the blob contents a program reaches through
// them: read, set, sliced, carried from one blob to another, written by ADD and PUT.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/properties.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

namespace prop = tarnwell::prop;

#pragma pack(push, 1)
struct Part {
  int32_t number;
  char name[12];
};
#pragma pack(pop)

FileDeclaration parts(std::string name) {
  return FileDeclaration("PRT")
      .driver(tarnwell_entry, "/opt")
      .name(std::move(name))
      .create()
      .field("NUMBER", ftype::LONG)
      .field("NAME", ftype::STRING(12))
      .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY)
      .key("BY_NAME", {"-NAME", "NUMBER"}, KA_DUP | KA_NOCASE)
      .index("BY_ANY", {"NAME"})
      .memo("NOTE", 40)
      .blob("PICTURE")
      .blob("SOUND", {.binary = true});
}

class TablePropertiesTest : public testing_support::MemoryTablesTest {
 protected:
  TablePropertiesTest() {
    CREATE(f_);
    OPEN(f_, 0x12);
    for (int32_t n = 1; n <= 3; ++n) {
      f_.record_as<Part>().number = n;
      std::memset(f_.record_as<Part>().name, ' ', 12);
      f_.record_as<Part>().name[0] = static_cast<char>('a' + n);
      ADD(f_);
      records_.push_back(POINTER(f_));
    }
  }
  File f_{parts("parts\\!P")};
  std::vector<int32_t> records_;  // the records' numbers
};

TEST_F(TablePropertiesTest, FileAndKeyPropertiesDescribeTheTable) {
  GET(f_, records_[1]);
  const std::string second = std::to_string(records_[1]);
  const struct {
    KeyBlock* key;  // null: the file's property
    int32_t property;
    const char* element;
    const char* value;
  } cases[] = {
      {nullptr, prop::kName, "", "parts\\!P"},
      {nullptr, prop::kDriver, "", "TARNWELL"},
      {nullptr, prop::kDriverOptions, "", "/opt"},
      {nullptr, prop::kTable, "", "P"},
      {nullptr, prop::kRecords, "", "3"},
      {nullptr, prop::kRecordSize, "", "16"},
      {nullptr, prop::kFields, "", "2"},
      {nullptr, prop::kKeys, "", "3"},
      {nullptr, prop::kMemos, "", "3"},
      {nullptr, prop::kBlobs, "", "2"},
      {nullptr, prop::kLabel, "2", "PRT:NAME"},
      {nullptr, prop::kLabel, "3", ""},  // no such field
      {nullptr, prop::kLabel, "x", ""},
      {nullptr, prop::kType, "1", "LONG"},
      {nullptr, prop::kSize, "2", "12"},
      {nullptr, prop::kPointer, "", second.c_str()},
      {nullptr, prop::kFlags, "", "0"},
      {nullptr, prop::kFullBuild, "", "OFF"},
      {&f_.key("BY_NUMBER"), prop::kLabel, "", "PRT:BY_NUMBER"},
      {&f_.key("BY_NUMBER"), prop::kPrimary, "", "1"},
      {&f_.key("BY_NUMBER"), prop::kDuplicates, "", "0"},
      {&f_.key("BY_NUMBER"), prop::kRecords, "", "3"},
      {&f_.key("BY_NAME"), prop::kComponents, "", "2"},
      {&f_.key("BY_NAME"), prop::kComponent, "1", "-2"},
      {&f_.key("BY_NAME"), prop::kComponent, "2", "1"},
      {&f_.key("BY_NAME"), prop::kComponent, "3", ""},
      {&f_.key("BY_NAME"), prop::kNoCase, "", "1"},
      {&f_.key("BY_NAME"), prop::kDuplicates, "", "1"},
      {&f_.key("BY_NAME"), prop::kStaleMark, "", "0"},
      {&f_.key("BY_ANY"), prop::kDynamic, "", "1"},
      {&f_.key("BY_ANY"), prop::kReady, "", "0"},
      {&f_.key("BY_ANY"), prop::kRecords, "", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.property << " " << c.element);
    const std::string value = c.key ? GET_PROPERTY(*c.key, c.property, c.element)
                                    : GET_PROPERTY(f_, c.property, c.element);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    EXPECT_EQ(value, c.value);
  }
  BUILD(f_.key("BY_ANY"), "");
  EXPECT_EQ(GET_PROPERTY(f_.key("BY_ANY"), prop::kReady), "1");
  EXPECT_EQ(GET_PROPERTY(f_.key("BY_ANY"), prop::kRecords), "3");
}

TEST_F(TablePropertiesTest, SettingsTakeEffect) {
  SET_PROPERTY(f_, prop::kFlags, "77");
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(SEND(f_, "FLAGS"), "77");
  SET_PROPERTY(f_, prop::kFullBuild, "on");
  EXPECT_EQ(SEND(f_, "FULLBUILD"), "ON");
  SEND(f_, "FULLBUILD=OFF");
  EXPECT_EQ(GET_PROPERTY(f_, prop::kFullBuild), "OFF");
}

TEST_F(TablePropertiesTest, PropertiesThatCannotBeHadAreErrors) {
  const struct {
    const char* what;
    int code;  // 71 set, 72 get, 85 set key
    int32_t property;
    bool closed;
    int32_t error;
  } cases[] = {
      {"unknown", 72, 0x7346, false, 80},
      {"unknown to a file", 72, prop::kComponents, false, 80},
      {"read only", 71, prop::kRecords, false, 80},
      {"key setting", 85, prop::kNoCase, false, 80},
      {"records of a closed file", 72, prop::kRecords, true, 37},
      {"FLAGS of a closed file", 71, prop::kFlags, true, 37},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    File g{parts("parts\\!P")};
    if (!c.closed) OPEN(g, 0x42);
    if (c.code == 71) SET_PROPERTY(g, c.property, "1");
    if (c.code == 72) GET_PROPERTY(g, c.property);
    if (c.code == 85) SET_PROPERTY(g.key("BY_NAME"), c.property, "1");
    EXPECT_EQ(ERRORNUMBER(), c.error);
  }
  // A closed file still answers what its declaration says.
  clear_error();
  File g{parts("parts\\!P")};
  EXPECT_EQ(GET_PROPERTY(g, prop::kLabel, "1"), "PRT:NUMBER");
  EXPECT_EQ(ERRORNUMBER(), 0);
}

TEST_F(TablePropertiesTest, BlobContentsAreSetSlicedAndStored) {
  std::string binary("\0\1\2\3", 4);
  const struct {
    int32_t blob;
    bool set;
    int32_t property;
    std::string value, element;
    std::string expect;  // the whole blob afterwards (setting), or the value read
    int32_t error;
  } steps[] = {
      {1, true, prop::kContents, "hello world", "", "hello world", 0},
      {1, false, prop::kContents, "", "1:5", "hello", 0},
      {1, false, prop::kContents, "", "7", "world", 0},
      {1, false, prop::kContents, "", "7:99", "world", 0},
      {1, false, prop::kContents, "", "9:3", "", 0},
      {1, false, prop::kContents, "", "0:3", "", 0},
      {1, true, prop::kContents, "W", "7", "hello World", 0},
      {1, true, prop::kContents, "!", "13", std::string("hello World\0!", 13), 0},
      {1, true, prop::kSize, "5", "", "hello", 0},
      {1, false, prop::kSize, "", "", "5", 0},
      {1, true, prop::kSize, "99999999", "", "hello", 57},
      {1, false, prop::kBinary, "", "", "0", 0},
      {2, true, prop::kContents, binary, "", binary, 0},
      {2, false, prop::kBinary, "", "", "1", 0},
      {2, false, prop::kLabel, "", "", "PRT:SOUND", 0},
      {3, false, prop::kSize, "", "", "", 47},  // no third blob
  };
  GET(f_, records_[0]);
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << s.blob << " " << std::hex << s.property << " " << s.element);
    if (s.set) {
      SET_BLOB_PROPERTY(f_, s.blob, s.property, s.value, s.element);
      EXPECT_EQ(ERRORNUMBER(), s.error);
      EXPECT_EQ(GET_BLOB_PROPERTY(f_, s.blob, prop::kContents), s.expect);
    } else {
      const std::string v = GET_BLOB_PROPERTY(f_, s.blob, s.property, s.element);
      EXPECT_EQ(ERRORNUMBER(), s.error);
      if (s.error == 0) {
        EXPECT_EQ(v, s.expect);
      }
    }
  }
  EXPECT_EQ(BLOB_SIZE(f_, 1), 5);
  PUT(f_);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  GET(f_, records_[1]);
  EXPECT_EQ(GET_BLOB_PROPERTY(f_, 1, prop::kContents), "");
  GET(f_, records_[0]);
  EXPECT_EQ(GET_BLOB_PROPERTY(f_, 1, prop::kContents), "hello");
  EXPECT_EQ(GET_BLOB_PROPERTY(f_, 2, prop::kContents), binary);
}

TEST_F(TablePropertiesTest, BlobYieldAndTakeCarryContentsBetweenBlobs) {
  File other{parts("other")};
  CREATE(other);
  OPEN(other, 0x12);
  GET(f_, records_[2]);
  SET_BLOB_PROPERTY(f_, 2, prop::kContents, std::string(700, 'x') + "tail");
  BLOB_YIELD(f_, 2);
  ASSERT_EQ(ERRORNUMBER(), 0);
  other.record_as<Part>().number = 9;
  BLOB_TAKE(other, 1);
  ASSERT_EQ(ERRORNUMBER(), 0);
  BLOB_TAKE(f_, 1);  // the slot stays filled for a second taker
  ADD(other);
  PUT(f_);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  SET(other);
  NEXT(other);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(BLOB_SIZE(other, 1), 704);
  EXPECT_EQ(GET_BLOB_PROPERTY(other, 1, prop::kContents, "701"), "tail");
  GET(f_, records_[2]);
  EXPECT_EQ(BLOB_SIZE(f_, 1), 704);
  EXPECT_EQ(BLOB_SIZE(f_, 2), 704);
}

TEST_F(TablePropertiesTest, BlobContentsAreUnavailableAfterANomemoRead) {
  GET(f_, records_[0]);
  SET_BLOB_PROPERTY(f_, 1, prop::kContents, "kept");
  PUT(f_);
  GET(f_, records_[1]);
  NOMEMO(f_);
  GET(f_, records_[0]);
  ASSERT_EQ(ERRORNUMBER(), 0);
  // The buffer still holds record 2's blob; reading or changing it would mislead or be lost.
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    if (step == 0) GET_BLOB_PROPERTY(f_, 1, prop::kContents);
    if (step == 1) SET_BLOB_PROPERTY(f_, 1, prop::kContents, "lost");
    if (step == 2) BLOB_TAKE(f_, 1);
    EXPECT_EQ(ERRORNUMBER(), 33);
  }
  GET(f_, records_[0]);
  EXPECT_EQ(GET_BLOB_PROPERTY(f_, 1, prop::kContents), "kept");
}

}  // namespace
}  // namespace vtn
