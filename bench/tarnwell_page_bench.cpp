// Throughput of the record-file page codec and block cipher, in bytes of expanded page per second.
// A plain memcpy of the same bytes runs beside them as the physical limit.
//
// Two pages of about 14 KB: "text" holds records like a table's (numbered keys sharing their
// prefix, blank-padded text fields: compressible), "random" holds incompressible data.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "runtime/files/tarnwell/block_cipher.hpp"
#include "runtime/files/tarnwell/page_image.hpp"

namespace {

using PageContents = vtn::tarnwell::PackedPage;

PageContents make_page(bool text) {
  std::mt19937 random(42);
  PageContents page;
  for (int i = 0; i < 20; ++i) {
    std::vector<uint8_t> key = {
        0, 0, 0, 1, 0xF3, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    std::vector<uint8_t> data;
    for (int b = 0; b < 691; ++b) {
      uint8_t c = static_cast<uint8_t>(random());
      if (text) c = (b % 160) < 25 ? static_cast<uint8_t>('a' + random() % 26) : ' ';
      data.push_back(c);
    }
    page.records.insert(page.records.size(), key, data);
  }
  return page;
}

const PageContents& page_of(int64_t kind) {
  static const PageContents text = make_page(true);
  static const PageContents noise = make_page(false);
  return kind == 0 ? text : noise;
}

size_t expanded_size(const PageContents& page) {
  const std::vector<uint8_t> image = vtn::tarnwell::encode_page(0, page);
  return image[6] | (image[7] << 8);
}

void BM_PageEncode(benchmark::State& state) {
  const PageContents& page = page_of(state.range(0));
  for (auto _ : state) {
    std::vector<uint8_t> image = vtn::tarnwell::encode_page(0, page);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expanded_size(page)));
  state.SetLabel(state.range(0) == 0 ? "text" : "random");
}

void BM_PageDecode(benchmark::State& state) {
  const PageContents& page = page_of(state.range(0));
  const std::vector<uint8_t> image = vtn::tarnwell::encode_page(0, page);
  const int units = static_cast<int>(image.size() / vtn::tarnwell::kUnitSize);
  for (auto _ : state) {
    PageContents decoded;
    vtn::tarnwell::decode_page(image, units, decoded);
    benchmark::DoNotOptimize(decoded.records.key(0).data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expanded_size(page)));
  state.counters["stored_bytes"] = static_cast<double>(image.size());
  state.SetLabel(state.range(0) == 0 ? "text" : "random");
}

void BM_Memcpy(benchmark::State& state) {
  const size_t size = expanded_size(page_of(0));
  std::vector<uint8_t> from(size, 1), to(size);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

template <bool kEncipher>
void BM_Cipher(benchmark::State& state) {
  const auto cipher = vtn::tarnwell::BlockCipher::from_password("owner password");
  std::vector<uint8_t> data(vtn::tarnwell::kMaxPageImage, 0x5A);
  for (auto _ : state) {
    if (kEncipher) {
      cipher.encipher(data);
    } else {
      cipher.decipher(data);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

}  // namespace

BENCHMARK(BM_PageEncode)->Arg(0)->Arg(1);
BENCHMARK(BM_PageDecode)->Arg(0)->Arg(1);
BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Cipher<true>)->Name("BM_Encipher");
BENCHMARK(BM_Cipher<false>)->Name("BM_Decipher");
