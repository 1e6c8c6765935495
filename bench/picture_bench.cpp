// FORMAT and DEFORMAT per call, through the language's functions (compile, show, push and pop
// the result) and through an already compiled picture.
#include <benchmark/benchmark.h>

#include "runtime/format/picture.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/string_stack.hpp"

namespace {

struct Case {
  const char* picture;
  double value;
  const char* text;
};

// -1234.5; 5 January 2024; 13:05:09.
constexpr Case kCases[] = {
    {"@N-12.2", -1234.5, "   -1,234.50"},
    {"@D6", 81762, " 5/01/2024"},
    {"@T4", 4710901, "13:05:09"},
};

void BM_FORMAT(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.picture);
  for (auto _ : state) {
    vtn::FORMAT(c.value, c.picture);
    benchmark::DoNotOptimize(vtn::string_stack().pop_string());
  }
}

void BM_DEFORMAT(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.picture);
  for (auto _ : state) {
    vtn::DEFORMAT(c.text, c.picture);
    benchmark::DoNotOptimize(vtn::string_stack().pop_string());
  }
}

void BM_FormatCompiled(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.picture);
  vtn::CompiledPicture p;
  vtn::compile_picture(c.picture, p);
  for (auto _ : state) benchmark::DoNotOptimize(vtn::format_real(c.value, p));
}

void BM_DeformatCompiled(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.picture);
  vtn::CompiledPicture p;
  vtn::compile_picture(c.picture, p);
  for (auto _ : state) benchmark::DoNotOptimize(vtn::deformat(c.text, p));
}

void BM_Compile(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.picture);
  vtn::CompiledPicture p;
  for (auto _ : state) {
    vtn::compile_picture(c.picture, p);
    benchmark::DoNotOptimize(p);
  }
}

BENCHMARK(BM_FORMAT)->DenseRange(0, 2);
BENCHMARK(BM_DEFORMAT)->DenseRange(0, 2);
BENCHMARK(BM_FormatCompiled)->DenseRange(0, 2);
BENCHMARK(BM_DeformatCompiled)->DenseRange(0, 2);
BENCHMARK(BM_Compile)->DenseRange(0, 2);

}  // namespace
