// A key built again and again over a table of 100,000 records, in one session after another: each
// build deletes the old entries (emptying whole leaves and the index pages above them, whose places
// in the file are then freed) and flushes every 400 dirty pages. Every build must succeed and leave
// a file the checker accepts, with an entry for every record.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Pack {
  int32_t number;
  char name[40];
  char path[120];
};
#pragma pack(pop)

constexpr int32_t kRecords = 100'000;

class KeyBuildSessionsTest : public ::testing::Test {
 protected:
  ~KeyBuildSessionsTest() override {
    std::error_code ignored;
    if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ignored);
  }

  static std::string make_scratch() {
    char pattern[] = "/tmp/vtn_builds_XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }

  void check_file() {
    tarnwell::RecordFile* file = nullptr;
    ASSERT_EQ(tarnwell::open_record_file(path_, 0x40, "", file), 0);
    ASSERT_EQ(file->begin_access(tarnwell::AccessMode::read, true), 0);
    const tarnwell::CheckResult r = tarnwell::check_record_file(*file);
    EXPECT_TRUE(r.ok) << r.check_number << " " << r.what;
    file->end_access();
    tarnwell::close_record_file(file);
  }

  std::string dir_ = make_scratch();
  std::string path_ = dir_ + "/packs.TWL";
};

TEST_F(KeyBuildSessionsTest, EveryBuildInEverySessionSucceeds) {
  File f(FileDeclaration("PNM")
             .driver(tarnwell_entry)
             .name(path_)
             .create()
             .field("NUMBER", ftype::LONG)
             .field("NAME", ftype::STRING(40))
             .field("PATH", ftype::STRING(120))
             .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY)
             .key("BY_NAME", {"NAME"}, KA_DUP));
  CREATE(f);
  SHARE(f, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  Pack& r = f.record_as<Pack>();
  LOGOUT(0, {f});
  for (int32_t i = 1; i <= kRecords; ++i) {
    r.number = i;
    std::memset(r.name, ' ', sizeof r.name);
    std::memset(r.path, ' ', sizeof r.path);
    const std::string name = "pack " + std::to_string((i * 7919) % 1'000'003);
    const std::string path = "/srv/packs/" + std::to_string(i);
    std::memcpy(r.name, name.data(), name.size());
    std::memcpy(r.path, path.data(), path.size());
    APPEND(f);
    if (i % 50'000 == 0) {
      COMMIT();
      if (i < kRecords) LOGOUT(0, {f});
    }
  }
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  CLOSE(f);
  OPEN(f, 0x12);
  BUILD(f.key("BY_NUMBER"));
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  CLOSE(f);
  for (int session = 0; session < 2; ++session) {
    OPEN(f, 0x12);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (int build = 0; build < 3; ++build) {
      BUILD(f.key("BY_NAME"));
      ASSERT_EQ(ERRORNUMBER(), 0) << "session " << session << " build " << build << ": "
                                  << ERRORTEXT() << " " << DRIVERERRORCODE();
    }
    EXPECT_EQ(RECORDS(f.key("BY_NAME")), kRecords);
    CLOSE(f);
    check_file();
  }
}

}  // namespace
}  // namespace vtn
