// `qorv inspect --measured POINTS.csv --format json` on the sample part, end to end: the
// tool's whole run (reading the CSV, judging, statistics and fits, writing the JSON) against
// the judging alone on the same points and threads, the ratio the tool is held to (at most
// 1.5). The points are the sample generator's (examples/inspection): probe centres with
// diameters, every other one naming its feature. The stages are timed again in this process;
// each time is the least of three runs (the machine is shared).
//   inspect_run_bench [POINTS [THREADS]]      default 1000000 2
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "bench/child_run.h"
#include "bench/scratch.h"
#include "qorv/measurement/inspection.h"
#include "qorv/measurement/measured_points.h"
#include "tools/qorv/nominal.h"

int main(int argc, char** argv) {
  using qorv::bench::run;
  const long n = argc > 1 ? static_cast<long>(std::atof(argv[1])) : 1000000;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
  const std::string part = QORV_SOURCE_DIR "/examples/inspection/part.json";
  const std::string dir = qorv::bench::scratchPath("");
  if (run({QORV_SAMPLE, part, dir, std::to_string(n)}, "/dev/null").status != 0) {
    std::printf("the sample generator failed\n");
    return 1;
  }
  const std::string csv = dir + "/measured.csv";
  constexpr int kRuns = 3;
  qorv::bench::Run tool;
  for (int k = 0; k < kRuns; ++k) {
    const qorv::bench::Run r = run({QORV_TOOL, "inspect", "--nominal", part, "--measured", csv,
                                    "--format", "json", "-q", "-j", std::to_string(threads)},
                                   "/dev/null");
    if (k == 0 || r.wall < tool.wall) tool = r;
  }

  using Clock = std::chrono::steady_clock;
  auto since = [](Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
  };
  const gmInspection inspection(qorv::tool::readNominal(part));
  std::vector<gmMeasuredPoint> points;
  std::vector<gmSkippedLine> skipped;
  std::vector<gmInspectedPoint> results;
  std::vector<gmFeatureSummary> summaries;
  double reading = HUGE_VAL, judging = HUGE_VAL, fitting = HUGE_VAL, judgingCpu = HUGE_VAL;
  for (int k = 0; k < kRuns; ++k) {
    points.clear(), skipped.clear();
    auto t = Clock::now();
    {
      std::ifstream in(csv, std::ios::binary);
      gmReadMeasuredPoints(in, points, skipped, gmMeasuredFormat{}, {}, threads);
    }
    reading = std::min(reading, since(t));
    t = Clock::now();
    const std::clock_t c = std::clock();
    results = inspection.run(points, 0.0, threads);
    judging = std::min(judging, since(t));
    judgingCpu = std::min(judgingCpu, static_cast<double>(std::clock() - c) / CLOCKS_PER_SEC);
    t = Clock::now();
    summaries = inspection.summarize(results, points, threads);
    fitting = std::min(fitting, since(t));
  }
  double load[1] = {0};
  (void)::getloadavg(load, 1);
  std::printf("%10s %8s %8s %8s %9s %9s %9s %8s\n", "points", "threads", "run s", "judge s",
              "run/judge", "read s", "fits s", "loadavg");
  std::printf("%10zu %8d %8.3f %8.3f %9.2f %9.3f %9.3f %8.2f%s\n", points.size(), threads,
              tool.wall, judging, tool.wall / judging, reading, fitting, load[0],
              tool.status <= 1 ? "" : "  (the tool failed)");
  // On a shared machine the threads may not get a core each: the same ratio in CPU time.
  std::printf("  CPU time: the run %.3f s, the judging %.3f s, ratio %.2f\n", tool.cpu, judgingCpu,
              tool.cpu / judgingCpu);
  std::printf("  the rest of the run (JSON written, start-up): %.3f s\n",
              tool.wall - reading - judging - fitting);
  return summaries.size() == inspection.features().size() ? 0 : 1;
}
