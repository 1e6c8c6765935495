// The packed records of a page against a plain model (one byte vector per record): inserts,
// erases, replacements and cuts in every mix, long enough that the buffer is compacted many times,
// must leave exactly the model's records; and a packed page must encode to the same image as the
// same page built record by record, and decode back to it.
#include "runtime/files/tarnwell/page_records.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "runtime/files/tarnwell/page_image.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(std::mt19937& rng, size_t length) {
  Bytes b(length);
  for (uint8_t& c : b) c = static_cast<uint8_t>(rng() % 7);  // runs: some pages compress
  return b;
}

::testing::AssertionResult same(const PageRecords& packed, const std::vector<Record>& model) {
  if (packed.size() != model.size())
    return ::testing::AssertionFailure() << packed.size() << " records, expected " << model.size();
  size_t live = 0;
  for (size_t i = 0; i < model.size(); ++i) {
    const RecordRef r = packed[i];
    if (r.key_length != model[i].key_length || !std::ranges::equal(r.bytes, model[i].bytes) ||
        !std::ranges::equal(packed.key(i), model[i].key()))
      return ::testing::AssertionFailure() << "record " << i << " differs";
    live += model[i].bytes.size();
  }
  if (packed.live_bytes() != live)
    return ::testing::AssertionFailure() << packed.live_bytes() << " live bytes, expected " << live;
  return ::testing::AssertionSuccess();
}

TEST(PageRecordsTest, EveryMixOfChangesKeepsTheModelsRecords) {
  struct Mix {
    const char* what;
    int insert, erase, replace, truncate, move;  // weights
    size_t max_length;
  };
  const Mix mixes[] = {
      {"inserts only", 1, 0, 0, 0, 0, 300},
      {"inserts and erases", 3, 2, 0, 0, 0, 300},
      {"mostly replacements (garbage grows, compactions)", 1, 0, 6, 0, 0, 2000},
      {"cuts after inserts (splits)", 6, 1, 1, 1, 0, 500},
      {"empty records and keys", 2, 1, 1, 0, 1, 3},
      // Tails moved to another page, which is then changed in turn: records in and out of the
      // buffer's order, all of them into an empty page, none of them.
      {"tails moved between two pages", 6, 1, 2, 0, 2, 300},
  };
  for (const Mix& mix : mixes) {
    SCOPED_TRACE(mix.what);
    std::mt19937 rng(11);
    PageRecords packed;
    std::vector<Record> model;
    PageRecords other;
    std::vector<Record> other_model;
    const int total = mix.insert + mix.erase + mix.replace + mix.truncate + mix.move;
    for (int step = 0; step < 4000; ++step) {
      int pick = static_cast<int>(rng() % static_cast<uint32_t>(total));
      const size_t length = rng() % (mix.max_length + 1);
      Record r;
      r.bytes = bytes_of(rng, length);
      r.key_length = static_cast<uint16_t>(length == 0 ? 0 : rng() % (length + 1));
      if ((pick -= mix.insert) < 0 || model.empty()) {
        const size_t at = rng() % (model.size() + 1);
        packed.insert(at, r.key(), r.data());
        model.insert(model.begin() + static_cast<ptrdiff_t>(at), r);
      } else if ((pick -= mix.erase) < 0) {
        const size_t at = rng() % model.size();
        packed.erase(at);
        model.erase(model.begin() + static_cast<ptrdiff_t>(at));
      } else if ((pick -= mix.replace) < 0) {
        const size_t at = rng() % model.size();
        packed.replace(at, r.key(), r.data());
        model[at] = r;
      } else if ((pick -= mix.truncate) < 0) {
        const size_t keep = rng() % (model.size() + 1);
        packed.truncate(keep);
        model.resize(keep);
      } else {
        if (rng() % 3 == 0) {
          other.clear();
          other_model.clear();
        }
        const size_t from = rng() % 4 == 0 ? 0 : rng() % (model.size() + 1);
        size_t bytes = 0;
        for (size_t i = from; i < model.size(); ++i) bytes += model[i].bytes.size();
        ASSERT_EQ(packed.move_tail_to(from, other), bytes);
        other_model.insert(other_model.end(), model.begin() + static_cast<ptrdiff_t>(from),
                           model.end());
        model.resize(from);
        ASSERT_TRUE(same(other, other_model)) << "step " << step;
        if (rng() % 2) {
          std::swap(packed, other);
          std::swap(model, other_model);
        }
      }
      if (model.size() > 200) {  // keep pages of a plausible size
        packed.truncate(100);
        model.resize(100);
      }
      ASSERT_TRUE(same(packed, model)) << "step " << step;
    }
  }
}

TEST(PageRecordsTest, PackedAndRecordByRecordPagesEncodeAlikeAndDecodeBack) {
  struct Case {
    const char* what;
    uint8_t level;
    size_t records, max_length;
  };
  const Case cases[] = {
      {"empty leaf", 0, 0, 0},
      {"leaf of short records", 0, 60, 40},
      {"leaf of long records (compressed)", 0, 8, 1500},
      {"index page", 2, 50, 12},
  };
  std::mt19937 rng(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PageContents plain;
    plain.level = c.level;
    PackedPage packed;
    packed.level = c.level;
    for (size_t i = 0; i < c.records; ++i) {
      Record r;
      r.bytes = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};  // ascending keys
      r.key_length = 2;
      const Bytes data = bytes_of(rng, rng() % (c.max_length + 1));
      r.bytes.insert(r.bytes.end(), data.begin(), data.end());
      plain.records.push_back(r);
      packed.records.append(RecordRef{r.bytes, r.key_length});
      if (c.level > 0) {
        plain.children.push_back(static_cast<int32_t>(100 + i));
        packed.children.push_back(static_cast<int32_t>(100 + i));
      }
    }
    EXPECT_EQ(page_capacity(packed), page_capacity(plain));
    const Bytes image = encode_page(7, packed);
    EXPECT_EQ(image, encode_page(7, plain));
    const int units = static_cast<int>(image.size() / kUnitSize);
    PackedPage decoded;
    decoded.records.insert(0, Bytes{9}, Bytes{9, 9});  // whatever was there goes
    decode_page(image, units, decoded);
    EXPECT_EQ(decoded, packed);
    EXPECT_EQ(decode_page(image, units), plain);
  }
}

// Searches by key against a sorted model, while the page's records come and go in the ways a page
// of the tree changes: inserts at either end and in the middle, erases, replacements, splits
// (tails moved to another page, which then fills in turn), cuts and fresh decodes. The key shapes
// are those that can fool a search by key heads: many keys with one long common prefix, keys that
// are prefixes of others, keys that differ only by trailing zero bytes, keys longer than prefix
// and head together, and keys that do not share the page's prefix at all.
TEST(PageRecordsTest, SearchesByKeyHeadsAgreeWithTheModel) {
  using KeyMaker = std::function<Bytes(std::mt19937&)>;
  struct Shape {
    const char* what;
    KeyMaker make;
    int at_end;  // of 10 inserts, how many are beyond the last key (appends)
  };
  auto numbered = [](uint8_t kind) {
    return [kind](std::mt19937& rng) {
      const uint32_t n = rng() % 5000;
      return Bytes{0,
                   0,
                   0,
                   7,
                   kind,
                   static_cast<uint8_t>(n >> 24),
                   static_cast<uint8_t>(n >> 16),
                   static_cast<uint8_t>(n >> 8),
                   static_cast<uint8_t>(n)};
    };
  };
  const Shape shapes[] = {
      {"record numbers behind a table prefix", numbered(0xF3), 0},
      {"record numbers appended in order", numbered(0xF3), 9},
      {"short keys, some prefixes of others",
       [](std::mt19937& rng) {
         Bytes k(rng() % 6);
         for (uint8_t& c : k) c = static_cast<uint8_t>(rng() % 3);
         return k;
       },
       2},
      {"long keys sharing more than prefix and head",
       [](std::mt19937& rng) {
         Bytes k(27, 'A');
         k.resize(27 + rng() % 4);
         for (size_t i = 26; i < k.size(); ++i) k[i] = static_cast<uint8_t>(rng() % 4);
         return k;
       },
       3},
      {"trailing zero bytes around the head's end",
       [](std::mt19937& rng) {
         Bytes k{1, 2, 3};
         const size_t n = rng() % 14;
         for (size_t i = 0; i < n; ++i) k.push_back(rng() % 4 == 0 ? 1 : 0);
         return k;
       },
       2},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    std::mt19937 rng(5);
    PageRecords page;
    std::set<Bytes> model;
    PageRecords other;
    std::set<Bytes> other_model;
    auto check = [&](const PageRecords& p, const std::set<Bytes>& m, int step) {
      std::vector<Bytes> keys(m.begin(), m.end());
      std::vector<Bytes> probes = keys;
      for (const Bytes& k : keys) {
        Bytes longer = k;
        longer.push_back(0);
        probes.push_back(longer);
        if (!k.empty()) {
          probes.emplace_back(k.begin(), k.end() - 1);
          Bytes bumped = k;
          bumped.back() = static_cast<uint8_t>(bumped.back() + 1);
          probes.push_back(bumped);
          bumped.back() = static_cast<uint8_t>(bumped.back() - 2);
          probes.push_back(bumped);
        }
      }
      for (int i = 0; i < 20; ++i) probes.push_back(shape.make(rng));
      probes.push_back({});
      probes.push_back(Bytes{0, 0, 0, 6});  // before a common prefix
      probes.push_back(Bytes(40, 0xFF));    // after everything
      for (const Bytes& probe : probes) {
        const size_t lower = std::lower_bound(keys.begin(), keys.end(), probe) - keys.begin();
        const size_t upper = std::upper_bound(keys.begin(), keys.end(), probe) - keys.begin();
        if (p.lower_bound(probe) != lower || p.upper_bound(probe) != upper) {
          return ::testing::AssertionFailure()
                 << "step " << step << ": probe of " << probe.size() << " bytes: lower "
                 << p.lower_bound(probe) << " (expected " << lower << "), upper "
                 << p.upper_bound(probe) << " (expected " << upper << ") of " << keys.size();
        }
      }
      return ::testing::AssertionSuccess();
    };
    auto position = [](const std::set<Bytes>& m, const Bytes& k) {
      return static_cast<size_t>(std::distance(m.begin(), m.lower_bound(k)));
    };
    for (int step = 0; step < 600; ++step) {
      const int pick = static_cast<int>(rng() % 20);
      if (pick < 10 || model.empty()) {  // insert a key not there yet
        Bytes k = shape.make(rng);
        if (static_cast<int>(rng() % 10) < shape.at_end && !model.empty()) {
          k = *model.rbegin();
          k.push_back(static_cast<uint8_t>(rng() % 3));
        }
        if (model.contains(k)) continue;
        page.insert(position(model, k), k, Bytes(rng() % 20, 0x33));
        model.insert(k);
      } else if (pick < 13) {  // erase one
        const size_t at = rng() % model.size();
        page.erase(at);
        model.erase(std::next(model.begin(), static_cast<ptrdiff_t>(at)));
      } else if (pick < 15) {  // replace one (same key, other data)
        const size_t at = rng() % model.size();
        const Bytes k = *std::next(model.begin(), static_cast<ptrdiff_t>(at));
        page.replace(at, k, Bytes(rng() % 40, 0x44));
      } else if (pick < 17) {  // split: the tail moves to a page after `other`'s records
        if (!other_model.empty() && *other_model.rbegin() >= *model.begin()) {
          other.clear();
          other_model.clear();
        }
        const size_t from = rng() % (model.size() + 1);
        page.move_tail_to(from, other);
        auto cut = std::next(model.begin(), static_cast<ptrdiff_t>(from));
        other_model.insert(cut, model.end());
        model.erase(cut, model.end());
        ASSERT_TRUE(check(other, other_model, step));
        if (rng() % 2) {
          std::swap(page, other);
          std::swap(model, other_model);
        }
      } else if (pick < 18) {  // cut
        const size_t keep = rng() % (model.size() + 1);
        page.truncate(keep);
        model.erase(std::next(model.begin(), static_cast<ptrdiff_t>(keep)), model.end());
      } else {  // decoded afresh, as a page read from the file: bytes first, heads later
        PageRecords fresh;
        fresh.insert(0, Bytes{9, 9}, Bytes{});  // whatever was there goes
        fresh.clear();
        for (size_t i = 0; i < page.size(); ++i) {
          const RecordRef r = page[i];
          std::memcpy(fresh.append_uninitialised(static_cast<uint16_t>(r.bytes.size()),
                                                 static_cast<uint16_t>(r.key_length)),
                      r.bytes.data(), r.bytes.size());
        }
        if (rng() % 2) {  // changed before it was ever searched
          Bytes k = shape.make(rng);
          if (!model.contains(k)) {
            fresh.insert(position(model, k), k, Bytes{});
            model.insert(k);
          }
        }
        page = std::move(fresh);
      }
      if (model.size() > 150) {
        page.truncate(75);
        model.erase(std::next(model.begin(), 75), model.end());
      }
      ASSERT_TRUE(check(page, model, step));
    }
  }
}

}  // namespace
}  // namespace vtn::tarnwell
