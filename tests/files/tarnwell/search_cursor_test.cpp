// Reading on from the last answer: a search from exactly the key of the record a search just
// answered (NEXT, PREVIOUS, reading that record again) is answered from the remembered slot. The
// remembered slot must never outlive a change: each case positions a reader in the middle of a
// leaf, changes the file around that position (this process or another one), and reads on in
// both directions, comparing every answer with a model.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <optional>

#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

constexpr uint32_t kRecords = 3000;  // keys 0, 3, 6, ...: room on both sides of every record

std::optional<Bytes> key_or_none(const std::optional<StoredRecord>& r) {
  if (!r) return std::nullopt;
  return Bytes(r->key().begin(), r->key().end());
}

std::optional<Bytes> model_after(const Model& m, const Bytes& key) {
  const auto it = m.upper_bound(key);
  return it == m.end() ? std::nullopt : std::optional<Bytes>(it->first);
}

std::optional<Bytes> model_before(const Model& m, const Bytes& key) {
  const auto it = m.lower_bound(key);
  return it == m.begin() ? std::nullopt : std::optional<Bytes>(std::prev(it)->first);
}

class SearchCursorTest : public StoreTest {
 protected:
  Model fill(RecordFile& f) {
    Model m;
    EXPECT_EQ(f.begin_access(AccessMode::write, true), 0);
    for (uint32_t n = 0; n < kRecords; ++n) {
      m[key_of(3 * n)] = data_of(100 + n % 60, n);
      f.insert_record(key_of(3 * n), m[key_of(3 * n)]);
    }
    EXPECT_EQ(f.end_access(), 0);
    return m;
  }
};

// What a change does to the file and to the model; `at` is the key the reader stands on.
struct Change {
  const char* what;
  bool other_process;
  std::function<void(RecordFile&, Model&, uint32_t at)> apply;
};

void insert(RecordFile& f, Model& m, const Bytes& key, size_t length) {
  m[key] = data_of(length, static_cast<uint32_t>(key.back()) + 17);
  f.insert_record(key, m[key]);
}

void erase(RecordFile& f, Model& m, const Bytes& key) {
  if (!m.contains(key)) return;
  EXPECT_TRUE(f.delete_record(key));
  m.erase(key);
}

TEST_F(SearchCursorTest, PositionChangeAndReadOnAgreeWithTheModel) {
  const Change changes[] = {
      {"nothing changes", false, [](RecordFile&, Model&, uint32_t) {}},
      {"a record comes right after the position", false,
       [](RecordFile& f, Model& m, uint32_t at) { insert(f, m, key_of(at + 1), 50); }},
      {"a record comes right before the position", false,
       [](RecordFile& f, Model& m, uint32_t at) { insert(f, m, key_of(at - 1), 50); }},
      {"the record at the position goes", false,
       [](RecordFile& f, Model& m, uint32_t at) { erase(f, m, key_of(at)); }},
      {"the records on both sides go", false,
       [](RecordFile& f, Model& m, uint32_t at) {
         erase(f, m, key_of(at - 3));
         erase(f, m, key_of(at + 3));
       }},
      {"the leaf splits under the position", false,
       [](RecordFile& f, Model& m, uint32_t at) {
         for (uint32_t k = 1; k <= 2; ++k) insert(f, m, key_of(at + k), 3000);
       }},
      {"the record at the position grows", false,
       [](RecordFile& f, Model& m, uint32_t at) {
         m[key_of(at)] = data_of(2500, at);
         EXPECT_TRUE(f.replace_record(key_of(at), m[key_of(at)]));
       }},
      {"another process adds after the position", true,
       [](RecordFile& f, Model& m, uint32_t at) { insert(f, m, key_of(at + 1), 50); }},
      {"another process removes the position's neighbours", true,
       [](RecordFile& f, Model& m, uint32_t at) {
         erase(f, m, key_of(at - 3));
         erase(f, m, key_of(at + 3));
         erase(f, m, key_of(at + 6));
       }},
      {"another process splits the leaf", true,
       [](RecordFile& f, Model& m, uint32_t at) {
         for (uint32_t k = 1; k <= 2; ++k) insert(f, m, key_of(at + k), 3000);
       }},
  };
  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  Model m = fill(*f);
  RecordFile* other = nullptr;
  ASSERT_EQ(open_record_file(other_process_name(), kReadWriteShared, "", other), 0);
  open_.push_back(other);

  uint32_t at = 300;  // a new place for every case, away from the changes of the cases before
  for (const Change& c : changes) {
    at += 600;
    SCOPED_TRACE(c.what);
    // Position: read up to `at` the way NEXT does, each search from the key of the answer before.
    ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
    Bytes position = key_of(at - 30);
    for (int i = 0; i < 10; ++i) {
      const auto next = key_or_none(f->find_first_after(position));
      ASSERT_EQ(next, model_after(m, position));
      position = *next;
    }
    ASSERT_EQ(position, key_of(at));
    ASSERT_EQ(f->end_access(), 0);

    RecordFile& changer = c.other_process ? *other : *f;
    ASSERT_EQ(changer.begin_access(AccessMode::write, true), 0);
    c.apply(changer, m, at);
    ASSERT_EQ(changer.end_access(), 0);

    // Read on forwards, then backwards from the same position, then the position itself.
    ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
    Bytes forward = position;
    for (int i = 0; i < 8; ++i) {
      const auto next = key_or_none(f->find_first_after(forward));
      ASSERT_EQ(next, model_after(m, forward)) << "forward step " << i;
      forward = *next;
    }
    Bytes backward = position;
    for (int i = 0; i < 8; ++i) {
      const auto previous = key_or_none(f->find_last_before(backward));
      ASSERT_EQ(previous, model_before(m, backward)) << "backward step " << i;
      backward = *previous;
    }
    const auto again = f->find_exact(position);
    ASSERT_EQ(again.has_value(), m.contains(position));
    if (again) {
      EXPECT_EQ(Bytes(again->data().begin(), again->data().end()), m[position]);
    }
    // After the change, the walk forward and back again must land on the same records.
    for (int i = 0; i < 8; ++i) {
      const auto next = key_or_none(f->find_first_after(backward));
      ASSERT_EQ(next, model_after(m, backward)) << "walk back up, step " << i;
      backward = *next;
    }
    ASSERT_EQ(f->end_access(), 0);
  }
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);
  EXPECT_TRUE(same_records(records_of(*f), m));
  f->end_access();
}

}  // namespace
}  // namespace vtn::tarnwell
