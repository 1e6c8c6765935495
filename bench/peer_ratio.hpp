// Our functions beside their peers, with the ratio printed in the same run.
//
// A benchmark is named "<case>/<who>". The programs that include this header list the names of
// "who" that are the run-time's own; every other benchmark of the same case is a peer. After the
// usual console output the reporter prints, per case, each of ours against each peer: the CPU
// time per iteration of both and ours / peer (below 1: ours is faster). With repetitions the
// median is compared.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vtn_bench {

class PeerRatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit PeerRatioReporter(std::set<std::string> ours)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular), ours_(std::move(ours)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      std::string name = run.run_name.str();
      const size_t slash = name.rfind('/');
      if (slash == std::string::npos) continue;
      const double ns =
          run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      Entry& e = cases_[name.substr(0, slash)][name.substr(slash + 1)];
      if (median || !e.median) e = {ns, median};
      if (order_.insert(name.substr(0, slash)).second) names_.push_back(name.substr(0, slash));
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-36s %-16s %12s  %-18s %12s  %s\n", "case", "ours", "ns", "peer", "ns",
                "ours/peer");
    for (const std::string& c : names_) {
      for (const auto& [who, mine] : cases_[c]) {
        if (ours_.count(who) == 0) continue;
        for (const auto& [peer, theirs] : cases_[c]) {
          if (ours_.count(peer) != 0) continue;
          std::printf("%-36s %-16s %12.1f  %-18s %12.1f  %.2f\n", c.c_str(), who.c_str(), mine.ns,
                      peer.c_str(), theirs.ns, mine.ns / theirs.ns);
        }
      }
    }
    std::fflush(stdout);
  }

 private:
  struct Entry {
    double ns = 0;
    bool median = false;
  };
  std::set<std::string> ours_;
  std::map<std::string, std::map<std::string, Entry>> cases_;
  std::set<std::string> order_;
  std::vector<std::string> names_;
};

// The program's main: the usual flags, the console output, then the table of ratios.
inline int run_with_ratios(int argc, char** argv, std::set<std::string> ours) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PeerRatioReporter reporter(std::move(ours));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace vtn_bench
