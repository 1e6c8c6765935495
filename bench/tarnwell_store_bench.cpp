// The record-file page store on its own: inserting records in key order and in random order
// (with the flush that writes them), finding records by exact key in a cached file, and flushing
// 1 or 100 dirty pages, with the number of durable flushes each flush makes.
//
// Files live in a scratch directory under /tmp; every durable flush is a real fdatasync, so the
// flush figures depend on the disk.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/platform/fault_injection.hpp"

namespace {

using namespace vtn::tarnwell;
using Bytes = std::vector<uint8_t>;

std::string scratch_path(const char* name) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/vtn_store_bench_XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  return dir + "/" + name;
}

Bytes key_of(uint32_t n) {
  // A table number, the data-record kind and a record number, as the table layer builds keys.
  return {0, 0, 0, 1, 0xF3, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

Bytes record_data(uint32_t n) {
  Bytes d(100, ' ');
  const std::string text = "pack " + std::to_string(n) + " C:\\PACKS\\" + std::to_string(n * 7);
  std::copy(text.begin(), text.end(), d.begin());
  return d;
}

RecordFile* fresh_file(const char* name) {
  std::filesystem::remove(scratch_path(name));
  RecordFile* f = nullptr;
  if (open_record_file(scratch_path(name), 0x142, "", f) != 0) std::abort();
  return f;
}

std::vector<uint32_t> numbers(size_t n, bool shuffled) {
  std::vector<uint32_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = i + 1;
  if (shuffled) std::shuffle(v.begin(), v.end(), std::mt19937(3));
  return v;
}

void insert_all(benchmark::State& state, bool shuffled) {
  const std::vector<uint32_t> order = numbers(static_cast<size_t>(state.range(0)), shuffled);
  std::vector<Bytes> data;
  for (uint32_t n : order) data.push_back(record_data(n));
  for (auto _ : state) {
    state.PauseTiming();
    RecordFile* f = fresh_file("insert.TWL");
    state.ResumeTiming();
    f->begin_access(AccessMode::write, true);
    for (size_t i = 0; i < order.size(); ++i) f->insert_record(key_of(order[i]), data[i]);
    if (f->end_access() != 0) state.SkipWithError("flush failed");
    state.PauseTiming();
    close_record_file(f);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_InsertInKeyOrder(benchmark::State& state) {
  insert_all(state, false);
}
BENCHMARK(BM_InsertInKeyOrder)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_InsertInRandomOrder(benchmark::State& state) {
  insert_all(state, true);
}
BENCHMARK(BM_InsertInRandomOrder)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_FindExact(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  RecordFile* f = fresh_file("find.TWL");
  f->begin_access(AccessMode::write, true);
  for (uint32_t n : numbers(count, true)) f->insert_record(key_of(n), record_data(n));
  f->end_access();
  const std::vector<uint32_t> probes = numbers(count, true);
  std::vector<Bytes> keys;
  for (uint32_t n : probes) keys.push_back(key_of(n));
  f->begin_access(AccessMode::read, true);
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += f->find_exact(keys[i]).has_value();
    if (++i == keys.size()) i = 0;
  }
  f->end_access();
  close_record_file(f);
  if (found != static_cast<size_t>(state.iterations())) state.SkipWithError("a record is missing");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindExact)->Arg(1000)->Arg(20000);

// Changes records in `pages` different leaf pages (records 40 apart land in different pages),
// then flushes.
void BM_Flush(benchmark::State& state) {
  const uint32_t pages = static_cast<uint32_t>(state.range(0));
  const uint32_t count = 40 * 120;
  RecordFile* f = fresh_file("flush.TWL");
  f->begin_access(AccessMode::write, true);
  for (uint32_t n : numbers(count, false)) f->insert_record(key_of(n), record_data(n));
  f->end_access();
  auto dirty_pages = [&](uint32_t round) {
    for (uint32_t p = 0; p < pages; ++p) {
      const uint32_t n = 1 + p * 40;
      f->replace_record(key_of(n), record_data(n + round));
    }
  };
  // The durable flushes of one flush, counted once outside the timing.
  f->begin_access(AccessMode::write, true);
  dirty_pages(1);
  const size_t dirty = f->dirty_page_count();
  vtn::platform::fault::arm({});
  f->flush();
  const uint32_t durable = vtn::platform::fault::flushes_seen();
  const uint32_t writes = vtn::platform::fault::writes_seen();
  vtn::platform::fault::disarm();
  uint32_t round = 2;
  for (auto _ : state) {
    state.PauseTiming();
    dirty_pages(round++);
    state.ResumeTiming();
    if (f->flush() != 0) state.SkipWithError("flush failed");
  }
  f->end_access();
  close_record_file(f);
  state.counters["dirty_pages"] = static_cast<double>(dirty);
  state.counters["durable_flushes_per_flush"] = durable;
  state.counters["writes_per_flush"] = writes;
}
BENCHMARK(BM_Flush)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
