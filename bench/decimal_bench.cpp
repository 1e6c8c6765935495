// Cost of the decimal stack's arithmetic on 31-digit values and of the conversions between
// numbers and text, each beside a peer that does the same job:
//  - a statement "c = a op b" as a compiled program runs it on DECIMAL(31,15) fields (16 bytes):
//    push a, push b, the operation, pop into c; against GCC's _Decimal128 (34 digits) with
//    volatile operands and result, so that the peer, like ours, loads both operands from memory
//    and stores its result every time;
//  - REAL, LONG and decimal text against std::to_chars and std::from_chars on the same digits.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>

#include "bench/peer_ratio.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/decimal.hpp"

#if defined(__GNUC__) && !defined(__clang__) && __has_include(<decimal/decimal>)
#include <decimal/decimal>
#define VTN_HAVE_DECIMAL128 1
#endif

namespace {

using vtn::DecimalStack;

// DECIMAL(31,15): 16 digits before the point and 15 after.
constexpr uint32_t kBytes = 16;
constexpr uint32_t kPlaces = 15;

struct Field {
  uint8_t bytes[kBytes];
};

Field make(const char* text) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  s.push_text(text);
  Field f;
  s.pop_decimal(f.bytes, kBytes, kPlaces);
  return f;
}

const Field kA = make("-8234567890123456.789012345678901");
const Field kB = make("1357913579135791.357913579135791");

template <void (DecimalStack::*Op)()>
void BM_Statement(benchmark::State& state) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  Field c{};
  for (auto _ : state) {
    s.push_decimal(kA.bytes, kBytes, kPlaces);
    s.push_decimal(kB.bytes, kBytes, kPlaces);
    (s.*Op)();
    s.pop_decimal(c.bytes, kBytes, kPlaces);
    benchmark::DoNotOptimize(c);
  }
}
BENCHMARK(BM_Statement<&DecimalStack::add>)->Name("add_31_digits/ours");
BENCHMARK(BM_Statement<&DecimalStack::subtract>)->Name("subtract_31_digits/ours");
BENCHMARK(BM_Statement<&DecimalStack::multiply>)->Name("multiply_31_digits/ours");
BENCHMARK(BM_Statement<&DecimalStack::divide>)->Name("divide_31_digits/ours");

#if VTN_HAVE_DECIMAL128
using Decimal128 = float __attribute__((mode(TD)));

enum class Op { kAdd, kSubtract, kMultiply, kDivide };

template <Op op>
void BM_Decimal128(benchmark::State& state) {
  using std::decimal::make_decimal128;
  volatile Decimal128 a =
      (make_decimal128(-8234567890123456LL, 0) + make_decimal128(-789012345678901LL, -15))
          .__getval();
  volatile Decimal128 b =
      (make_decimal128(1357913579135791LL, 0) + make_decimal128(357913579135791LL, -15)).__getval();
  volatile Decimal128 r;
  for (auto _ : state) {
    switch (op) {
      case Op::kAdd:
        r = a + b;
        break;
      case Op::kSubtract:
        r = a - b;
        break;
      case Op::kMultiply:
        r = a * b;
        break;
      case Op::kDivide:
        r = a / b;
        break;
    }
  }
  benchmark::DoNotOptimize(r);
}
BENCHMARK(BM_Decimal128<Op::kAdd>)->Name("add_31_digits/decimal128");
BENCHMARK(BM_Decimal128<Op::kSubtract>)->Name("subtract_31_digits/decimal128");
BENCHMARK(BM_Decimal128<Op::kMultiply>)->Name("multiply_31_digits/decimal128");
BENCHMARK(BM_Decimal128<Op::kDivide>)->Name("divide_31_digits/decimal128");
#endif

void BM_TextRoundTrip(benchmark::State& state) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  const std::string text = "-8234567890123456.789012345678901";
  for (auto _ : state) {
    s.push_text(text);
    std::string out = s.pop_text();
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_TextRoundTrip)->Name("text_to_decimal_to_text_31_digits");

void BM_PackedRoundTrip(benchmark::State& state) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  uint8_t field[16] = {0xF0, 0x00, 0x82, 0x34, 0x56, 0x78, 0x90, 0x12,
                       0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78};
  for (auto _ : state) {
    s.push_decimal(field, sizeof field, 15);
    s.pop_decimal(field, sizeof field, 15);
    benchmark::DoNotOptimize(field);
  }
}
BENCHMARK(BM_PackedRoundTrip)->Name("decimal_16_bytes_load_store");

// ---- Number text: ours against the standard library on the same digits ----

constexpr double kReal = -1234.56789012345;
constexpr const char* kRealText = "-1234.56789012345";
constexpr const char* kLongText = "-1234567890";
constexpr const char* kDecimalText = "-8234567890123456.789012345678901";

void BM_RealToText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vtn::real_to_text(kReal));
}
BENCHMARK(BM_RealToText)->Name("real_to_text_14_digits/ours");

void BM_RealToChars(benchmark::State& state) {
  char buffer[40];
  for (auto _ : state) {
    const auto r =
        std::to_chars(buffer, buffer + sizeof buffer, kReal, std::chars_format::general, 14);
    benchmark::DoNotOptimize(std::string(buffer, r.ptr));
  }
}
BENCHMARK(BM_RealToChars)->Name("real_to_text_14_digits/to_chars");

void BM_TextToReal(benchmark::State& state) {
  const std::string text = kRealText;
  for (auto _ : state) benchmark::DoNotOptimize(vtn::text_to_real(text));
}
BENCHMARK(BM_TextToReal)->Name("text_to_real/ours");

void BM_TextToLong(benchmark::State& state) {
  const std::string text = kLongText;
  for (auto _ : state) benchmark::DoNotOptimize(vtn::text_to_long(text));
}
BENCHMARK(BM_TextToLong)->Name("text_to_long/ours");

void BM_TextToDecimal(benchmark::State& state) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  const std::string text = kDecimalText;
  for (auto _ : state) {
    s.push_text(text);
    benchmark::DoNotOptimize(s.entry(1));
    s.clear();
  }
}
BENCHMARK(BM_TextToDecimal)->Name("text_to_decimal_31_digits/ours");

template <typename Number>
void from_chars_loop(benchmark::State& state, const char* text_in) {
  const std::string text = text_in;
  for (auto _ : state) {
    Number value{};
    std::from_chars(text.data(), text.data() + text.size(), value);
    benchmark::DoNotOptimize(value);
  }
}
void BM_RealFromChars(benchmark::State& state) {
  from_chars_loop<double>(state, kRealText);
}
void BM_LongFromChars(benchmark::State& state) {
  from_chars_loop<int32_t>(state, kLongText);
}
void BM_DecimalFromChars(benchmark::State& state) {
  from_chars_loop<double>(state, kDecimalText);
}
BENCHMARK(BM_RealFromChars)->Name("text_to_real/from_chars");
BENCHMARK(BM_LongFromChars)->Name("text_to_long/from_chars");
BENCHMARK(BM_DecimalFromChars)->Name("text_to_decimal_31_digits/from_chars");

}  // namespace

int main(int argc, char** argv) {
  return vtn_bench::run_with_ratios(argc, argv, {"ours"});
}
