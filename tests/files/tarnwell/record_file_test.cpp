#include "runtime/files/tarnwell/record_file.hpp"

#include <gtest/gtest.h>

#include <array>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/page_image.hpp"
#include "tests/files/tarnwell/check_of.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

class RecordFileTest : public StoreTest {};

TEST_F(RecordFileTest, InsertFindFlushReopen) {
  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  Model model;
  for (uint32_t i = 0; i < 300; ++i) {
    const Bytes k = key_of(i * 7 % 300);
    const Bytes d = data_of(40 + i % 90, i);
    f->insert_record(k, d);
    model[k] = d;
  }
  EXPECT_EQ(records_of(*f), model);
  ASSERT_EQ(f->end_access(), 0);
  EXPECT_FALSE(f->dirty());
  close(f);
  EXPECT_EQ(reopened_records(), model);
}

}  // namespace
}  // namespace vtn::tarnwell
