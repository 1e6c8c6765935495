// The expression evaluator beside muparser on the same arithmetic over bound variables: compile,
// evaluate a compiled expression, and compile + evaluate. Also a filter-like text expression on
// its own. At the end the ratios ours / muparser of the CPU time per iteration are printed
// (below 1: ours is faster); CPU time, because a shared machine makes wall time noisy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "runtime/eval/expression.hpp"
#include "runtime/eval/scopes.hpp"

#ifdef VTN_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

double a = 1.25, b = 2.5, c = 3.75, d = 4.5;

const char* const kExpressions[] = {
    "a*b+c/(d-1.5)",
    "sin(a)^2+cos(a)^2",
    // 20 operators of every arithmetic kind, with a function call.
    "a*b+c/(d-1.5)-a*2+b^2-c*d/3+(a-b)*(c+d)-sqrt(a)+b/4-c*0.5+d",
};

void bind_variables() {
  static bool done = false;
  if (done) return;
  vtn::bind("a", a);
  vtn::bind("b", b);
  vtn::bind("c", c);
  vtn::bind("d", d);
  done = true;
}

void Ours_Compile(benchmark::State& state) {
  bind_variables();
  const char* text = kExpressions[state.range(0)];
  for (auto _ : state) {
    auto e = vtn::Expression::compile(text);
    benchmark::DoNotOptimize(e);
  }
}

void Ours_Evaluate(benchmark::State& state) {
  bind_variables();
  auto e = vtn::Expression::compile(kExpressions[state.range(0)]);
  double sum = 0;
  for (auto _ : state) {
    a += 1e-9;
    sum += e->evaluate_real();
  }
  benchmark::DoNotOptimize(sum);
}

void Ours_CompileEvaluate(benchmark::State& state) {
  bind_variables();
  const char* text = kExpressions[state.range(0)];
  for (auto _ : state) {
    auto e = vtn::Expression::compile(text);
    benchmark::DoNotOptimize(e->evaluate_real());
  }
}

BENCHMARK(Ours_Compile)->DenseRange(0, 2);
BENCHMARK(Ours_Evaluate)->DenseRange(0, 2);
BENCHMARK(Ours_CompileEvaluate)->DenseRange(0, 2);

#ifdef VTN_HAVE_MUPARSER
void define(mu::Parser& p, const char* text) {
  p.DefineVar("a", &a);
  p.DefineVar("b", &b);
  p.DefineVar("c", &c);
  p.DefineVar("d", &d);
  p.SetExpr(text);
}

// muparser parses on the first Eval; one evaluation is the cheapest way to make it compile.
void Muparser_Compile(benchmark::State& state) {
  const char* text = kExpressions[state.range(0)];
  for (auto _ : state) {
    mu::Parser p;
    define(p, text);
    benchmark::DoNotOptimize(p.Eval());
  }
}

void Muparser_Evaluate(benchmark::State& state) {
  mu::Parser p;
  define(p, kExpressions[state.range(0)]);
  p.Eval();
  double sum = 0;
  for (auto _ : state) {
    a += 1e-9;
    sum += p.Eval();
  }
  benchmark::DoNotOptimize(sum);
}

void Muparser_CompileEvaluate(benchmark::State& state) {
  const char* text = kExpressions[state.range(0)];
  for (auto _ : state) {
    mu::Parser p;
    define(p, text);
    benchmark::DoNotOptimize(p.Eval());
  }
}

BENCHMARK(Muparser_Compile)->DenseRange(0, 2);
BENCHMARK(Muparser_Evaluate)->DenseRange(0, 2);
BENCHMARK(Muparser_CompileEvaluate)->DenseRange(0, 2);
#endif

// A record filter: a text function, a text comparison and a number comparison.
void Ours_Filter(benchmark::State& state) {
  static vtn::String<20> name = "smith";
  static int32_t number = 0;
  vtn::bind("name", name);
  vtn::bind("number", number);
  auto e = vtn::Expression::compile("UPPER(name) = 'SMITH' AND number > 100");
  int64_t hits = 0;
  for (auto _ : state) {
    number = (number + 37) & 255;
    hits += e->evaluate_truth();
  }
  benchmark::DoNotOptimize(hits);
}
BENCHMARK(Ours_Filter);

// Keeps each run's time per iteration to print ours / muparser after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nours / muparser (below 1: ours is faster)\n");
    for (const auto& [name, time] : times_) {
      if (name.rfind("Ours_", 0) != 0) continue;
      const auto peer = times_.find("Muparser_" + name.substr(5));
      if (peer == times_.end()) continue;
      std::printf("  %-28s %8.1f ns  %8.1f ns  %5.2f\n", name.substr(5).c_str(), time, peer->second,
                  time / peer->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
