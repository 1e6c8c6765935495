// Inserts in ascending key order, two key orders in turn (as a record and its key entry are
// added), land behind the last insert of their order without a descent, also across the splits
// of their leaves. Every change that may move, empty or renumber those leaves, or make the pages
// in memory stale, comes between them here: the records and the checker's verdict must stay
// those of a model.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

// Key orders "A" and "B"; within one, the keys ascend with n.
Bytes ordered_key(char order, uint32_t n) {
  Bytes k = key_of(n);
  k.insert(k.begin(), static_cast<uint8_t>(order));
  return k;
}

// Sizes that split leaves at varying record counts, now and then a record large enough to split
// a leaf of a few records.
size_t size_of(uint32_t n) {
  return n % 53 == 0 ? 3000 : 20 + (n * 37) % 400;
}

class InsertFingersTest : public StoreTest {
 protected:
  struct Run {
    RecordFile* file;
    Model& model;      // what the file holds, changes in memory included
    Model& committed;  // what it holds on disk
    uint32_t n;        // the last n inserted in both orders
    int segment;
    std::string other_name;  // the file's name as another process opens it
  };
};

TEST_F(InsertFingersTest, AscendingInsertsAgreeWithTheModelAcrossEveryInterruption) {
  struct Interruption {
    const char* what;
    bool in_transaction;  // the segment's changes stay in memory until the interruption
    std::function<void(Run&)> apply;
  };
  const Interruption interruptions[] = {
      {"none (splits only)", false, [](Run&) {}},
      {"the last record inserted erased", false,
       [](Run& r) {
         ASSERT_TRUE(r.file->delete_record(ordered_key('A', r.n)));
         r.model.erase(ordered_key('A', r.n));
       }},
      {"a record before it erased", false,
       [](Run& r) {
         ASSERT_TRUE(r.file->delete_record(ordered_key('B', r.n - 3)));
         r.model.erase(ordered_key('B', r.n - 3));
       }},
      {"a record inserted before it (the slots behind move)", false,
       [](Run& r) {
         Bytes k = ordered_key('A', r.n - 1);
         k.push_back(0);
         r.model[k] = data_of(90, r.n);
         r.file->insert_record(k, r.model[k]);
       }},
      {"records inserted around its end in random order", false,
       [](Run& r) {
         std::mt19937 rng(r.n);
         for (int i = 0; i < 80; ++i) {
           const char order = rng() % 2 ? 'A' : 'B';
           Bytes k = ordered_key(order, r.n - 3 + rng() % 6);
           k.push_back(static_cast<uint8_t>(rng()));
           if (rng() % 2) k.push_back(static_cast<uint8_t>(rng()));
           if (r.model.contains(k)) continue;
           r.model[k] = data_of(20 + rng() % 600, i);
           r.file->insert_record(k, r.model[k]);
         }
       }},
      {"the last record replaced by a longer one", false,
       [](Run& r) {
         const Bytes k = ordered_key('B', r.n);
         r.model[k] = data_of(2500, r.n + 1);
         ASSERT_TRUE(r.file->replace_record(k, r.model[k]));
       }},
      {"a flush inside the access (pages placed and renumbered)", false,
       [](Run& r) { ASSERT_EQ(r.file->flush(), 0); }},
      {"ROLLBACK (changes in memory dropped)", true,
       [](Run& r) {
         if (r.segment % 2 == 0) return;  // a committed segment
         r.file->discard_changes();
         r.file->set_in_transaction(false);
         r.model = r.committed;
       }},
      {"another process's flush in between", false,
       [](Run& r) {
         ASSERT_EQ(r.file->end_access(), 0);
         RecordFile* other = nullptr;
         ASSERT_EQ(open_record_file(r.other_name, kReadWriteShared, "", other), 0);
         ASSERT_EQ(other->begin_access(AccessMode::write, true), 0);
         // Right behind this process's last inserts, where its next ones go, and before them.
         for (const char order : {'A', 'B'}) {
           for (const uint32_t at : {r.n, r.n - 2}) {
             Bytes k = ordered_key(order, at);
             k.push_back(0x7F);
             r.model[k] = data_of(300, at);
             other->insert_record(k, r.model[k]);
           }
         }
         ASSERT_EQ(other->end_access(), 0);
         close_record_file(other);
         r.committed = r.model;
         ASSERT_EQ(r.file->begin_access(AccessMode::write, true), 0);
       }},
  };
  int file_number = 0;
  for (const Interruption& interruption : interruptions) {
    SCOPED_TRACE(interruption.what);
    const std::string name = "F" + std::to_string(file_number++) + ".TWL";
    RecordFile* f = open(kReadWriteShared, name.c_str());
    ASSERT_NE(f, nullptr);
    Model model, committed;
    Run run{f, model, committed, 0, 0, other_process_name(name.c_str())};
    for (int segment = 0; segment < 12; ++segment) {
      run.segment = segment;
      ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
      if (interruption.in_transaction && segment % 2 == 1) f->set_in_transaction(true);
      for (int i = 0; i < 150; ++i) {
        ++run.n;
        for (const char order : {'A', 'B'}) {
          const Bytes k = ordered_key(order, run.n);
          model[k] = data_of(size_of(run.n + order), run.n);
          f->insert_record(k, model[k]);
        }
      }
      ASSERT_NO_FATAL_FAILURE(interruption.apply(run));
      if (!f->in_access()) {
        ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
      }
      ASSERT_TRUE(same_records(records_of(*f), model)) << "segment " << segment;
      f->set_in_transaction(false);  // a transaction not rolled back is committed
      ASSERT_EQ(f->end_access(), 0);
      committed = model;
    }
    EXPECT_TRUE(same_records(reopened_records(name.c_str()), model));
    close(f);
  }
}

}  // namespace
}  // namespace vtn::tarnwell
