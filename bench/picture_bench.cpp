// FORMAT and DEFORMAT per call, through the language's functions (the picture given as text,
// the result pushed and popped) and through an already compiled picture. FORMAT of a REAL through
// @N-12.2 runs beside snprintf("%12.2f") of the same value (which does not group digits), the
// REAL's 14 significant digits beside std::to_chars writing the same digits, and DEFORMAT of
// "   -1,234.50" through @N-12.2 (to the text "-1234.5") beside strtod and std::from_chars reading
// the same number without its grouping ("   -1234.50" and "-1234.50"; they make a double, not a
// text).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/peer_ratio.hpp"
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

void BM_SnprintfFixed(benchmark::State& state) {
  char buffer[40];
  for (auto _ : state) {
    std::snprintf(buffer, sizeof buffer, "%12.2f", kCases[0].value);
    benchmark::DoNotOptimize(buffer);
  }
}

void BM_RealDigits(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vtn::real_to_number_digits(kCases[0].value));
}

void BM_ToCharsDigits(benchmark::State& state) {
  char buffer[40];
  for (auto _ : state) {
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, kCases[0].value,
                                 std::chars_format::scientific, 13);
    benchmark::DoNotOptimize(r.ptr);
  }
}

// The compiled @N-12.2 picture and its peers, named "<case>/<who>" for the table of ratios.
void BM_FormatNumberCompiled(benchmark::State& state) {
  vtn::CompiledPicture p;
  vtn::compile_picture(kCases[0].picture, p);
  for (auto _ : state) benchmark::DoNotOptimize(vtn::format_real(kCases[0].value, p));
}
void BM_DeformatNumberCompiled(benchmark::State& state) {
  vtn::CompiledPicture p;
  vtn::compile_picture(kCases[0].picture, p);
  for (auto _ : state) benchmark::DoNotOptimize(vtn::deformat(kCases[0].text, p));
}

void BM_Strtod(benchmark::State& state) {
  const std::string text = "   -1234.50";
  for (auto _ : state) benchmark::DoNotOptimize(std::strtod(text.c_str(), nullptr));
}

void BM_FromChars(benchmark::State& state) {
  const std::string text = "-1234.50";
  for (auto _ : state) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    benchmark::DoNotOptimize(value);
  }
}

BENCHMARK(BM_FormatNumberCompiled)->Name("format_compiled_N-12.2/ours");
BENCHMARK(BM_SnprintfFixed)->Name("format_compiled_N-12.2/snprintf");
BENCHMARK(BM_RealDigits)->Name("real_to_14_digits/ours");
BENCHMARK(BM_ToCharsDigits)->Name("real_to_14_digits/to_chars");
BENCHMARK(BM_DeformatNumberCompiled)->Name("deformat_compiled_N-12.2/ours");
BENCHMARK(BM_Strtod)->Name("deformat_compiled_N-12.2/strtod");
BENCHMARK(BM_FromChars)->Name("deformat_compiled_N-12.2/from_chars");

BENCHMARK(BM_FORMAT)->DenseRange(0, 2);
BENCHMARK(BM_DEFORMAT)->DenseRange(0, 2);
BENCHMARK(BM_FormatCompiled)->DenseRange(0, 2);
BENCHMARK(BM_DeformatCompiled)->DenseRange(0, 2);
BENCHMARK(BM_Compile)->DenseRange(0, 2);

}  // namespace

int main(int argc, char** argv) {
  return vtn_bench::run_with_ratios(argc, argv, {"ours"});
}
