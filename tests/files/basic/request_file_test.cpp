// The request file of the utility, read exactly as the utility reads it: a STRING(40) name and a
// STRING(120) path, SHARE, SET and NEXT; CREATE when it is missing; REMOVE when done.
#include <gtest/gtest.h>

#include "files/basic/basic_fixture.hpp"
#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

using basic_testing::BasicTest;
using basic_testing::field_text;
using basic_testing::read_bytes;
using basic_testing::write_bytes;

struct Request {
  char name[40];
  char path[120];
};
static_assert(sizeof(Request) == 160);

class RequestFileTest : public BasicTest {
 protected:
  File declare() {
    return File(FileDeclaration("NPK")
                    .driver(basic_entry)
                    .name(path("Mossgate.ini"))
                    .create()
                    .thread()
                    .field("NAME", ftype::STRING(40))
                    .field("PATH", ftype::STRING(120)));
  }
};

TEST_F(RequestFileTest, FirstLineFillsNameAndPath) {
  struct Row {
    const char* what;
    std::string bytes;
    std::string name, path;
    int32_t error;
  };
  const std::string long_path(130, 'p');
  const Row rows[] = {
      {"quoted, CR LF", "\"Pack One\",\"C:\\packs\\one\"\r\n", "Pack One", "C:\\packs\\one", 0},
      {"bare values", "Pack One,/srv/packs/one\r\n", "Pack One", "/srv/packs/one", 0},
      {"no line end", "\"Pack\",\"dir\"", "Pack", "dir", 0},
      {"LF only", "\"Pack\",\"dir\"\n\"Other\",\"x\"\n", "Pack", "dir", 0},
      {"only the first line counts", "\"A\",\"1\"\r\n\"B\",\"2\"\r\n", "A", "1", 0},
      {"a comma inside quotes", "\"Smith, J\",\"d\"\r\n", "Smith, J", "d", 0},
      {"doubled quotes", "\"say \"\"hi\"\"\",\"d\"\r\n", "say \"hi\"", "d", 0},
      {"path longer than the field", "\"n\",\"" + long_path + "\"\r\n", "n",
       long_path.substr(0, 120), 0},
      {"name only", "\"Lonely\"\r\n", "Lonely", "", 0},
      {"blanks around values", "  \"N\" ,  \"P\"  \r\n", "N", "P", 0},
      {"1251 text", "\"\xCF\xE0\xEA\xE5\xF2\",\"\xEF\xF3\xF2\xFC\"\r\n", "\xCF\xE0\xEA\xE5\xF2",
       "\xEF\xF3\xF2\xFC", 0},
      {"UTF-8 mark before the first value", "\xEF\xBB\xBF\"Pack\",\"dir\"\r\n", "Pack", "dir", 0},
      {"empty file", "", "", "", 33},
      {"Ctrl-Z only", "\x1A", "", "", 33},
      {"empty line", "\r\n", "", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    write_bytes(path("Mossgate.ini"), row.bytes);
    File request = declare();
    request.clear();
    SHARE(request);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    SET(request);
    NEXT(request);
    EXPECT_EQ(ERRORNUMBER(), row.error);
    EXPECT_EQ(field_text(request, 1), row.name);
    EXPECT_EQ(field_text(request, 2), row.path);
    const Request& r = request.record_as<Request>();
    EXPECT_EQ(std::string(r.name, 40), row.name + std::string(40 - row.name.size(), ' '));
    CLOSE(request);
    EXPECT_EQ(ERRORNUMBER(), 0);
  }
}

TEST_F(RequestFileTest, MissingFileIsCreatedEmptyAndRemovedAfterwards) {
  File request = declare();
  SHARE(request);
  EXPECT_EQ(ERRORNUMBER(), 2);
  EXPECT_EQ(ERRORTEXT(), "File Not Found");
  // The recovery request of the utility is not an option of this driver: empty reply.
  EXPECT_EQ(SEND(request, "Recover=10"), "");
  CREATE(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  SHARE(request);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(NAME(request), path("Mossgate.ini"));
  SET(request);
  NEXT(request);
  EXPECT_EQ(ERRORNUMBER(), 33);
  CLOSE(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  REMOVE(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_FALSE(std::filesystem::exists(path("Mossgate.ini")));
  REMOVE(request);
  EXPECT_EQ(ERRORNUMBER(), 2);
}

TEST_F(RequestFileTest, RequestWrittenByTheDriverReadsBack) {
  write_bytes(path("Mossgate.ini"), "");
  File request = declare();
  OPEN(request, 0x22);
  ASSERT_EQ(ERRORNUMBER(), 0);
  auto& r = request.record_as<Request>();
  request.clear();
  std::memcpy(r.name, "Pack \"Q\"", 8);
  std::memcpy(r.path, "/a,b", 4);
  ADD(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  CLOSE(request);
  EXPECT_EQ(read_bytes(path("Mossgate.ini")), "\"Pack \"\"Q\"\"\",\"/a,b\"\r\n");
  request.clear();
  SHARE(request);
  SET(request);
  NEXT(request);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(field_text(request, 1), "Pack \"Q\"");
  EXPECT_EQ(field_text(request, 2), "/a,b");
  NEXT(request);
  EXPECT_EQ(ERRORNUMBER(), 33);
  CLOSE(request);
}

}  // namespace
}  // namespace vtn
