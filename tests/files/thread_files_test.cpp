#include "runtime/files/thread_files.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "files/support/test_driver.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/open_file_list.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

using testing_driver::disk;

class ThreadFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_driver::reset_disk();
    disk().files["shared"];
    clear_error();
  }
  void TearDown() override { discard_instance(file_.declared()); }

  File file_{FileDeclaration("TH")
                 .driver(testing_driver::test_entry)
                 .name("shared")
                 .thread()
                 .field("ID", ftype::LONG)
                 .field("TEXT", ftype::STRING(8))
                 .key("BY_ID", {"ID"})
                 .memo("NOTE", 30)};
};

TEST_F(ThreadFiles, TheHomeThreadUsesTheDeclaredBlocks) {
  EXPECT_EQ(&file_.block(), &file_.declared());
  EXPECT_EQ(&thread_file(file_.declared()), &file_.declared());
  EXPECT_EQ(&file_.key("BY_ID"), file_.declared().keys[0]);
  EXPECT_EQ(thread_copy_count(), 0u);
}

TEST_F(ThreadFiles, AnotherThreadGetsItsOwnCopiesOnFirstUse) {
  OPEN(file_, 0x42);
  ASSERT_EQ(ERRORNUMBER(), 0);
  std::memcpy(file_.record() + 4, "HOME    ", 8);
  FileBlock& home = file_.declared();

  struct Seen {
    FileBlock* block = nullptr;
    char* record = nullptr;
    std::string text;
    bool key_points_to_copy = false;
    bool memo_is_own = false;
    bool had_instance_before_open = true;
    int32_t open_error = -1;
    uint32_t state_after_open = 0;
    int64_t list_thread = 0;
    bool same_block_twice = false;
    size_t copies = 0;
    int32_t next_error = -1;
  } seen;

  std::thread worker([&] {
    FileBlock& mine = file_.block();
    seen.block = &mine;
    seen.record = file_.record();
    seen.text.assign(file_.record() + 4, 8);
    KeyBlock& key = file_.key("BY_ID");
    seen.key_points_to_copy = key.file == &mine && &key != home.keys[0];
    seen.memo_is_own = file_.memo("NOTE").buffer != home.memos[0]->buffer;
    seen.had_instance_before_open = mine.instance != nullptr;
    OPEN(file_, 0x42);  // the home thread has it open; this thread opens its own
    seen.open_error = ERRORNUMBER();
    seen.state_after_open = mine.instance->file_state;
    seen.list_thread = find_open_file(&mine)->thread;
    seen.same_block_twice = &file_.block() == &mine;
    NEXT(file_);  // no SET in this thread
    seen.next_error = ERRORNUMBER();
    seen.copies = thread_copy_count();
  });
  worker.join();

  EXPECT_NE(seen.block, &home);
  EXPECT_NE(seen.record, home.record);
  EXPECT_EQ(seen.text, "        ");  // the copy starts cleared, not with the home's contents
  EXPECT_TRUE(seen.key_points_to_copy);
  EXPECT_TRUE(seen.memo_is_own);
  EXPECT_FALSE(seen.had_instance_before_open);
  EXPECT_EQ(seen.open_error, 0);
  EXPECT_EQ(seen.state_after_open, FS_OPEN | FS_WRITE);
  EXPECT_GT(seen.list_thread, 0);
  EXPECT_NE(seen.list_thread, current_thread_number());
  EXPECT_TRUE(seen.same_block_twice);
  EXPECT_EQ(seen.next_error, 33);
  EXPECT_EQ(seen.copies, 1u);

  // The worker's errors were its own; its copy and instance went with it.
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(home.instance->file_state, FS_OPEN | FS_WRITE);
  EXPECT_EQ(std::string_view(file_.record() + 4, 8), "HOME    ");
  size_t entries = 0;
  for (const OpenFileEntry& e : open_file_entries())
    if (e.file == seen.block) ++entries;
  EXPECT_EQ(entries, 0u);
  CLOSE(file_);
}

TEST_F(ThreadFiles, FilesWithoutThreadAreShared) {
  File plain{FileDeclaration("P")
                 .driver(testing_driver::test_entry)
                 .name("shared")
                 .field("ID", ftype::LONG)};
  FileBlock* seen = nullptr;
  std::thread worker([&] { seen = &plain.block(); });
  worker.join();
  EXPECT_EQ(seen, &plain.declared());
}

}  // namespace
}  // namespace vtn
