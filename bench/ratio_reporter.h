// A console reporter that ends the run with the ratios of named pairs of benchmarks (qorv over
// its peer): per query where a run reports a "per_query" counter (peers may time fewer
// queries), else CPU time per iteration; with --benchmark_repetitions, the medians.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qorv_bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs)
      : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const auto q = r.counters.find("per_query");
      times_[r.benchmark_name()] = q != r.counters.end() ? q->second.value : r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto has = [&](const std::string& n) {
      return times_.count(n) || times_.count(n + "_median");
    };
    const auto time = [&](const std::string& n) {
      return times_.count(n + "_median") ? times_[n + "_median"] : times_[n];
    };
    for (const auto& [a, b] : pairs_)
      if (has(a) && has(b))
        std::printf("ratio %-28s / %-28s = %.4f\n", a.c_str(), b.c_str(), time(a) / time(b));
  }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
  std::map<std::string, double> times_;
};

// main() of a benchmark program whose run ends with those ratios.
inline int runWithRatios(int argc, char** argv,
                         std::vector<std::pair<std::string, std::string>> pairs) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace qorv_bench
