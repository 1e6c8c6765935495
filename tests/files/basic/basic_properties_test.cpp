// The file properties of a comma-delimited FILE: a table of (property, element, value) calls
// against a scripted file, and what setting them changes in reading and writing.
#include "runtime/files/basic/basic_properties.hpp"

#include <gtest/gtest.h>

#include "files/basic/basic_fixture.hpp"

namespace vtn {
namespace {

namespace prop = basic::prop;
using basic_testing::BasicTest;
using basic_testing::field_text;
using basic_testing::read_bytes;
using basic_testing::write_bytes;

class BasicPropertiesTest : public BasicTest {
 protected:
  File declare(const std::string& name, const std::string& options = "") {
    return File(FileDeclaration("P")
                    .driver(basic_entry, options)
                    .name(name)
                    .create()
                    .field("N", ftype::LONG)
                    .field("T", ftype::STRING(4)));
  }
};

TEST_F(BasicPropertiesTest, ReadingAndSettingInTurn) {
  const std::string name = path("p.csv");
  write_bytes(name, "1,\"ab\"\r\n22,\"cd\"\r\n");
  File f = declare(name, "/QUOTE=39/ALWAYSQUOTE=OFF");
  struct Step {
    const char* what;
    bool set;
    int32_t property;
    std::string element;
    std::string value;  // set: the value given; get: the value expected
    int32_t error;
  };
  const Step closed[] = {
      {"the driver", false, prop::kDriver, "", "BASIC", 0},
      {"the name before OPEN", false, prop::kName, "", name, 0},
      {"no size while closed", false, prop::kFileSize, "", "", 37},
      {"no pointer while closed", false, prop::kPointer, "", "", 37},
      {"no physical file while closed", false, prop::kPhysicalFile, "", "", 37},
      {"the options as declared", false, prop::kDriverOptions, "", "/QUOTE=39/ALWAYSQUOTE=OFF", 0},
      {"a field's label", false, prop::kLabel, " 2 ", "P:T", 0},
      {"a field's type", false, prop::kType, "1", "LONG", 0},
      {"a field's size", false, prop::kSize, "2", "4", 0},
      {"no such field", false, prop::kSize, "3", "", 0},
      {"not a field number", false, prop::kLabel, "x", "", 0},
      {"the record's size", false, prop::kRecordSize, "", "8", 0},
      {"the fields", false, prop::kFields, "", "2", 0},
      {"no keys", false, prop::kKeys, "", "0", 0},
      {"no record count", false, 0x7304, "", "", 80},
      {"an unknown property", false, 0x7349, "", "", 80},
      {"the driver is read only", true, prop::kDriver, "", "X", 80},
      {"an empty name", true, prop::kName, "", "", 45},
  };
  for (const Step& s : closed) {
    SCOPED_TRACE(s.what);
    clear_error();
    if (s.set) {
      SET_PROPERTY(f, s.property, s.value, s.element);
    } else {
      EXPECT_EQ(GET_PROPERTY(f, s.property, s.element), s.value);
    }
    EXPECT_EQ(ERRORNUMBER(), s.error);
  }

  OPEN(f, 0x22);
  ASSERT_EQ(ERRORNUMBER(), 0);
  SET(f);
  NEXT(f);
  NEXT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  const Step open[] = {
      {"the full path once open", false, prop::kName, "", name, 0},
      {"the physical file", false, prop::kPhysicalFile, "", name, 0},
      {"the size", false, prop::kFileSize, "", "17", 0},
      {"the pointer of the second record", false, prop::kPointer, "", "9", 0},
      {"an option from the options text", false, prop::kOption, "quote", "39", 0},
      {"a switch", false, prop::kOption, "ALWAYSQUOTE", "OFF", 0},
      {"every option", false, prop::kOption, "",
       "/FILEBUFFERS=2/FIELDDELIMITER=1,44/QUOTE=39/ENDOFRECORD=2,13,10/ENDOFRECORDINQUOTE=ON"
       "/CTRLZISEOF=ON/QUICKSCAN=ON/ALWAYSQUOTE=OFF",
       0},
      {"an unknown option", false, prop::kOption, "NOSUCH", "", 78},
      {"no renaming while open", true, prop::kName, "", "x.csv", 52},
      {"setting an option", true, prop::kOption, "QUOTE", "34", 0},
      {"...is what SEND answers", false, prop::kOption, "QUOTE", "34", 0},
      {"setting a delimiter", true, prop::kOption, "FIELDDELIMITER", "1,59", 0},
      {"setting an unknown option", true, prop::kOption, "NOSUCH", "1", 78},
      {"the pointer is read only", true, prop::kPointer, "", "1", 80},
  };
  for (const Step& s : open) {
    SCOPED_TRACE(s.what);
    clear_error();
    if (s.set) {
      SET_PROPERTY(f, s.property, s.value, s.element);
    } else {
      EXPECT_EQ(GET_PROPERTY(f, s.property, s.element), s.value);
    }
    EXPECT_EQ(ERRORNUMBER(), s.error);
  }
  // The options set through the properties write the next record.
  f.clear();
  std::memcpy(f.record(), "\x05\0\0\0", 4);
  std::memcpy(f.record() + 4, "x;y ", 4);
  ADD(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  CLOSE(f);
  EXPECT_EQ(read_bytes(name), "1,\"ab\"\r\n22,\"cd\"\r\n5;\"x;y\"\r\n");
}

// A name set while the file is closed is the file the next OPEN opens.
TEST_F(BasicPropertiesTest, ANameSetWhileClosedIsOpened) {
  write_bytes(path("a.csv"), "1,\"from a\"\r\n");
  write_bytes(path("b.csv"), "2,\"from b\"\r\n");
  File f = declare(path("a.csv"));
  SET_PROPERTY(f, prop::kName, path("b.csv"));
  ASSERT_EQ(ERRORNUMBER(), 0);
  OPEN(f, 0x40);
  SET(f);
  NEXT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(field_text(f, 1), "2");
  EXPECT_EQ(GET_PROPERTY(f, prop::kName), path("b.csv"));
  CLOSE(f);
}

}  // namespace
}  // namespace vtn
