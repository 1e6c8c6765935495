// The store's bulk calls against record-by-record changes: delete_prefix leaves a file byte for
// byte as deleting the same records one by one in key order does (and the memory store as the
// model does), inserts in ascending order land where a search would put them, insert_if_absent
// changes nothing when the key part is taken, and change_count moves exactly when records may
// have changed, also when another process changed the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "runtime/files/tarnwell/record_store.hpp"
#include "runtime/files/tarnwell/table_block.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

struct Group {
  uint8_t tag;
  uint32_t count;
  size_t data_size;
};

struct BulkCase {
  const char* name;
  std::vector<Group> groups;
  Bytes prefix;
  bool ascending;    // records inserted in key order (else shuffled)
  bool flush_first;  // the records on disk before the deletion (else pages still in memory)
};

// Key parts: group tag, big-endian number, then 0..2 bytes more, so that keys of one group differ
// in length and a prefix may be longer than some of them.
Model records_of_groups(const std::vector<Group>& groups) {
  Model m;
  for (const Group& g : groups) {
    for (uint32_t n = 0; n < g.count; ++n) {
      Bytes key = key_of(n, n % 3);
      key.insert(key.begin(), g.tag);
      m[key] = data_of(g.data_size, n ^ g.tag);
    }
  }
  return m;
}

std::vector<std::pair<Bytes, Bytes>> insert_order(const Model& m, bool ascending) {
  std::vector<std::pair<Bytes, Bytes>> order(m.begin(), m.end());
  if (!ascending) std::shuffle(order.begin(), order.end(), std::mt19937(7));
  return order;
}

std::string first_difference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) {
    return std::to_string(a.size()) + " bytes vs " + std::to_string(b.size());
  }
  const auto at = std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin();
  return "first difference at offset " + std::to_string(at);
}

void PrintTo(const BulkCase& c, std::ostream* os) {
  *os << c.name;
}

class DeletePrefixTest : public StoreTest, public ::testing::WithParamInterface<BulkCase> {};

TEST_P(DeletePrefixTest, LeavesTheFileAsOneByOneDeletesDo) {
  const BulkCase& c = GetParam();
  const Model all = records_of_groups(c.groups);
  const auto order = insert_order(all, c.ascending);
  Model expected;
  std::vector<Bytes> doomed;
  for (const auto& [key, data] : all) {
    if (key_starts_with(key, c.prefix)) {
      doomed.push_back(key);
    } else {
      expected[key] = data;
    }
  }

  auto fill = [&](RecordFile* f) {
    ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    for (const auto& [key, data] : order) f->insert_record(key, data);
    if (c.flush_first) {
      ASSERT_EQ(f->flush(), 0);
    }
  };
  RecordFile* one_by_one = open(kReadWriteShared, "ONE.TWL");
  RecordFile* bulk = open(kReadWriteShared, "BULK.TWL");
  ASSERT_TRUE(one_by_one && bulk);
  fill(one_by_one);
  fill(bulk);

  for (const Bytes& key : doomed) {
    ASSERT_TRUE(one_by_one->delete_record(key));
  }
  const uint64_t before = bulk->change_count();
  EXPECT_EQ(bulk->delete_prefix(c.prefix), doomed.size());
  EXPECT_EQ(bulk->change_count() != before, !doomed.empty());
  EXPECT_TRUE(same_records(records_of(*bulk), expected));
  const CheckResult check = check_record_file(*bulk);
  EXPECT_TRUE(check.ok) << check.what << " (" << check.check_number << ")";
  ASSERT_EQ(one_by_one->end_access(), 0);
  ASSERT_EQ(bulk->end_access(), 0);
  close(one_by_one);
  close(bulk);

  const Bytes want = read_file("ONE.TWL");
  const Bytes got = read_file("BULK.TWL");
  EXPECT_TRUE(got == want) << first_difference(got, want);
  EXPECT_TRUE(same_records(reopened_records("BULK.TWL"), expected));

  MemoryStore memory;
  for (const auto& [key, data] : order) memory.insert_record(key, data);
  EXPECT_EQ(memory.delete_prefix(c.prefix), doomed.size());
  EXPECT_EQ(memory.size(), expected.size());
  for (const auto& [key, data] : expected) {
    const auto r = memory.find_exact(key);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(std::ranges::equal(r->data, data));
  }
}

// Groups 'a' < 'b' < 'c'; most cases delete 'b'. Small data: many records a leaf and index pages
// over several levels; large data: a few records a leaf.
const std::vector<Group> kThreeGroups = {{'a', 700, 40}, {'b', 3000, 60}, {'c', 900, 40}};
const std::vector<Group> kWideMiddle = {{'a', 50, 30}, {'b', 30000, 20}, {'c', 50, 30}};
const Bytes kB = {'b'};

INSTANTIATE_TEST_SUITE_P(
    Cases, DeletePrefixTest,
    ::testing::Values(
        BulkCase{"NothingMatches", kThreeGroups, {'b', 0xFF}, true, true},
        BulkCase{"PrefixBetweenGroups", kThreeGroups, {'a', 0xFF}, true, true},
        BulkCase{"InsideOneLeaf", {{'a', 300, 40}, {'b', 5, 40}, {'c', 300, 40}}, kB, true, true},
        BulkCase{"AcrossLeaves", kThreeGroups, kB, true, true},
        BulkCase{"AcrossLeavesShuffled", kThreeGroups, kB, false, true},
        BulkCase{"PagesStillInMemory", kThreeGroups, kB, false, false},
        BulkCase{"WholeIndexPages", kWideMiddle, kB, true, true},
        BulkCase{"WholeIndexPagesShuffled", kWideMiddle, kB, false, true},
        BulkCase{"FirstGroup", kThreeGroups, {'a'}, true, true},
        BulkCase{"LastGroup", kThreeGroups, {'c'}, false, true},
        BulkCase{"LongerThanSomeKeys", kThreeGroups, {'b', 0, 0, 1}, true, true},
        BulkCase{
            "LargeRecords", {{'a', 40, 3000}, {'b', 200, 5000}, {'c', 40, 3000}}, kB, false, true},
        BulkCase{"Everything", kThreeGroups, {}, false, true},
        BulkCase{"EverythingOfThreeLevels", kWideMiddle, {}, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The same calls through the RecordStore interface, on a file and in memory.
class StoreCallsTest : public StoreTest {
 protected:
  RecordStore* file_store() {
    RecordStore* s = nullptr;
    EXPECT_EQ(store_provider().open(path("S.TWL"), kReadWriteShared, "", s), 0);
    if (s != nullptr) opened_.push_back(s);
    return s;
  }
  ~StoreCallsTest() override {
    for (RecordStore* s : opened_) store_provider().close(s);
  }
  std::vector<RecordStore*> opened_;
};

// A table of calls; after each, whether change_count() must have moved.
TEST_F(StoreCallsTest, ChangeCountMovesExactlyWithTheRecords) {
  const Bytes k1 = {'k', 1}, k2 = {'k', 2}, k3 = {'k', 3}, d1 = {1, 1}, d2 = {2, 2, 2};
  struct Step {
    const char* what;
    std::function<void(RecordStore&)> call;
    bool changes;
  };
  const std::vector<Step> steps = {
      {"insert", [&](RecordStore& s) { s.insert_record(k1, d1); }, true},
      {"insert_if_absent of a new key",
       [&](RecordStore& s) { EXPECT_TRUE(s.insert_if_absent(k2, d1)); }, true},
      {"insert_if_absent of a taken key",
       [&](RecordStore& s) {
         EXPECT_FALSE(s.insert_if_absent(k1, d2));
         EXPECT_TRUE(std::ranges::equal(s.find_exact(k1)->data, d1));
       },
       false},
      {"finds",
       [&](RecordStore& s) { s.find_exact(k1), s.find_first_after(k1), s.find_last_before(k2); },
       false},
      {"replace", [&](RecordStore& s) { s.replace_record(k1, d2); }, true},
      {"delete of a missing key", [&](RecordStore& s) { EXPECT_FALSE(s.delete_record(k3)); },
       false},
      {"delete", [&](RecordStore& s) { EXPECT_TRUE(s.delete_record(k2)); }, true},
      {"delete_prefix of nothing",
       [&](RecordStore& s) { EXPECT_EQ(s.delete_prefix(Bytes{'x'}), 0u); }, false},
      {"new number", [&](RecordStore& s) { s.new_number(); }, false},
      {"delete_prefix", [&](RecordStore& s) { EXPECT_EQ(s.delete_prefix(Bytes{'k'}), 1u); }, true},
  };
  MemoryStore memory;
  RecordStore* file = file_store();
  ASSERT_NE(file, nullptr);
  for (RecordStore* s : {static_cast<RecordStore*>(&memory), file}) {
    ASSERT_EQ(s->begin_access(StoreAccess::write, true), 0);
    for (const Step& step : steps) {
      const uint64_t before = s->change_count();
      step.call(*s);
      EXPECT_EQ(s->change_count() != before, step.changes)
          << step.what << (s == file ? " (file)" : " (memory)");
    }
    ASSERT_EQ(s->end_access(), 0);
  }

  // Dropped changes and the changes of another process move it; a flush and a reader do not.
  ASSERT_EQ(file->begin_access(StoreAccess::write, true), 0);
  file->insert_record(k3, d1);
  uint64_t seen = file->change_count();
  ASSERT_EQ(file->flush(), 0);
  EXPECT_EQ(file->change_count(), seen) << "flush";
  file->discard_changes();
  EXPECT_NE(file->change_count(), seen) << "discard";
  ASSERT_EQ(file->begin_access(StoreAccess::read, true), 0);
  seen = file->change_count();
  ASSERT_EQ(file->end_access(), 0);

  RecordFile* other = nullptr;
  ASSERT_EQ(open_record_file(other_process_name("S.TWL"), kReadWriteShared, "", other), 0);
  ASSERT_EQ(other->begin_access(AccessMode::read, true), 0);
  ASSERT_TRUE(other->find_exact(k3).has_value());
  ASSERT_EQ(other->end_access(), 0);
  ASSERT_EQ(file->begin_access(StoreAccess::read, true), 0);
  EXPECT_EQ(file->change_count(), seen) << "another process only read";
  ASSERT_EQ(file->end_access(), 0);

  ASSERT_EQ(other->begin_access(AccessMode::write, true), 0);
  other->replace_record(k3, d2);
  ASSERT_EQ(other->end_access(), 0);
  close_record_file(other);
  ASSERT_EQ(file->begin_access(StoreAccess::read, true), 0);
  EXPECT_NE(file->change_count(), seen) << "another process changed a record";
  EXPECT_TRUE(std::ranges::equal(file->find_exact(k3)->data, d2));
  ASSERT_EQ(file->end_access(), 0);
}

// Ascending inserts into the gap between two groups (a key build's pattern: each lands behind the
// one before it, in a leaf that still holds the records after the gap), then a second pass of
// insert_if_absent over every other key: all taken, nothing changes.
TEST_F(StoreCallsTest, AscendingInsertsIntoAGapKeepTheOrder) {
  RecordStore* file = file_store();
  ASSERT_NE(file, nullptr);
  MemoryStore memory;
  Model model = records_of_groups({{'a', 200, 30}, {'c', 200, 30}});
  const Model gap = records_of_groups({{'b', 5000, 12}});
  for (RecordStore* s : {static_cast<RecordStore*>(&memory), file}) {
    ASSERT_EQ(s->begin_access(StoreAccess::write, true), 0);
    for (const auto& [key, data] : model) s->insert_record(key, data);
    for (const auto& [key, data] : gap) s->insert_record(key, data);
    size_t taken = 0;
    for (const auto& [key, data] : gap) {
      if (key.back() % 2 == 0) taken += !s->insert_if_absent(key, Bytes{9});
    }
    EXPECT_EQ(taken, static_cast<size_t>(std::ranges::count_if(
                         gap, [](const auto& r) { return r.first.back() % 2 == 0; })));
    ASSERT_EQ(s->end_access(), 0);
  }
  model.insert(gap.begin(), gap.end());
  EXPECT_EQ(memory.size(), model.size());
  EXPECT_TRUE(same_records(reopened_records("S.TWL"), model));
}

}  // namespace
}  // namespace vtn::tarnwell
