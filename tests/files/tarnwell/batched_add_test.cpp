// ADDs inside a transaction, where the counts wait in memory and each ADD only puts in its keys'
// entries and its record: a refused ADD takes back exactly the entries it made, and the file ends
// up holding one entry per key and one data record for every ADD that went through, with the
// counters saying so.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Item {
  int32_t id;
  char name[8];
};
#pragma pack(pop)

// The unique key first or last: a refused ADD has either nothing or one entry to take back.
FileDeclaration items(const std::string& name, bool unique_first) {
  FileDeclaration d = FileDeclaration("ITM")
                          .driver(tarnwell_entry)
                          .name(name)
                          .create()
                          .field("ID", ftype::LONG)
                          .field("NAME", ftype::STRING(8));
  if (unique_first) d.key("BY_ID", {"ID"}, KA_PRIMARY);
  d.key("BY_NAME", {"NAME"}, KA_DUP);
  d.key("BY_NAME_ID", {"NAME", "-ID"});
  if (!unique_first) d.key("BY_ID", {"ID"}, KA_PRIMARY);
  return d;
}

// The records of each kind of the file's one table (key entries by the key's number, data
// records, ...), counted over the whole file.
std::map<uint8_t, int> records_by_kind(const std::string& path) {
  std::map<uint8_t, int> counts;
  tarnwell::RecordFile* file = nullptr;
  if (tarnwell::open_record_file(path, 0x40, "", file) != 0) {
    ADD_FAILURE() << "cannot open " << path;
    return counts;
  }
  EXPECT_EQ(file->begin_access(tarnwell::AccessMode::read, true), 0);
  std::vector<uint8_t> key;
  for (auto r = file->find_first_after(key); r; r = file->find_first_after(key)) {
    key.assign(r->key().begin(), r->key().end());
    if (key.size() > 4) ++counts[key[4]];
  }
  file->end_access();
  tarnwell::close_record_file(file);
  return counts;
}

class BatchedAddTest : public testing_support::ScratchDirectoryTest {};

TEST_F(BatchedAddTest, ARefusedAddInATransactionTakesBackItsEntries) {
  struct Case {
    const char* what;
    bool unique_first;
    int run_before;  // ADDs in the transaction before the refused one
    int run_after;
    bool commit;
  };
  const Case cases[] = {
      {"refused as the transaction's first ADD, unique key first", true, 0, 5, true},
      {"refused as the transaction's first ADD, unique key last", false, 0, 5, true},
      {"refused after a run, unique key first", true, 30, 5, true},
      {"refused after a run, unique key last", false, 30, 5, true},
      {"refused last of a run, unique key last", false, 30, 0, true},
      {"refused after a run that is rolled back", false, 30, 5, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = path(("items" + std::to_string(++n) + ".TWL").c_str());
    File f{items(file, c.unique_first)};
    CREATE(f);
    SHARE(f, 0x42);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    Item& r = f.record_as<Item>();
    const auto add = [&](int32_t id) {
      r.id = id;
      std::memset(r.name, ' ', sizeof r.name);
      std::memcpy(r.name, id % 2 ? "odd" : "even", id % 2 ? 3 : 4);
      ADD(f);
      return ERRORNUMBER();
    };
    ASSERT_EQ(add(1), 0);  // committed before the transaction
    LOGOUT(0, {f});
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (int i = 0; i < c.run_before; ++i) ASSERT_EQ(add(100 + i), 0);
    EXPECT_EQ(add(1), 40);
    for (int i = 0; i < c.run_after; ++i) ASSERT_EQ(add(200 + i), 0);
    c.commit ? COMMIT() : ROLLBACK();
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();

    const int records = 1 + (c.commit ? c.run_before + c.run_after : 0);
    EXPECT_EQ(RECORDS(f), records);
    for (const char* key : {"BY_ID", "BY_NAME", "BY_NAME_ID"})
      EXPECT_EQ(RECORDS(f.key(key)), records) << key;
    CLOSE(f);
    const std::map<uint8_t, int> kinds = records_by_kind(file);
    EXPECT_EQ(kinds.count(tarnwell::kKindData) ? kinds.at(tarnwell::kKindData) : 0, records);
    for (uint8_t key = 0; key < 3; ++key)
      EXPECT_EQ(kinds.count(key) ? kinds.at(key) : 0, records) << "entries of key " << int{key};
  }
}

}  // namespace
}  // namespace vtn
