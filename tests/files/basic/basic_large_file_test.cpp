// Pointers in files beyond 2 GB and beyond 4 GB (sparse files: only the records take space).
// A pointer is the 32 bits of a LONG: past 2 GB it reads as a negative number and still finds
// its record; past 4 GB no pointer can be given, and POINTER, POSITION and BYTES say so with
// 90 instead of handing out the pointer of another record, while reading goes on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "files/basic/basic_fixture.hpp"

namespace vtn {
namespace {

using basic_testing::BasicTest;
using basic_testing::field_text;

constexpr uint64_t kPast2G = 0x90000000;
constexpr uint64_t kBelow4G = 0xFFFFFFF0;  // a record of 16 bytes that ends at 4 GB
constexpr uint64_t kAt4G = 0x100000000;    // the record after it
constexpr std::string_view kPast2GLine = "7,\"past 2G\"\r\n";
constexpr std::string_view kBelow4GLine = "8,\"below 4 GB\"\r\n";
constexpr std::string_view kAt4GLine = "9,\"at 4G\"\r\n";
static_assert(kBelow4G + kBelow4GLine.size() == kAt4G);

// A pointer as a program holds it: the offset + 1 in the 32 bits of a LONG.
int32_t pointer_at(uint64_t offset) {
  return static_cast<int32_t>(static_cast<uint32_t>(offset + 1));
}

class BasicLargeFileTest : public BasicTest {
 protected:
  // Writes `text` at `offset` of a sparse file; false when the file system cannot hold it.
  bool place(const std::string& name, uint64_t offset, std::string_view text) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return false;
    const bool ok = ::pwrite(fd, text.data(), text.size(), static_cast<off_t>(offset)) ==
                    static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
  }
};

TEST_F(BasicLargeFileTest, PointersPast2GAndPast4G) {
  const std::string name = path("large.csv");
  if (!place(name, kPast2G, kPast2GLine) || !place(name, kBelow4G, kBelow4GLine) ||
      !place(name, kAt4G, kAt4GLine))
    GTEST_SKIP() << "the file system holds no sparse file of 4 GB";
  File f(FileDeclaration("L")
             .driver(basic_entry)
             .name(name)
             .field("N", ftype::LONG)
             .field("T", ftype::STRING(10)));
  OPEN(f, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0);

  // Past 2 GB: the pointer is negative as a LONG and finds its record again.
  GET(f, pointer_at(kPast2G));
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(field_text(f, 1), "7");
  EXPECT_EQ(POINTER(f), pointer_at(kPast2G));
  EXPECT_LT(POINTER(f), 0);
  const std::string position = POSITION(f);
  EXPECT_EQ(position, std::string("\x01\x00\x00\x90", 4));
  f.clear();
  REGET(f, position);
  EXPECT_EQ(field_text(f, 2), "past 2G");

  // The last pointer below 4 GB, then the first record beyond it.
  SET(f, pointer_at(kBelow4G));
  NEXT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(field_text(f, 1), "8");
  EXPECT_EQ(POINTER(f), pointer_at(kBelow4G));
  NEXT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(field_text(f, 2), "at 4G");
  EXPECT_EQ(BYTES(f), static_cast<int32_t>(kAt4GLine.size()));  // a record's own length is small

  struct Query {
    const char* what;
    std::function<void()> ask;
  };
  const Query beyond[] = {
      {"POINTER", [&] { EXPECT_EQ(POINTER(f), 0); }},
      {"POSITION", [&] { EXPECT_EQ(POSITION(f), ""); }},
  };
  for (const Query& q : beyond) {
    SCOPED_TRACE(q.what);
    clear_error();
    q.ask();
    EXPECT_EQ(ERRORNUMBER(), 90);
    EXPECT_NE(DRIVERERROR().find("4 GB"), std::string::npos) << DRIVERERROR();
  }

  // The record beyond 4 GB can still be rewritten in place.
  std::memcpy(f.record(), "\x05\0\0\0", 4);
  PUT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  NEXT(f);
  EXPECT_EQ(ERRORNUMBER(), 33);
  // Without a current record BYTES is the file size, which no LONG holds.
  clear_error();
  EXPECT_EQ(BYTES(f), 0);
  EXPECT_EQ(ERRORNUMBER(), 90);
  CLOSE(f);
  EXPECT_EQ(std::filesystem::file_size(name), kAt4G + kAt4GLine.size());
}

}  // namespace
}  // namespace vtn
