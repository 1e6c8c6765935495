// Searches answered from the leaves where earlier searches ended: every kind of search, for every
// stored key and for keys between them (so at and next to the first and last key of every leaf),
// in orders that make the remembered leaves serve most of them, must give what a model gives;
// and a change anywhere must retire the remembered leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <random>

#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

std::optional<Bytes> key_or_none(const std::optional<StoredRecord>& r) {
  if (!r) return std::nullopt;
  return Bytes(r->key().begin(), r->key().end());
}

// The four searches, each against the model. Returns false at the first difference.
::testing::AssertionResult all_searches_agree(RecordFile& f, const Model& m, const Bytes& probe) {
  auto describe = [&](const char* what) {
    return ::testing::AssertionFailure() << what << " of a probe of " << probe.size() << " bytes "
                                         << "starting " << int(probe[2]) << "," << int(probe[3]);
  };
  const auto after = m.upper_bound(probe);
  const auto at_or_after_model = m.lower_bound(probe);
  if (key_or_none(f.find_first_after(probe)) !=
      (after == m.end() ? std::nullopt : std::optional<Bytes>(after->first)))
    return describe("find_first_after");
  if (key_or_none(f.find_at_or_before(probe)) !=
      (after == m.begin() ? std::nullopt : std::optional<Bytes>(std::prev(after)->first)))
    return describe("find_at_or_before");
  if (key_or_none(f.find_last_before(probe)) !=
      (at_or_after_model == m.begin() ? std::nullopt
                                      : std::optional<Bytes>(std::prev(at_or_after_model)->first)))
    return describe("find_last_before");
  const auto exact = f.find_exact(probe);
  const auto it = m.find(probe);
  if (exact.has_value() != (it != m.end())) return describe("find_exact");
  if (exact && Bytes(exact->data().begin(), exact->data().end()) != it->second)
    return describe("find_exact data");
  return ::testing::AssertionSuccess();
}

class SearchFingersTest : public StoreTest {};

TEST_F(SearchFingersTest, EverySearchAgreesWithTheModelInEveryOrder) {
  RecordFile* f = open();
  ASSERT_NE(f, nullptr);
  Model m;
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (uint32_t n = 0; n < 6000; n += 2) {  // odd numbers stay free: probes between records
    m[key_of(n)] = data_of(40 + n % 200, n);
    f->insert_record(key_of(n), m[key_of(n)]);
  }
  ASSERT_EQ(f->end_access(), 0);
  ASSERT_EQ(f->begin_access(AccessMode::read, true), 0);

  std::vector<Bytes> probes;
  for (uint32_t n = 0; n <= 6001; ++n) {
    probes.push_back(key_of(n));
    probes.push_back(key_of(n, 1));  // just after key n, before n + 1
  }
  probes.push_back({});
  probes.push_back(Bytes(8, 0xFF));
  struct Order {
    const char* what;
    std::function<void(std::vector<Bytes>&)> arrange;
  };
  const Order orders[] = {
      {"ascending", [](std::vector<Bytes>&) {}},
      {"descending", [](std::vector<Bytes>& p) { std::reverse(p.begin(), p.end()); }},
      {"two interleaved walks",
       [](std::vector<Bytes>& p) {
         std::vector<Bytes> out;
         for (size_t i = 0, j = p.size() / 2; j < p.size(); ++i, ++j) {
           out.push_back(p[i]);
           out.push_back(p[j]);
         }
         p = std::move(out);
       }},
      {"random", [](std::vector<Bytes>& p) { std::shuffle(p.begin(), p.end(), std::mt19937(5)); }},
  };
  for (const Order& order : orders) {
    std::vector<Bytes> arranged = probes;
    order.arrange(arranged);
    for (const Bytes& probe : arranged) {
      ASSERT_TRUE(all_searches_agree(*f, m, probe)) << order.what;
    }
  }
  f->end_access();

  // Changes between searches of the same leaves: records come and go at the ends of leaves.
  std::mt19937 rng(9);
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (int round = 0; round < 3000; ++round) {
    const uint32_t n = rng() % 6002;
    const Bytes key = key_of(n);
    ASSERT_TRUE(all_searches_agree(*f, m, key_of(n, 1)));
    if (m.contains(key)) {
      EXPECT_TRUE(f->delete_record(key));
      m.erase(key);
    } else {
      m[key] = data_of(30 + n % 300, n + round);
      f->insert_record(key, m[key]);
    }
    ASSERT_TRUE(all_searches_agree(*f, m, key)) << "round " << round;
    if (round % 500 == 0) {
      ASSERT_EQ(f->flush(), 0);
    }
  }
  ASSERT_EQ(f->end_access(), 0);
}

}  // namespace
}  // namespace vtn::tarnwell
