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

namespace vtn {
namespace {

using tarnwell::Record;

Record record(std::vector<uint8_t> key, std::vector<uint8_t> data) {
  Record r;
  r.key_length = static_cast<uint16_t>(key.size());
  r.bytes = std::move(key);
  r.bytes.insert(r.bytes.end(), data.begin(), data.end());
  return r;
}

std::vector<uint8_t> pack_bytes(int16_t number, const std::string& name, const std::string& path) {
  std::vector<uint8_t> b(162, ' ');
  b[0] = static_cast<uint8_t>(number);
  b[1] = static_cast<uint8_t>(number >> 8);
  std::copy(name.begin(), name.end(), b.begin() + 2);
  std::copy(path.begin(), path.end(), b.begin() + 42);
  return b;
}

std::vector<uint8_t> text_bytes(const char* s) {
  return std::vector<uint8_t>(s, s + std::strlen(s) + 1);
}

TEST_F(PackTableTest, ASmallPackFileHasTheBytesOfTheFormat) {
  File packs{pack_table()};
  CREATE(packs);
  OPEN(packs, 0x42);
  fill(packs, 1, "alpha", "a");
  ADD(packs);
  fill(packs, 2, "beta", "b");
  ADD(packs);
  ASSERT_EQ(ERRORNUMBER(), 0);
  CLOSE(packs);

  std::ifstream in(dir_ / "PACKNAME.TWL", std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GE(file.size(), tarnwell::kHeaderSize);
  tarnwell::FileHeader actual;
  ASSERT_EQ(tarnwell::decode_header(file, actual), 0);

  // The definition stream, member by member as the format lays it out.
  std::vector<uint8_t> definition = {1, 0, 162, 0, 3, 0, 0, 0, 1, 0};  // version, length, counts
  auto field = [&](uint8_t type, uint16_t offset, const char* name, uint16_t size) {
    definition.push_back(type);
    definition.insert(definition.end(), {static_cast<uint8_t>(offset), 0});
    const auto n = text_bytes(name);
    definition.insert(definition.end(), n.begin(), n.end());
    definition.insert(definition.end(), {0, 0, static_cast<uint8_t>(size), 0, 0, 0, 0, 0});
    if (type == 18) definition.insert(definition.end(), {static_cast<uint8_t>(size), 0, 0, 1});
  };
  field(2, 0, "PNM:NUMBER", 2);
  field(18, 2, "PNM:NAME", 40);
  field(18, 42, "PNM:PATH", 120);
  definition.insert(definition.end(), {0, 1});  // the key has no external name
  const auto label = text_bytes("PNM:BY_NUMBER");
  definition.insert(definition.end(), label.begin(), label.end());
  definition.insert(definition.end(), {0x14, 1, 0, 0, 0, 0});  // NOCASE|PRIMARY, 1 component

  // The collation record of a run-time whose locale was never set: ranks in byte order, the
  // ASCII letters paired, digits classed.
  std::vector<uint8_t> collation(1 + 1152, 0);
  for (int i = 0; i < 256; ++i) collation[1 + i] = collation[1 + 256 + i] = static_cast<uint8_t>(i);
  for (int c = 'A'; c <= 'Z'; ++c) {
    collation[1 + 512 + c] = static_cast<uint8_t>(c + 32);
    collation[1 + 512 + c + 32] = static_cast<uint8_t>(c);
    collation[1 + 768 + c] = 1;
    collation[1 + 768 + c + 32] = 2;
  }
  for (int c = '0'; c <= '9'; ++c) collation[1 + 768 + c] = 4;

  // Table 1, records 2 and 3, in key order.
  tarnwell::PageContents page;
  page.records = {
      record({0, 0, 0, 1, 0x00, 0x80, 0x01}, {0, 0, 0, 2}),  // BY_NUMBER 1 -> record 2
      record({0, 0, 0, 1, 0x00, 0x80, 0x02}, {0, 0, 0, 3}),
      record({0, 0, 0, 1, 0xF3, 0, 0, 0, 2}, pack_bytes(1, "alpha", "a")),
      record({0, 0, 0, 1, 0xF3, 0, 0, 0, 3}, pack_bytes(2, "beta", "b")),
      record({0, 0, 0, 1, 0xF6, 0x00}, {2, 0, 0, 0, 0, 0, 0, 0}),  // 2 entries, no stale mark
      record({0, 0, 0, 1, 0xF6, 0xF3}, {2, 0, 0, 0, 0, 0, 0, 0}),  // 2 records, FLAGS 0
      record({0, 0, 0, 1, 0xFA, 0, 0}, definition),
      record({0, 0, 0, 1, 0xFB, 0x01}, collation),
      record({0xFE, 'U', 'N', 'N', 'A', 'M', 'E', 'D', 0}, {0, 0, 0, 1}),
  };
  const std::vector<uint8_t> image = tarnwell::encode_page(actual.root_page, page);

  // The header: everything but the page placement (zones, root page number, change counter,
  // which are the page store's) is fixed by the format.
  tarnwell::FileHeader expected = actual;
  expected.own_offset = 0;
  expected.image_size = 0x200;
  expected.signature = 0x4E724174;
  expected.reserved = 0;
  expected.last_number = {0, 0, 0, 3};
  const auto end = static_cast<uint32_t>(tarnwell::page_offset(actual.root_page) + image.size());
  expected.log_start = expected.log_end = end;
  std::vector<uint8_t> built(end, 0);
  tarnwell::encode_header(expected, std::span<uint8_t, tarnwell::kHeaderSize>(built.data(), 512));
  std::copy(image.begin(), image.end(), built.begin() + tarnwell::page_offset(actual.root_page));
  // Past the end of the used space the file may still hold the images of the last flush's page
  // log, which the emptied log no longer describes; the state of the file is what lies before.
  ASSERT_GE(file.size(), built.size());
  const std::vector<uint8_t> state(file.begin(), file.begin() + built.size());
  EXPECT_TRUE(state == built) << "the file's bytes differ from the format's";
  for (size_t i = 0; i < built.size(); ++i)
    if (file[i] != built[i]) {
      ADD_FAILURE() << "first difference at byte " << i;
      break;
    }
}

}  // namespace
}  // namespace vtn
