// Table life cycle and the parts of a record beyond its fields: several tables in one physical
// file, EMPTY and REMOVE, memos and blobs, OEM text, dynamic indexes, build events, and the
// table that found damage and now accepts only CLOSE and NAME.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/paths.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Item {
  int32_t id;
  char text[8];
};
#pragma pack(pop)

FileDeclaration items(std::string name) {
  return FileDeclaration("ITM")
      .driver(tarnwell_entry)
      .name(std::move(name))
      .create()
      .field("ID", ftype::LONG)
      .field("TEXT", ftype::STRING(8))
      .key("BY_ID", {"ID"})
      .index("BY_TEXT", {"TEXT"}, KA_DUP)
      .memo("NOTE", 600);
}

class TableLifecycleTest : public testing_support::MemoryTablesTest {
 protected:
  static std::string full(const char* name) { return *platform::full_path(name); }
  static void put(File& f, int32_t id, const char* text) {
    Item& r = f.record_as<Item>();
    r.id = id;
    std::memset(r.text, ' ', sizeof r.text);
    std::memcpy(r.text, text, std::strlen(text));
  }
  static std::vector<int32_t> ids(File& f, bool by_key = false, const char* key = nullptr) {
    by_key ? SET(f.key(key)) : SET(f);
    std::vector<int32_t> out;
    for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) out.push_back(f.record_as<Item>().id);
    return out;
  }
};

TEST_F(TableLifecycleTest, TablesOfOneFileShareItAndKeepApart) {
  File a{items("shared\\!A")}, b{items("shared\\!B")};
  CREATE(a);
  CREATE(b);
  SHARE(a);
  SHARE(b);
  ASSERT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(provider_.uses(full("shared.TWL")), 2);
  put(a, 1, "a1");
  ADD(a);
  put(b, 2, "b2");
  ADD(b);
  put(b, 1, "b1");  // the same id as in A: keys are per table
  ADD(b);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(ids(a), (std::vector<int32_t>{1}));
  EXPECT_EQ(ids(b, true, "BY_ID"), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(SEND(a, "PNM="), "A");
  EXPECT_EQ(SEND(a, "PNM=B"), "B");

  EMPTY(a);  // needs an exclusive open
  EXPECT_EQ(ERRORNUMBER(), 63);
  CLOSE(a);
  OPEN(a, 0x12);
  EMPTY(a);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(RECORDS(a), 0);
  EXPECT_EQ(ids(a), (std::vector<int32_t>{}));
  EXPECT_EQ(ids(b), (std::vector<int32_t>{2, 1}));
  CLOSE(a);
  CLOSE(b);
  EXPECT_EQ(provider_.uses(full("shared.TWL")), 0);

  REMOVE(a);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_TRUE(provider_.exists(full("shared.TWL")));  // B is still in it
  OPEN(a);
  EXPECT_EQ(ERRORNUMBER(), 2);
  REMOVE(b);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_FALSE(provider_.exists(full("shared.TWL")));  // the last table took the file with it
}

TEST_F(TableLifecycleTest, CreateReplacesATableOfTheSameName) {
  File a{items("again")};
  CREATE(a);
  OPEN(a);
  put(a, 7, "x");
  ADD(a);
  CLOSE(a);
  CREATE(a);
  OPEN(a);
  EXPECT_EQ(RECORDS(a), 0);
  EXPECT_EQ(ids(a), (std::vector<int32_t>{}));
}

TEST_F(TableLifecycleTest, MemosTravelWithTheirRecords) {
  File f{items("memos")};
  CREATE(f);
  OPEN(f);
  char* note = f.memo("NOTE").buffer;
  std::string long_text(550, 'm');
  long_text += "end";
  put(f, 1, "one");
  std::memset(note, ' ', 600);
  std::memcpy(note, long_text.data(), long_text.size());
  ADD(f);
  const int32_t first = POINTER(f);
  put(f, 2, "two");
  std::memset(note, ' ', 600);
  ADD(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  const int32_t second = POINTER(f);

  std::memset(note, 'z', 600);
  GET(f, first);
  EXPECT_EQ(std::string(note, long_text.size()), long_text);
  EXPECT_EQ(note[long_text.size()], ' ');
  GET(f, second);
  EXPECT_EQ(std::string(note, 3), "   ");

  // A change of the memo alone is written.
  GET(f, first);
  std::memcpy(note, "short", 5);
  std::memset(note + 5, ' ', 595);
  PUT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  std::memset(note, 'z', 600);
  GET(f, first);
  EXPECT_EQ(std::string(note, 6), "short ");

  // NOMEMO: the read leaves the buffer alone and the PUT leaves the stored memo alone.
  std::memset(note, 'q', 600);
  NOMEMO(f);
  GET(f, first);
  EXPECT_EQ(note[0], 'q');
  f.record_as<Item>().text[0] = 'Z';
  PUT(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  GET(f, first);
  EXPECT_EQ(std::string(note, 6), "short ");
  EXPECT_EQ(f.record_as<Item>().text[0], 'Z');

  DELETE(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  const auto* store = provider_.store(full("memos.TWL"));
  size_t memo_chunks = 0;
  for (auto r = const_cast<testing_support::DamageableStore*>(store)->find_first_after({}); r;
       r = const_cast<testing_support::DamageableStore*>(store)->find_first_after(
           std::vector<uint8_t>(r->key.begin(), r->key.end())))
    if (r->key.size() == 12 && r->key[4] == 0xFC) ++memo_chunks;
  EXPECT_EQ(memo_chunks, 0u);  // record 2's memo was empty: no chunk; record 1's went
}

TEST_F(TableLifecycleTest, OemFilesKeepTextInTheOemCodePage) {
  File f{FileDeclaration("O")
             .driver(tarnwell_entry)
             .name("oem")
             .create()
             .oem()
             .field("ID", ftype::LONG)
             .field("TEXT", ftype::STRING(8))
             .key("BY_ID", {"ID"})};
  CREATE(f);
  OPEN(f);
  const std::string text = ansi(u8"Жук");
  put(f, 1, text.c_str());
  ADD(f);
  ASSERT_EQ(ERRORNUMBER(), 0);
  const int32_t record = POINTER(f);
  auto* store = provider_.store(full("oem.TWL"));
  bool found = false;
  for (auto r = store->find_first_after({}); r;
       r = store->find_first_after(std::vector<uint8_t>(r->key.begin(), r->key.end()))) {
    if (r->key.size() == 9 && r->key[4] == 0xF3) {
      found = true;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(r->data.data()) + 4, 3),
                platform::ansi_to_oem(text));
    }
  }
  EXPECT_TRUE(found);
  std::memset(f.record(), 0, sizeof(Item));
  GET(f, record);
  EXPECT_EQ(std::string(f.record_as<Item>().text, 3), text);
}

TEST_F(TableLifecycleTest, DynamicIndexIsBuiltOnDemand) {
  File f{items("dynamic")};
  CREATE(f);
  OPEN(f);
  put(f, 1, "pear");
  ADD(f);
  put(f, 2, "apple");
  ADD(f);
  put(f, 3, "fig");
  ADD(f);
  SET(f.key("BY_TEXT"));
  EXPECT_EQ(ERRORNUMBER(), 46);  // not built yet
  BUILD(f.key("BY_TEXT"), "");
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(ids(f, true, "BY_TEXT"), (std::vector<int32_t>{2, 3, 1}));
  BUILD(f.key("BY_TEXT"), "-ITM:ID");
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(ids(f, true, "BY_TEXT"), (std::vector<int32_t>{3, 2, 1}));
  BUILD(f.key("BY_TEXT"), "NOSUCH");
  EXPECT_EQ(ERRORNUMBER(), 76);
  BUILD(f.key("BY_TEXT"), "TEXT", "ITM:ID > 1");
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();  // the evaluator's compiler is linked in
  EXPECT_EQ(ids(f, true, "BY_TEXT"), (std::vector<int32_t>{2, 3}));
}

int32_t cancel_after_two(FileBlock&, uint32_t done, uint32_t) {
  return done >= 2 ? 1 : 0;
}

TEST_F(TableLifecycleTest, BuildEventsCanCancel) {
  File f{items("events").build_events(cancel_after_two, 1)};
  CREATE(f);
  OPEN(f, 0x12);
  for (int i = 1; i <= 5; ++i) {
    put(f, i, "x");
    APPEND(f);
  }
  BUILD(f);
  EXPECT_EQ(ERRORNUMBER(), 93);
}

TEST_F(TableLifecycleTest, DamageLeavesOnlyCloseAndName) {
  File f{items("damaged")};
  CREATE(f);
  OPEN(f);
  put(f, 1, "x");
  ADD(f);
  provider_.store(full("damaged.TWL"))->damage_check = 1602;
  GET(f, POINTER(f));
  EXPECT_EQ(ERRORNUMBER(), 90);
  EXPECT_EQ(DRIVERERRORCODE(), "1602");
  EXPECT_EQ(DRIVERERROR(), "Possible data corruption in file");
  clear_error();
  RECORDS(f);
  EXPECT_EQ(ERRORNUMBER(), 90);
  EXPECT_EQ(DRIVERERRORCODE(), "1602");
  EXPECT_EQ(NAME(f), "damaged");
  CLOSE(f);
  EXPECT_EQ(ERRORNUMBER(), 0);
  OPEN(f);  // a new instance: the file itself was fine
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(RECORDS(f), 1);
}

TEST_F(TableLifecycleTest, RemoteTablesAnswer80) {
  File f{items("remote")};
  f.declared().driver_flags[1] |= DF_REMOTE;
  OPEN(f);
  EXPECT_EQ(ERRORNUMBER(), 80);
}

}  // namespace
}  // namespace vtn
