// FORMAT and DEFORMAT per call, through the language's functions (the picture given as text,
// the result pushed and popped) and through an already compiled picture. FORMAT of a REAL through
// @N-12.2 runs beside snprintf("%12.2f") of the same value (which does not group digits), the
// REAL's 14 significant digits beside std::to_chars writing the same digits, and DEFORMAT of
// "   -1,234.50" through @N-12.2 (to the text "-01234.50") beside strtod and std::from_chars
// reading the same number without its grouping ("   -1234.50" and "-1234.50"; they make a double,
// not a text). DEFORMAT through the wider @N-20.2 reads more than sixteen cells. The REAL's digits
// and its text (what FORMAT shows through @S) also run over REALs of every magnitude, subnormals
// included, beside std::to_chars making the same digits and the same text.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/peer_ratio.hpp"
#include "runtime/format/picture.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/conversions.hpp"
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

// -1234567.5 through @N-20.2, and the same number for the peer.
constexpr const char* kWidePicture = "@N-20.2";
constexpr const char* kWideText = "       -1,234,567.50";

void BM_DeformatWideCompiled(benchmark::State& state) {
  vtn::CompiledPicture p;
  vtn::compile_picture(kWidePicture, p);
  for (auto _ : state) benchmark::DoNotOptimize(vtn::deformat(kWideText, p));
}

void BM_FromCharsWide(benchmark::State& state) {
  const std::string text = "-1234567.50";
  for (auto _ : state) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    benchmark::DoNotOptimize(value);
  }
}

// 256 REALs spread evenly over every exponent a double has (one in sixteen subnormal) with random
// digits, and half of them negative.
const std::vector<double>& any_magnitude() {
  static const std::vector<double> values = [] {
    std::mt19937_64 random(1618033);
    std::vector<double> v;
    for (int i = 0; i < 256; ++i) {
      const int exponent = i % 16 == 0 ? -1074 + static_cast<int>(random() % 52)
                                       : -1021 + static_cast<int>(random() % 2045);
      const double mantissa = 1.0 + static_cast<double>(random() >> 12) * 0x1p-52;
      v.push_back(std::ldexp(mantissa, exponent) * (i % 2 == 0 ? 1 : -1));
    }
    return v;
  }();
  return values;
}

template <typename Convert>
void over_any_magnitude(benchmark::State& state, Convert convert) {
  const std::vector<double>& values = any_magnitude();
  size_t i = 0;
  for (auto _ : state) {
    convert(values[i]);
    i = (i + 1) % values.size();
  }
}

void BM_RealDigitsAnyMagnitude(benchmark::State& state) {
  over_any_magnitude(state,
                     [](double v) { benchmark::DoNotOptimize(vtn::real_to_number_digits(v)); });
}

void BM_ToCharsDigitsAnyMagnitude(benchmark::State& state) {
  over_any_magnitude(state, [](double v) {
    char buffer[40];
    const auto r =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific, 13);
    benchmark::DoNotOptimize(r.ptr);
  });
}

void BM_RealTextAnyMagnitude(benchmark::State& state) {
  over_any_magnitude(state, [](double v) { benchmark::DoNotOptimize(vtn::real_to_text(v)); });
}

void BM_ToCharsTextAnyMagnitude(benchmark::State& state) {
  over_any_magnitude(state, [](double v) {
    char buffer[40];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 14);
    benchmark::DoNotOptimize(std::string(buffer, r.ptr));
  });
}

BENCHMARK(BM_FormatNumberCompiled)->Name("format_compiled_N-12.2/ours");
BENCHMARK(BM_SnprintfFixed)->Name("format_compiled_N-12.2/snprintf");
BENCHMARK(BM_RealDigits)->Name("real_to_14_digits/ours");
BENCHMARK(BM_ToCharsDigits)->Name("real_to_14_digits/to_chars");
BENCHMARK(BM_DeformatNumberCompiled)->Name("deformat_compiled_N-12.2/ours");
BENCHMARK(BM_Strtod)->Name("deformat_compiled_N-12.2/strtod");
BENCHMARK(BM_FromChars)->Name("deformat_compiled_N-12.2/from_chars");
BENCHMARK(BM_DeformatWideCompiled)->Name("deformat_compiled_N-20.2/ours");
BENCHMARK(BM_FromCharsWide)->Name("deformat_compiled_N-20.2/from_chars");
BENCHMARK(BM_RealDigitsAnyMagnitude)->Name("real_to_14_digits_any_magnitude/ours");
BENCHMARK(BM_ToCharsDigitsAnyMagnitude)->Name("real_to_14_digits_any_magnitude/to_chars");
BENCHMARK(BM_RealTextAnyMagnitude)->Name("real_to_text_any_magnitude/ours");
BENCHMARK(BM_ToCharsTextAnyMagnitude)->Name("real_to_text_any_magnitude/to_chars");

BENCHMARK(BM_FORMAT)->DenseRange(0, 2);
BENCHMARK(BM_DEFORMAT)->DenseRange(0, 2);
BENCHMARK(BM_FormatCompiled)->DenseRange(0, 2);
BENCHMARK(BM_DeformatCompiled)->DenseRange(0, 2);
BENCHMARK(BM_Compile)->DenseRange(0, 2);

}  // namespace

int main(int argc, char** argv) {
  return vtn_bench::run_with_ratios(argc, argv, {"ours"});
}
