// INSTRING against std::string_view::find and memmem, and MATCH's regular expressions against
// std::regex (ECMAScript) on the same patterns, written in each one's syntax.
#include <benchmark/benchmark.h>
#include <string.h>

#include <regex>
#include <string>
#include <string_view>

#include "bench/peer_ratio.hpp"
#include "runtime/values/match.hpp"
#include "runtime/values/regex_compile.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"

namespace {

// A text of `size` characters of running prose with `needle` at its very end.
std::string haystack(size_t size, std::string_view needle) {
  static constexpr std::string_view kWords = "the pack table holds name and path of every pack ";
  std::string text;
  while (text.size() + needle.size() < size) text += kWords;
  text.resize(size - needle.size());
  text += needle;
  return text;
}

struct SearchCase {
  const char* name;
  size_t size;
  const char* needle;
};

constexpr SearchCase kSearches[] = {
    {"short_1char", 40, "Z"},
    {"short_4chars", 40, "Zork"},
    {"long_1char", 65536, "Z"},
    {"long_8chars", 65536, "settings"},
    {"long_32chars", 65536, "the settings table holds record"},
};

enum class Searcher { kInstring, kInstringStack, kFind, kMemmem };

void BM_Search(benchmark::State& state, Searcher searcher, const SearchCase& c) {
  const std::string text = haystack(c.size, c.needle);
  const std::string_view needle = c.needle;
  size_t found = 0;
  for (auto _ : state) {
    switch (searcher) {
      case Searcher::kInstring:
        found = static_cast<size_t>(vtn::instring(needle, text));
        break;
      case Searcher::kInstringStack:
        vtn::string_stack().push_borrowed(text);
        vtn::string_stack().push_borrowed(needle);
        found = static_cast<size_t>(vtn::INSTRING());
        break;
      case Searcher::kFind:
        found = std::string_view(text).find(needle) + 1;
        break;
      case Searcher::kMemmem:
        found = static_cast<size_t>(static_cast<const char*>(memmem(text.data(), text.size(),
                                                                    needle.data(), needle.size())) -
                                    text.data()) +
                1;
        break;
    }
    benchmark::DoNotOptimize(found);
  }
  if (found != text.size() - needle.size() + 1) state.SkipWithError("wrong position");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

struct RegexCase {
  const char* name;
  const char* ours;    // MATCH syntax
  const char* theirs;  // ECMAScript
  size_t size;         // text size; the text is prose ending in "pack42"
  bool expected;
};

constexpr RegexCase kRegexes[] = {
    {"digits_at_end", "[0-9]+$", "[0-9]+$", 64, true},
    {"group_repeat", "{pa}+ck4", "(pa)+ck4", 64, true},
    {"alternatives", "table|pack4", "table|pack4", 64, true},
    {"anchored_miss", "^zz", "^zz", 64, false},
    {"digits_at_end_long", "[0-9]+$", "[0-9]+$", 16384, true},
    {"literal_long", "pack42", "pack42", 16384, true},
    {"class_run_long", "k[0-9]+$", "k[0-9]+$", 16384, true},
    {"absent_literal_long", "x*zebra", "x*zebra", 16384, false},
};

void BM_Match(benchmark::State& state, const RegexCase& c) {
  const std::string text = haystack(c.size, "pack42");
  bool result = false;
  vtn::clear_regex_cache();
  for (auto _ : state) {
    result = vtn::match(text, c.ours, vtn::kMatchRegular);
    benchmark::DoNotOptimize(result);
  }
  if (result != c.expected) state.SkipWithError("wrong answer");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_StdRegex(benchmark::State& state, const RegexCase& c) {
  const std::string text = haystack(c.size, "pack42");
  const std::regex re(c.theirs, std::regex::ECMAScript);
  bool result = false;
  for (auto _ : state) {
    result = std::regex_search(text, re);
    benchmark::DoNotOptimize(result);
  }
  if (result != c.expected) state.SkipWithError("wrong answer");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Compiling anew every time: two patterns in turn defeat MATCH's one-entry cache.
void BM_MatchCompile(benchmark::State& state) {
  const char* patterns[] = {"{ab}+c[0-9]*$", "x{a|b}?y[^~]-z]"};
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(vtn::match("xaby", patterns[i ^= 1], 2));
}

void BM_StdRegexCompile(benchmark::State& state) {
  const char* patterns[] = {"(ab)+c[0-9]*$", "x(a|b)?y[^~\\]-z]"};
  int i = 0;
  for (auto _ : state) {
    std::regex re(patterns[i ^= 1]);
    benchmark::DoNotOptimize(std::regex_search("xaby", re));
  }
}

// A pattern that backtracks exponentially: the search gives up at its work limit.
void BM_MatchPathological(benchmark::State& state) {
  const std::string text = std::string(static_cast<size_t>(state.range(0)), 'a') + "X";
  for (auto _ : state) benchmark::DoNotOptimize(vtn::match(text, "{{a+}+}+$", 2));
}

int register_all() {
  for (const SearchCase& c : kSearches) {
    const std::string n = c.name;
    benchmark::RegisterBenchmark(("search/" + n + "/INSTRING").c_str(), BM_Search,
                                 Searcher::kInstring, c);
    benchmark::RegisterBenchmark(("search/" + n + "/INSTRING_stack").c_str(), BM_Search,
                                 Searcher::kInstringStack, c);
    benchmark::RegisterBenchmark(("search/" + n + "/string_view_find").c_str(), BM_Search,
                                 Searcher::kFind, c);
    benchmark::RegisterBenchmark(("search/" + n + "/memmem").c_str(), BM_Search, Searcher::kMemmem,
                                 c);
  }
  for (const RegexCase& c : kRegexes) {
    const std::string n = c.name;
    benchmark::RegisterBenchmark(("regex/" + n + "/MATCH").c_str(), BM_Match, c);
    benchmark::RegisterBenchmark(("regex/" + n + "/std_regex").c_str(), BM_StdRegex, c);
  }
  benchmark::RegisterBenchmark("regex_pathological/MATCH", BM_MatchPathological)
      ->Arg(40)
      ->Arg(4000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("regex_compile/MATCH", BM_MatchCompile);
  benchmark::RegisterBenchmark("regex_compile/std_regex", BM_StdRegexCompile);
  return 0;
}

const int kRegistered = register_all();

}  // namespace

int main(int argc, char** argv) {
  return vtn_bench::run_with_ratios(argc, argv, {"INSTRING", "INSTRING_stack", "MATCH"});
}
