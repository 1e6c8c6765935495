// The prepared one-range lock of a file handle (a reader slot at every access): that it conflicts
// with the locks of other handles as lock() does, for each kind of handle, follows its range when
// moved, and fails on a handle that died in a simulated crash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/platform/byte_lock.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"
#include "tests/support/scratch_directory.hpp"

namespace vtn::platform {
namespace {

constexpr uint64_t kSlot = 0x8000'0000ull + 17;

class PreparedLockTest : public testing_support::ScratchDirectoryTest {
 protected:
  FileHandle open_handle(bool writes) {
    FileHandle h;
    EXPECT_TRUE(h.open(path("f"),
                       FileOpenMode{writes ? FileAccess::kReadWrite : FileAccess::kRead,
                                    FileSharing::kDenyNone, FileDisposition::kOpenAlways, false}));
    return h;
  }
};

TEST_F(PreparedLockTest, ConflictsAsTheHandlesLocksDo) {
  struct Case {
    const char* what;
    bool mine_writes, other_writes;
    bool other_locks_while_held;  // the other handle's lock() of the byte while mine is held
  };
  const std::vector<Case> cases = {
      {"two writers exclude each other", true, true, false},
      {"a writer excludes a reader", true, false, false},
      {"a reader excludes a writer", false, true, false},
      {"two readers share the byte", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FileHandle other = open_handle(c.other_writes);
    FileHandle mine = open_handle(c.mine_writes);
    PreparedByteLock slot(kSlot, 1);
    ASSERT_TRUE(mine.lock_prepared(slot));
    EXPECT_EQ(other.lock(kSlot, 1), c.other_locks_while_held);
    if (c.other_locks_while_held) {
      EXPECT_TRUE(other.unlock(kSlot, 1));
    } else {
      EXPECT_EQ(last_error(), kErrorLockViolation);
    }
    EXPECT_TRUE(mine.unlock_prepared(slot));
    EXPECT_TRUE(other.lock(kSlot, 1));  // free again
    // ...and now mine cannot have it, unless both only read.
    EXPECT_EQ(mine.lock_prepared(slot), c.other_locks_while_held);
    if (c.other_locks_while_held) {
      EXPECT_TRUE(mine.unlock_prepared(slot));
    } else {
      EXPECT_EQ(last_error(), kErrorLockViolation);
    }
    // Moved, the lock takes the next byte, which is free.
    slot.move_to(kSlot + 1);
    EXPECT_TRUE(mine.lock_prepared(slot));
    EXPECT_EQ(other.lock(kSlot + 1, 1), c.other_locks_while_held);
    EXPECT_TRUE(mine.unlock_prepared(slot));
  }
}

TEST_F(PreparedLockTest, NeverPreparedOrDeadHandles) {
  FileHandle mine = open_handle(true);
  PreparedByteLock slot(kSlot, 1);
  EXPECT_FALSE(mine.unlock_prepared(slot));  // never taken through this handle
  EXPECT_EQ(last_error(), kErrorNotLocked);

  fault::arm({});
  FileHandle watched = open_handle(true);
  PreparedByteLock watched_slot(kSlot + 5, 1);
  EXPECT_TRUE(watched.lock_prepared(watched_slot));
  fault::simulate_crash(fault::CrashMode::kLoseAll);
  EXPECT_FALSE(watched.unlock_prepared(watched_slot));
  EXPECT_EQ(last_error(), kErrorInvalidHandle);
  EXPECT_FALSE(watched.lock_prepared(watched_slot));
  EXPECT_EQ(last_error(), kErrorInvalidHandle);
  fault::disarm();
  // The dead handle's locks went with it.
  EXPECT_TRUE(mine.lock(kSlot + 5, 1));
}

}  // namespace
}  // namespace vtn::platform
