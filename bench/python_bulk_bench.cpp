// The C++ side of the Python module's bulk projection: 1,000,000 points onto a bounded cylinder
// with the work the module does per point (the foot within the limits, its point and normal, the
// signed distance), on one thread and split over every core as the module splits them.
// bench/python_bulk.py times the same call from Python.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "qorv/qorv.h"

namespace {

constexpr int kPoints = 1000000;

struct Case {
  t_SmartPtr<ERAnyBoundedSurface> cylinder;
  std::vector<ERPoint3D> points;
};

// The module's Transform.frame([30, 30, 0], [0, 0, 1]) and BoundedCylinder(frame, 15, 8).
const Case& theCase() {
  static const Case c = [] {
    Case k;
    k.cylinder = new ERBoundedCylinder(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(30, 30, 0)),
                                       15.0, 8.0, ERRadian(0.0), ERRadian(6.283185307179586));
    std::mt19937_64 rng(29);
    std::normal_distribution<double> n;
    k.points.resize(kPoints);
    for (ERPoint3D& p : k.points) p = ERPoint3D(30 + 10 * n(rng), 30 + 10 * n(rng), 10 * n(rng));
    return k;
  }();
  return c;
}

struct Out {
  std::vector<ERPoint3D> feet;
  std::vector<double> uv, dist;
  std::vector<int> codes;
  explicit Out(std::size_t n) : feet(n), uv(2 * n), dist(n), codes(n) {}
};

void project(const ERAnyBoundedSurface& s, const std::vector<ERPoint3D>& in, Out& o, std::size_t b,
             std::size_t e) {
  const double reach = 2 * s.getBox().diagonal() + 1;
  for (std::size_t i = b; i < e; ++i) {
    ERPoint2D q;
    const int ok = s.ProjectionNormale(in[i], reach, q, 1);
    if (!ok || q.x() < s.udeb() || q.x() > s.ufin() || q.y() < s.vdeb() || q.y() > s.vfin()) {
      o.codes[i] = 0;
      continue;
    }
    const ERInfoPoint3DSurf info = s.PtCur(q.x(), q.y());
    int degenerate = 0;
    const ERVector3D n = get_stable_normal(s, info, degenerate);
    o.feet[i] = info.point(), o.uv[2 * i] = q.x(), o.uv[2 * i + 1] = q.y();
    o.dist[i] = (in[i] - info.point()) * n, o.codes[i] = 1;
  }
}

void BM_ProjectOneThread(benchmark::State& state) {
  const Case& c = theCase();
  for (auto _ : state) {
    Out o(c.points.size());
    project(*c.cylinder, c.points, o, 0, c.points.size());
    benchmark::DoNotOptimize(o.dist.data());
  }
  state.counters["ns_per_point"] =
      benchmark::Counter(static_cast<double>(kPoints) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ProjectEveryCore(benchmark::State& state) {
  const Case& c = theCase();
  const int t = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<t_SmartPtr<ERAnyBoundedSurface>> copies{c.cylinder};
  for (int k = 1; k < t; ++k)
    copies.emplace_back(dynamic_cast<ERAnyBoundedSurface*>(c.cylinder->getCopy()));
  for (auto _ : state) {
    Out o(c.points.size());
    const std::size_t n = c.points.size();
    std::vector<std::thread> pool;
    for (int k = 1; k < t; ++k)
      pool.emplace_back([&, k] { project(*copies[k], c.points, o, n * k / t, n * (k + 1) / t); });
    project(*copies[0], c.points, o, 0, n / t);
    for (std::thread& th : pool) th.join();
    benchmark::DoNotOptimize(o.dist.data());
  }
  state.SetLabel(std::to_string(t) + " threads");
}

BENCHMARK(BM_ProjectOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProjectEveryCore)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
