// COPY and RENAME of one table, into another table of the same file or into another file: the
// copy reads back as the original did (every key order, memos, blobs, stale keys), takes new
// records without clashing with the copied ones, and leaves both files sound.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/consistency_check.hpp"
#include "runtime/files/tarnwell/properties.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "tests/support/scratch_directory.hpp"

namespace vtn {
namespace {

namespace prop = tarnwell::prop;

#pragma pack(push, 1)
struct Doc {
  int32_t id;
  char tag[6];
};
#pragma pack(pop)

// What a table holds, read back through its keys.
struct Contents {
  std::vector<int32_t> by_id, by_tag;     // ids in each key order
  std::vector<std::string> notes, blobs;  // in id order
  int32_t records = 0;
  bool operator==(const Contents&) const = default;
};

class TableCopyTest : public testing_support::ScratchDirectoryTest {
 protected:
  FileDeclaration docs(const std::string& name) {
    return FileDeclaration("DOC")
        .driver(tarnwell_entry)
        .name(path(name.c_str()))
        .create()
        .field("ID", ftype::LONG)
        .field("TAG", ftype::STRING(6))
        .key("BY_ID", {"ID"})
        .key("BY_TAG", {"TAG"}, KA_DUP | KA_NOCASE)
        .memo("NOTE", 300)
        .blob("DATA");
  }

  static void set(File& f, int32_t id, const std::string& tag, const std::string& note,
                  const std::string& blob) {
    Doc& d = f.record_as<Doc>();
    d.id = id;
    std::memset(d.tag, ' ', sizeof d.tag);
    std::memcpy(d.tag, tag.data(), tag.size());
    char* n = f.memo("NOTE").buffer;
    std::memset(n, ' ', 300);
    std::memcpy(n, note.data(), note.size());
    SET_BLOB_PROPERTY(f, 1, prop::kContents, blob);
  }

  // Creates the table with `count` records (ids from `first`), each with a note and a blob; the
  // tags repeat so that the key with duplicates holds equal values.
  void make(const std::string& name, int32_t first, int32_t count) {
    File f{docs(name)};
    CREATE(f);
    OPEN(f, 0x12);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (int32_t id = first; id < first + count; ++id) {
      set(f, id,
          id % 3 == 0   ? "Zed"
          : id % 3 == 1 ? "amy"
                        : "AMY",
          "note " + std::to_string(id),
          std::string(static_cast<size_t>(id) * 37 % 700, static_cast<char>('a' + id % 26)));
      ADD(f);
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    CLOSE(f);
  }

  Contents read(const std::string& name) {
    Contents c;
    File f{docs(name)};
    OPEN(f, 0x40);
    if (ERRORNUMBER() != 0) {
      c.records = -ERRORNUMBER();
      return c;
    }
    c.records = RECORDS(f);
    SET(f.key("BY_ID"));
    for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) {
      c.by_id.push_back(f.record_as<Doc>().id);
      const std::string note(f.memo("NOTE").buffer, 300);
      c.notes.push_back(note.substr(0, note.find_last_not_of(' ') + 1));
      c.blobs.push_back(GET_BLOB_PROPERTY(f, 1, prop::kContents));
    }
    SET(f.key("BY_TAG"));
    for (NEXT(f); ERRORNUMBER() == 0; NEXT(f)) c.by_tag.push_back(f.record_as<Doc>().id);
    CLOSE(f);
    return c;
  }

  void check(const char* file) {
    tarnwell::RecordFile* f = nullptr;
    if (!std::filesystem::exists(path(file))) return;
    ASSERT_EQ(tarnwell::open_record_file(path(file), 0x40, "", f), 0);
    ASSERT_EQ(f->begin_access(tarnwell::AccessMode::read, true), 0);
    const tarnwell::CheckResult r = tarnwell::check_record_file(*f);
    EXPECT_TRUE(r.ok) << file << ": " << r.check_number << " " << r.what;
    f->end_access();
    tarnwell::close_record_file(f);
  }

  bool exists(const char* file) { return std::filesystem::exists(path(file)); }
};

TEST_F(TableCopyTest, TableGoesWithEverythingItHolds) {
  const struct {
    const char* what;
    const char* to;
    bool rename;
    int32_t error;
    bool source_stays;
  } cases[] = {
      {"copy to another file", "b.TWL\\!T", false, 0, true},
      {"copy to another file and name", "b.TWL\\!U", false, 0, true},
      {"copy within the file", "a.TWL\\!U", false, 0, true},
      {"copy to a file without a table part", "b.TWL", false, 0, true},  // its UNNAMED table
      {"rename within the file", "a.TWL\\!U", true, 0, false},
      {"rename to another file", "b.TWL\\!T", true, 0, false},
      {"copy onto itself", "a.TWL\\!T", false, 332, true},
      {"rename onto itself", "a.TWL\\!T", true, 380, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path("a.TWL"));
    std::filesystem::remove(path("b.TWL"));
    make("a.TWL\\!T", 1, 12);
    make("a.TWL\\!OTHER", 100, 2);  // another table of the source file, left alone
    const Contents original = read("a.TWL\\!T");
    ASSERT_EQ(original.records, 12);

    File f{docs("a.TWL\\!T")};
    c.rename ? RENAME(f, path(c.to)) : COPY(f, path(c.to));
    EXPECT_EQ(ERRORNUMBER(), c.error) << ERRORTEXT();
    check("a.TWL");
    check("b.TWL");
    EXPECT_EQ(read("a.TWL\\!OTHER").records, 2);
    if (c.source_stays) {
      EXPECT_EQ(read("a.TWL\\!T"), original);
    } else {
      EXPECT_EQ(read("a.TWL\\!T").records, -2);  // File Not Found
    }
    if (c.error != 0) continue;
    EXPECT_EQ(read(c.to), original);

    // The copy takes new records: their numbers clash with none of the copied ones.
    File copy{docs(c.to)};
    OPEN(copy, 0x12);
    for (int32_t id = 50; id < 53; ++id) {
      set(copy, id, "new", "added", "blob");
      ADD(copy);
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    CLOSE(copy);
    EXPECT_EQ(read(c.to).records, 15);
    check(c.to[0] == 'a' ? "a.TWL" : "b.TWL");
  }
}

TEST_F(TableCopyTest, ExistingTargetIsReplacedByCopyAndRefusedByRename) {
  make("a.TWL\\!T", 1, 5);
  make("b.TWL\\!T", 20, 3);
  const Contents source = read("a.TWL\\!T");
  const Contents target = read("b.TWL\\!T");
  File f{docs("a.TWL\\!T")};
  RENAME(f, path("b.TWL\\!T"));
  EXPECT_EQ(ERRORNUMBER(), 380);  // File Already Exists
  EXPECT_EQ(read("a.TWL\\!T"), source);
  EXPECT_EQ(read("b.TWL\\!T"), target);
  COPY(f, path("b.TWL\\!T"));
  EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(read("b.TWL\\!T"), source);
  check("b.TWL");
}

TEST_F(TableCopyTest, RenamingTheLastTableOfAFileDeletesTheFile) {
  make("a.TWL\\!T", 1, 4);
  const Contents source = read("a.TWL\\!T");
  File f{docs("a.TWL\\!T")};
  RENAME(f, path("b.TWL\\!T"));
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_FALSE(exists("a.TWL"));
  EXPECT_EQ(read("b.TWL\\!T"), source);
}

TEST_F(TableCopyTest, StaleKeysStayStaleInTheCopyUntilBuilt) {
  make("a.TWL\\!T", 1, 3);
  {
    File f{docs("a.TWL\\!T")};
    OPEN(f, 0x12);
    for (int32_t id = 4; id <= 6; ++id) {
      set(f, id, "amy", "appended", "");
      APPEND(f);
      ASSERT_EQ(ERRORNUMBER(), 0);
    }
    CLOSE(f);
    COPY(f, path("b.TWL\\!T"));
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }
  Contents copy = read("b.TWL\\!T");
  EXPECT_EQ(copy.records, 6);
  EXPECT_EQ(copy.by_id, (std::vector<int32_t>{1, 2, 3}));  // the appended ones are not keyed
  File b{docs("b.TWL\\!T")};
  OPEN(b, 0x12);
  // The stale mark follows the renumbering: it is the copy's number of the first appended record.
  SET(b);
  int32_t first_appended = 0;
  for (NEXT(b); ERRORNUMBER() == 0; NEXT(b))
    if (b.record_as<Doc>().id == 4) first_appended = POINTER(b);
  ASSERT_NE(first_appended, 0);
  EXPECT_EQ(GET_PROPERTY(b.key("BY_ID"), prop::kStaleMark), std::to_string(first_appended));
  BUILD(b);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  CLOSE(b);
  copy = read("b.TWL\\!T");
  EXPECT_EQ(copy.by_id, (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(copy.by_tag, (std::vector<int32_t>{1, 2, 4, 5, 6, 3}));  // amy/AMY by record, then Zed
  check("b.TWL");
}

TEST_F(TableCopyTest, WholeFileWithoutTablePartsIsCopiedAndRenamedAsAFile) {
  make("w.TWL", 1, 3);
  make("w.TWL\\!SECOND", 10, 2);
  File f{docs("w.TWL")};
  COPY(f, path("x.TWL"));
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_EQ(read("x.TWL\\!SECOND").records, 2);  // every table went with the file
  RENAME(f, path("y.TWL"));
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  EXPECT_FALSE(exists("w.TWL"));
  EXPECT_EQ(read("y.TWL").records, 3);
}

}  // namespace
}  // namespace vtn
