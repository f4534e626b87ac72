// The closest point on an ellipse for 65,536 seeded random points (mixed: anywhere within three
// semi-axes, near the curve, a hair off the major axis, far away), one query at a time as a
// caller makes it (fresh list, code), for a circle and ellipses of b/a = 1/2, 1e-3 and 1e-6;
// then the arc length of random spans of up to a turn. The per_query counter is seconds per
// query.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "qorv/curves/ellipse_math.h"
#include "qorv/siblings/surface_kernel/ellipse.h"

using namespace qorv::siblings;

namespace {

constexpr int kQueries = 1 << 16;

std::vector<giPoint2> makePoints(double ratio) {
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<giPoint2> pts(kQueries);
  for (int i = 0; i < kQueries; ++i) {
    const double t = 2 * M_PI * u(rng);
    switch (i % 4) {
      case 0:
        pts[i] = {(2 * u(rng) - 1) * 3, (2 * u(rng) - 1) * 3};
        break;
      case 1:
        pts[i] = {(1 + 0.01 * (u(rng) - 0.5)) * std::cos(t),
                  (1 + 0.01 * (u(rng) - 0.5)) * ratio * std::sin(t)};
        break;
      case 2:
        pts[i] = {2 * u(rng) - 1, std::exp(-40 * u(rng))};
        break;
      case 3: {
        const double r = std::exp(12 * u(rng));
        pts[i] = {r * std::cos(t), r * std::sin(t)};
        break;
      }
    }
  }
  return pts;
}

void setPerQuery(benchmark::State& state, double queries) {
  state.counters["per_query"] = benchmark::Counter(
      queries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_EllipseClosestPoint(benchmark::State& state) {
  const double ratio = 1.0 / static_cast<double>(state.range(0));
  const std::vector<giPoint2> pts = makePoints(ratio);
  const zrkEllipse2 ellipse(ratio, 1.0);
  for (auto _ : state) {
    double sum = 0;
    for (const giPoint2& q : pts) {
      zrkCurvePointList2 list;
      int code = ZRK_NOT_COMPUTED;
      ellipse.global_closest_point(q, list, code);
      sum += list[0].x;
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}
// The argument is a / b.
BENCHMARK(BM_EllipseClosestPoint)->Arg(1)->Arg(2)->Arg(1000)->Arg(1000000);

void BM_EllipseArcLength(benchmark::State& state) {
  const double ratio = 1.0 / static_cast<double>(state.range(0));
  std::mt19937_64 rng(778);
  std::uniform_real_distribution<double> u(-10.0, 10.0), span(0.0, 2 * M_PI);
  std::vector<double> t0(kQueries), t1(kQueries);
  for (int i = 0; i < kQueries; ++i) t1[i] = (t0[i] = u(rng)) + span(rng);
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kQueries; ++i) sum += EllipseMath::arcLength(1.0, ratio, t0[i], t1[i]);
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}
BENCHMARK(BM_EllipseArcLength)->Arg(1)->Arg(2)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
