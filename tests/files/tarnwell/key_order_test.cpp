// The short form of a key by which the search fingers compare their bounds (KeyOrder): for keys of
// every length around 8 and 16 bytes, with zero bytes where the padding of the short form lies, it
// must order every pair exactly as the record order does.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/files/tarnwell/page_store.hpp"

namespace vtn::tarnwell {
namespace {

TEST(KeyOrderTest, OrdersEveryPairAsTheRecordOrder) {
  std::mt19937 rng(9);
  std::vector<std::vector<uint8_t>> keys = {
      {}, {0}, {0, 0}, std::vector<uint8_t>(16, 0), std::vector<uint8_t>(17, 0)};
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> k(rng() % 24);
    for (uint8_t& c : k) c = static_cast<uint8_t>(rng() % 5 == 0 ? 0xFF : rng() % 3);
    keys.push_back(k);
    if (!k.empty()) {  // its neighbours: one byte longer (a zero, as the padding), one shorter
      k.push_back(0);
      keys.push_back(k);
      k.resize(k.size() - 2 > k.size() ? 0 : k.size() - 2);
      keys.push_back(k);
    }
  }
  auto sign = [](int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; };
  for (const auto& a : keys) {
    const KeyOrder ao = key_order(a);
    for (const auto& b : keys) {
      ASSERT_EQ(sign(compare_key_orders(ao, a, key_order(b), b)), sign(compare_keys(a, b)))
          << a.size() << " and " << b.size() << " bytes";
    }
  }
}

}  // namespace
}  // namespace vtn::tarnwell
