// Model-based test of the page store: random inserts, replaces and deletes of records from a few
// bytes to 15,000 against a std::map, with flushes every few operations, reopening now and then,
// and the consistency checker after every flush.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

struct Scenario {
  const char* name;
  uint32_t seed;
  int operations;
  int flush_every;
  size_t max_size;     // largest record data
  uint32_t key_space;  // keys drawn from [0, key_space)
  int delete_percent;
  const char* password;
};

class RecordFileModelTest : public StoreTest, public ::testing::WithParamInterface<Scenario> {};

Bytes random_data(std::mt19937& rng, size_t max_size) {
  // Mostly small records, some large ones; half of them compress well.
  std::uniform_int_distribution<int> kind(0, 9);
  const int k = kind(rng);
  size_t size = k < 6 ? 3 + rng() % 200 : k < 9 ? 200 + rng() % 2000 : 2000 + rng() % max_size;
  size = std::min(size, max_size);
  if (rng() % 2 == 0) return Bytes(size, static_cast<uint8_t>(rng()));
  return data_of(size, static_cast<uint32_t>(rng()));
}

TEST_P(RecordFileModelTest, MatchesTheModel) {
  const Scenario& sc = GetParam();
  const int scale = std::getenv("VTN_LONG_TESTS") ? 10 : 1;
  std::mt19937 rng(sc.seed);
  Model model;
  RecordFile* f = open(kReadWriteShared, "T.TWL", sc.password);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (int op = 1; op <= sc.operations * scale; ++op) {
    const Bytes key = key_of(static_cast<uint32_t>(rng() % sc.key_space), rng() % 12);
    const bool present = model.contains(key);
    const int roll = static_cast<int>(rng() % 100);
    if (roll < sc.delete_percent) {
      EXPECT_EQ(f->delete_record(key), present);
      model.erase(key);
    } else if (present) {
      const Bytes data = random_data(rng, sc.max_size);
      EXPECT_TRUE(f->replace_record(key, data));
      model[key] = data;
    } else {
      const Bytes data = random_data(rng, sc.max_size);
      f->insert_record(key, data);
      model[key] = data;
    }
    if (op % sc.flush_every == 0) {
      ASSERT_EQ(f->flush(), 0);
      const CheckResult check = check_record_file(*f);
      ASSERT_TRUE(check.ok) << "after op " << op << ": " << check.what << " (" << check.check_number
                            << ")";
      if (op % (sc.flush_every * 5) == 0) {
        ASSERT_EQ(f->end_access(), 0);
        close(f);
        ASSERT_TRUE(same_records(reopened_records("T.TWL", kReadOnlyShared, sc.password), model))
            << "after op " << op;
        f = open(kReadWriteShared, "T.TWL", sc.password);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
      }
    }
    // A few lookups of every kind against the model.
    if (op % 17 == 0) {
      const Bytes probe = key_of(static_cast<uint32_t>(rng() % sc.key_space), rng() % 12);
      auto after = model.upper_bound(probe);
      auto found = f->find_first_after(probe);
      ASSERT_EQ(found.has_value(), after != model.end());
      if (found) {
        EXPECT_EQ(Bytes(found->key().begin(), found->key().end()), after->first);
      }
      auto at_or_before = model.upper_bound(probe);
      found = f->find_at_or_before(probe);
      ASSERT_EQ(found.has_value(), at_or_before != model.begin());
      if (found) {
        EXPECT_EQ(Bytes(found->key().begin(), found->key().end()), std::prev(at_or_before)->first);
      }
      auto before = model.lower_bound(probe);
      found = f->find_last_before(probe);
      ASSERT_EQ(found.has_value(), before != model.begin());
      if (found) {
        EXPECT_EQ(Bytes(found->key().begin(), found->key().end()), std::prev(before)->first);
      }
      found = f->find_exact(probe);
      ASSERT_EQ(found.has_value(), model.contains(probe));
      if (found) {
        EXPECT_EQ(Bytes(found->data().begin(), found->data().end()), model[probe]);
      }
    }
  }
  EXPECT_TRUE(same_records(records_of(*f), model));
  ASSERT_EQ(f->end_access(), 0);
  close(f);
  EXPECT_TRUE(same_records(reopened_records("T.TWL", kReadOnlyShared, sc.password), model));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, RecordFileModelTest,
    ::testing::Values(Scenario{"small_records", 1, 3000, 50, 300, 2000, 25, ""},
                      Scenario{"mixed_sizes", 2, 800, 20, 15000, 400, 30, ""},
                      Scenario{"grow_and_shrink", 3, 1500, 100, 4000, 300, 45, ""},
                      Scenario{"flush_every_op", 4, 150, 1, 6000, 100, 35, ""},
                      Scenario{"encrypted", 5, 600, 25, 3000, 300, 30, "secret"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtn::tarnwell
