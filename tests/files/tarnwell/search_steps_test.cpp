// Steps from the leaf of a search's last answer: reading on, reading back, reading again and
// reading the next record number are answered in the remembered leaf by its address, and past its
// end from its parent, without a lookup. Several readers walk a file in both directions while
// records come and go around them (in this process and in another one), leaves split and empty,
// and the page cache lets pages go all the time: every answer must be the model's.
//
// The program runs without a reserve of decoded pages, so that every page the cache lets go is
// destroyed: an address kept past that would be read after it was freed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <random>

#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

const bool g_no_reserve = (setenv("VTN_TWL_RESERVE_MB", "0", 1), true);

std::optional<Bytes> key_or_none(const std::optional<StoredRecord>& r) {
  if (!r) return std::nullopt;
  return Bytes(r->key().begin(), r->key().end());
}

uint32_t number_of(const Bytes& key) {
  return uint32_t{key[0]} << 24 | uint32_t{key[1]} << 16 | uint32_t{key[2]} << 8 | key[3];
}

struct Config {
  const char* what;
  uint32_t records;           // keys 0, 4, 8, ...: room for inserts on both sides
  size_t min_data, max_data;  // data lengths: many records per leaf, or a few
  int readers;                // walking at once, each from its own place
  int steps;                  // reader steps in all
  int change_every;           // a change after this many steps on average (0: none)
  int other_process_every;    // of the changes, one in this many by another process (0: none)
};

class SearchStepsTest : public StoreTest, public ::testing::WithParamInterface<Config> {};

TEST_P(SearchStepsTest, ReadersWalkingThroughChangesAgreeWithTheModel) {
  ASSERT_TRUE(g_no_reserve);
  const Config& c = GetParam();
  std::mt19937 rng(17);
  auto length = [&] { return c.min_data + rng() % (c.max_data - c.min_data + 1); };

  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  RecordFile* other = nullptr;
  ASSERT_EQ(open_record_file(other_process_name(), kReadWriteShared, "", other), 0);
  open_.push_back(other);

  Model m;
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (uint32_t n = 0; n < c.records; ++n) {
    m[key_of(4 * n)] = data_of(length(), n);
    f->insert_record(key_of(4 * n), m[key_of(4 * n)]);
  }
  ASSERT_EQ(f->end_access(), 0);

  // Each reader stands on a record (a key the model holds, or held when it got there).
  std::vector<Bytes> at;
  for (int r = 0; r < c.readers; ++r) at.push_back(key_of(4 * (c.records * r / c.readers)));

  auto change = [&](RecordFile& w, uint32_t near) {
    const uint32_t n = near + rng() % 9 - (near >= 4 ? 4 : 0);
    const Bytes key = key_of(n);
    switch (rng() % 4) {
      case 0:  // a record comes or goes next to a reader (or the reader's own)
      case 1:
        if (m.contains(key)) {
          EXPECT_TRUE(w.delete_record(key));
          m.erase(key);
        } else {
          m[key] = data_of(length(), n);
          w.insert_record(key, m[key]);
        }
        break;
      case 2:  // a record grows or shrinks: the leaf may split
        if (m.contains(key)) {
          m[key] = data_of(rng() % 2 ? 3000 : 10, n + 1);
          EXPECT_TRUE(w.replace_record(key, m[key]));
        }
        break;
      default:  // a run of records goes: leaves may empty and leave the tree
        for (uint32_t k = n; k < n + 40; ++k) {
          if (m.erase(key_of(k)) != 0) {
            EXPECT_TRUE(w.delete_record(key_of(k)));
          }
        }
        break;
    }
  };

  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (int step = 0; step < c.steps; ++step) {
    const int r = static_cast<int>(rng() % c.readers);
    Bytes& pos = at[r];
    SCOPED_TRACE(::testing::Message()
                 << "step " << step << ", reader " << r << " at " << number_of(pos));
    switch (rng() % 6) {
      case 0:
      case 1: {  // NEXT
        const auto it = m.upper_bound(pos);
        const auto got = key_or_none(f->find_first_after(pos));
        ASSERT_EQ(got, it == m.end() ? std::nullopt : std::optional<Bytes>(it->first)) << "after";
        pos = got ? *got : key_of(0);  // at the end, start again
        break;
      }
      case 2: {  // PREVIOUS
        const auto it = m.lower_bound(pos);
        const auto got = key_or_none(f->find_last_before(pos));
        ASSERT_EQ(got, it == m.begin() ? std::nullopt : std::optional<Bytes>(std::prev(it)->first))
            << "before";
        if (got) pos = *got;
        break;
      }
      case 3:
      case 4: {  // the next record number, present or not (reading in record-number order)
        const Bytes key = key_of(number_of(pos) + 1 + rng() % 4);
        const auto got = f->find_exact(key);
        ASSERT_EQ(got.has_value(), m.contains(key)) << "exact " << number_of(key);
        if (got) {
          ASSERT_EQ(Bytes(got->data().begin(), got->data().end()), m[key]);
          pos = key;
        } else if (rng() % 8 == 0) {
          pos = key;  // a reader may also stand between records
        }
        break;
      }
      default: {  // the same record again
        const auto exact = f->find_exact(pos);
        ASSERT_EQ(exact.has_value(), m.contains(pos)) << "again";
        if (exact) {
          ASSERT_EQ(Bytes(exact->data().begin(), exact->data().end()), m[pos]);
        }
        const auto it = m.upper_bound(pos);
        ASSERT_EQ(key_or_none(f->find_at_or_before(pos)),
                  it == m.begin() ? std::nullopt : std::optional<Bytes>(std::prev(it)->first))
            << "at or before";
        break;
      }
    }
    if (c.change_every == 0 || rng() % c.change_every != 0) continue;
    const uint32_t near = number_of(at[rng() % c.readers]);
    if (c.other_process_every != 0 && rng() % c.other_process_every == 0) {
      ASSERT_EQ(f->end_access(), 0);
      ASSERT_EQ(other->begin_access(AccessMode::write, true), 0);
      change(*other, near);
      ASSERT_EQ(other->end_access(), 0);
      ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
    } else {
      change(*f, near);
      if (rng() % 16 == 0) {
        ASSERT_EQ(f->flush(), 0);
      }
    }
  }
  ASSERT_EQ(f->end_access(), 0);

  EXPECT_TRUE(same_records(reopened_records(), m));
}

INSTANTIATE_TEST_SUITE_P(
    Walks, SearchStepsTest,
    ::testing::Values(
        // Two readers a step each in turn, as a scan by key reads its entries and its records.
        Config{"two scans, nothing changes", 6000, 150, 190, 2, 40000, 0, 0},
        Config{"small records, changes here", 4000, 10, 60, 3, 30000, 20, 0},
        Config{"large records, a few per leaf", 800, 600, 1400, 3, 20000, 25, 0},
        Config{"changes by another process", 1500, 100, 300, 3, 8000, 30, 3}),
    [](const ::testing::TestParamInfo<Config>& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace vtn::tarnwell
