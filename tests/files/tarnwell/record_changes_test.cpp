// Record changes one after another on one table: the table keeps its key parts, its record in the
// file's code page and its memo buffers from one change to the next, so each case checks that no
// change carries bytes of the one before: a refused ADD or PUT leaves exactly the entries it found,
// text goes through the OEM code page and back unchanged, a new record gets only its own memo.
// After the steps every key is read in order and every record by its id, against what the steps
// stored; on a real file the checker then looks at the whole file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/paths.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Visit {
  int32_t id;
  char name[8];
  char city[8];
};
#pragma pack(pop)

constexpr size_t kNoteSize = 40;

// op: 'A' ADD, 'P' APPEND, 'U' PUT of the record with this id, 'D' DELETE of it, 'B' BUILD of
// the whole file. `error`: what the statement must answer.
struct Step {
  char op;
  int32_t id;
  const char* name;
  const char* city;
  const char* note;
  int32_t error;
};

// The ids in the order of each key once the steps are done.
struct Case {
  const char* what;
  std::vector<Step> steps;
  std::vector<int32_t> by_id, by_name, by_city;
};

const Case kCases[] = {
    {"a refused ADD takes back the entries it had made",
     {{'A', 1, "ann", "oslo", "", 0},
      {'A', 2, "bob", "rome", "", 0},
      {'A', 3, "cy", "oslo", "", 40},  // BY_ID and BY_NAME had their entries already
      {'A', 4, "dee", "bern", "", 0}},
     {1, 2, 4},
     {1, 2, 4},
     {4, 1, 2}},
    {"a refused PUT puts back the entries it had taken",
     {{'A', 1, "ann", "oslo", "", 0},
      {'A', 2, "bob", "rome", "", 0},
      {'U', 2, "zed", "oslo", "", 40},
      {'U', 2, "amy", "bern", "", 0},
      {'U', 1, "ann", "rome", "", 0}},
     {1, 2},
     {2, 1},
     {2, 1}},
    {"text in the OEM code page reads back as written",
     {{'A', 1, "caf\xe9", "k\xf6ln", "", 0},
      {'A', 2, "bob", "rome", "", 0},
      {'U', 1, "d\xe9j\xe0", "k\xf6ln", "", 0},
      {'A', 3, "a\xdf" "e", "malm\xf6", "", 0}},
     {1, 2, 3},
     {3, 2, 1},
     {1, 3, 2}},
    {"a new record gets its own memo only",
     {{'A', 1, "ann", "oslo", "the first note", 0},
      {'A', 2, "bob", "rome", "", 0},
      {'A', 3, "cy", "bern", "a third", 0},
      {'U', 1, "ann", "oslo", "", 0}},
     {1, 2, 3},
     {1, 2, 3},
     {3, 1, 2}},
    {"DELETE takes exactly the entries of its record",
     {{'A', 1, "ann", "oslo", "x", 0},
      {'A', 2, "ann", "rome", "y", 0},
      {'A', 3, "cy", "bern", "z", 0},
      {'D', 2, "", "", "", 0},
      {'A', 4, "ann", "rome", "w", 0}},
     {1, 3, 4},
     {1, 4, 3},
     {3, 1, 4}},
    {"APPEND leaves the keys to a BUILD",
     {{'A', 1, "ann", "oslo", "", 0},
      {'P', 2, "bob", "rome", "", 0},
      {'P', 3, "cy", "oslo", "", 0},  // its city clashes: the BUILD leaves it out
      {'A', 4, "dee", "bern", "", 0},
      {'B', 0, "", "", "", 40}},
     {1, 2, 3, 4},
     {1, 2, 3, 4},
     {4, 1, 2}},
};

FileDeclaration visits(const std::string& name) {
  return FileDeclaration("V")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .oem()
      .field("ID", ftype::LONG)
      .field("NAME", ftype::STRING(8))
      .field("CITY", ftype::STRING(8))
      .key("BY_ID", {"ID"}, KA_PRIMARY)
      .key("BY_NAME", {"NAME"}, KA_DUP | KA_NOCASE)
      .key("BY_CITY", {"CITY"})
      .memo("NOTE", kNoteSize);
}

class RecordChangesTest : public ::testing::TestWithParam<bool> {
 protected:
  RecordChangesTest() {
    if (!GetParam()) tarnwell::set_store_provider(&memory_);
  }
  ~RecordChangesTest() override {
    tarnwell::set_store_provider(nullptr);
    std::error_code ignored;
    if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ignored);
  }

  static std::string make_scratch() {
    char pattern[] = "/tmp/vtn_changes_XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }

  std::string path(int n) const {
    return (GetParam() ? dir_ + "/" : std::string()) + "visits" + std::to_string(n) + ".TWL";
  }

  void check_file(const std::string& name) {
    if (!GetParam()) return;
    tarnwell::RecordFile* file = nullptr;
    ASSERT_EQ(tarnwell::open_record_file(name, 0x40, "", file), 0);
    ASSERT_EQ(file->begin_access(tarnwell::AccessMode::read, true), 0);
    const tarnwell::CheckResult r = tarnwell::check_record_file(*file);
    EXPECT_TRUE(r.ok) << r.check_number << " " << r.what;
    file->end_access();
    tarnwell::close_record_file(file);
  }

  testing_support::MemoryStoreProvider memory_;
  std::string dir_ = make_scratch();
};

void fill_text(char* field, size_t size, const char* text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text, std::strlen(text));
}

// What a record holds: its row and its memo, blank-filled as the buffers are.
struct Stored {
  Visit row;
  std::string note;
};

TEST_P(RecordChangesTest, EachChangeStartsFromItsOwnBytes) {
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string name = path(++n);
    File f(visits(name));
    CREATE(f);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    OPEN(f, 0x12);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    Visit& row = f.record_as<Visit>();
    char* note = f.memo("NOTE").buffer;
    std::map<int32_t, Stored> stored;
    for (const Step& s : c.steps) {
      SCOPED_TRACE(std::string(1, s.op) + " " + std::to_string(s.id));
      if (s.op == 'U' || s.op == 'D') {
        row.id = s.id;
        GET(f, f.key("BY_ID"));
        ASSERT_EQ(ERRORNUMBER(), 0);
      }
      Stored next{{s.id, {}, {}}, std::string(kNoteSize, ' ')};
      fill_text(next.row.name, sizeof next.row.name, s.name);
      fill_text(next.row.city, sizeof next.row.city, s.city);
      next.note.replace(0, std::strlen(s.note), s.note);
      if (s.op != 'D' && s.op != 'B') {
        row = next.row;
        std::memcpy(note, next.note.data(), kNoteSize);
      }
      switch (s.op) {
        case 'A':
          ADD(f);
          break;
        case 'P':
          APPEND(f);
          break;
        case 'U':
          PUT(f);
          break;
        case 'D':
          DELETE(f);
          break;
        default:
          BUILD(f);
          break;
      }
      ASSERT_EQ(ERRORNUMBER(), s.error) << ERRORTEXT();
      if (s.op == 'D')
        stored.erase(s.id);
      else if (s.op != 'B' && s.error == 0)
        stored[s.id] = next;
    }
    const std::pair<const char*, const std::vector<int32_t>*> keys[] = {
        {"BY_ID", &c.by_id}, {"BY_NAME", &c.by_name}, {"BY_CITY", &c.by_city}};
    for (const auto& [label, expected] : keys) {
      std::vector<int32_t> ids;
      SET(f.key(label));
      for (NEXT(f); ERRORNUMBER() == 0 && ids.size() <= stored.size(); NEXT(f))
        ids.push_back(row.id);
      EXPECT_EQ(ids, *expected) << label;
      EXPECT_EQ(RECORDS(f.key(label)), static_cast<int32_t>(expected->size())) << label;
    }
    EXPECT_EQ(RECORDS(f), static_cast<int32_t>(stored.size()));
    for (const auto& [id, want] : stored) {
      std::memset(note, '#', kNoteSize);
      row.id = id;
      GET(f, f.key("BY_ID"));
      ASSERT_EQ(ERRORNUMBER(), 0) << "record " << id;
      EXPECT_EQ(std::string(row.name, 8), std::string(want.row.name, 8)) << id;
      EXPECT_EQ(std::string(row.city, 8), std::string(want.row.city, 8)) << id;
      EXPECT_EQ(std::string(note, kNoteSize), want.note) << id;
    }
    CLOSE(f);
    check_file(name);
  }
}

// A counter record cut short (a damaged file) reads as no counter; the next change replaces it
// with a whole one instead of inserting a second record of the same key part.
using RecordChangesCounters = testing_support::MemoryTablesTest;

TEST_F(RecordChangesCounters, AShortCounterRecordIsReplaced) {
  File f(visits("short.TWL"));
  CREATE(f);
  OPEN(f, 0x12);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  Visit& row = f.record_as<Visit>();
  for (int32_t id = 1; id <= 2; ++id) {
    row = {id, {}, {}};
    fill_text(row.name, sizeof row.name, "ann");
    fill_text(row.city, sizeof row.city, id == 1 ? "oslo" : "rome");
    ADD(f);
    ASSERT_EQ(ERRORNUMBER(), 0);
  }
  tarnwell::MemoryStore* found = provider_.store(*platform::full_path("short.TWL"));
  ASSERT_NE(found, nullptr);
  tarnwell::MemoryStore& store = *found;
  std::vector<tarnwell::Bytes> keys;
  for (auto r = store.find_first_after({}); r; r = store.find_first_after(keys.back()))
    keys.emplace_back(r->key.begin(), r->key.end());
  size_t cut = 0;  // the counters of the data records and of BY_CITY lose half their bytes
  for (const tarnwell::Bytes& key : keys) {
    if (key.size() != 6 || key[4] != 0xF6 || (key[5] != 0xF3 && key[5] != 2)) continue;
    const uint8_t four[4] = {9, 9, 9, 9};
    store.replace_record(key, four);
    ++cut;
  }
  ASSERT_EQ(cut, 2u);
  row.id = 2;
  GET(f, f.key("BY_ID"));
  DELETE(f);
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(RECORDS(f), 0);  // counted from nothing, and never below zero
  EXPECT_EQ(RECORDS(f.key("BY_CITY")), 0);
  row = {3, {}, {}};
  fill_text(row.name, sizeof row.name, "cy");
  fill_text(row.city, sizeof row.city, "bern");
  ADD(f);
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(RECORDS(f), 1);
  EXPECT_EQ(RECORDS(f.key("BY_CITY")), 1);
  CLOSE(f);
}

INSTANTIATE_TEST_SUITE_P(Stores, RecordChangesTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PageStore" : "Memory"; });

}  // namespace
}  // namespace vtn
