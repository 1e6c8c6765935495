// Cost of the decimal stack's arithmetic on 31-digit values and of text round trips.
#include <benchmark/benchmark.h>

#include <string>

#include "runtime/values/decimal.hpp"

namespace {

using vtn::DecimalStack;
using vtn::DecimalValue;

// Working values of 31 significant digits (16 before the point, 15 after).
DecimalValue make(const char* text) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  s.push_text(text);
  DecimalValue v = s.entry(1);
  s.clear();
  return v;
}

const DecimalValue kA = make("-8234567890123456.789012345678901");
const DecimalValue kB = make("1357913579135791.357913579135791");

template <void (DecimalStack::*Op)()>
void BM_Binary(benchmark::State& state) {
  DecimalStack& s = vtn::decimal_stack();
  s.clear();
  for (auto _ : state) {
    s.push_long(0);
    s.entry(1) = kA;
    s.push_long(0);
    s.entry(1) = kB;
    (s.*Op)();
    benchmark::DoNotOptimize(s.entry(1));
    s.clear();
  }
}
BENCHMARK(BM_Binary<&DecimalStack::add>)->Name("add_31_digits");
BENCHMARK(BM_Binary<&DecimalStack::subtract>)->Name("subtract_31_digits");
BENCHMARK(BM_Binary<&DecimalStack::multiply>)->Name("multiply_31_digits");
BENCHMARK(BM_Binary<&DecimalStack::divide>)->Name("divide_31_digits");

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

}  // namespace
