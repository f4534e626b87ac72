// The costs of right answers on the conics, each against its peer:
// - vector length: ERVector3D::norme (scaled only when the squares leave the range) against
//   std::hypot and against the plain sqrt of the sum of squares (wrong beyond 1e+-154), over
//   65,536 vectors of everyday size;
// - nearest point of an elliptic arc (global foot, else every foot inside and the ends) against
//   dense sampling (1,000 samples) refined by golden section;
// - line crossings of a circular arc in closed form against the finite-level route (a turned
//   copy and its vertical crossings).
// The per_query counter is seconds per query.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"

using namespace qorv;

namespace {

constexpr int kQueries = 1 << 16;
constexpr double kPi = std::numbers::pi;

void setPerQuery(benchmark::State& state, double queries) {
  state.counters["per_query"] = benchmark::Counter(
      queries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::vector<ERVector3D> makeVectors() {
  std::mt19937_64 rng(901);
  std::uniform_real_distribution<double> u(-100.0, 100.0);
  std::vector<ERVector3D> v(kQueries);
  for (auto& x : v) x = ERVector3D(u(rng), u(rng), u(rng));
  return v;
}

void BM_LengthNorme(benchmark::State& state) {
  const auto v = makeVectors();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& x : v) sum += x.norme();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}
BENCHMARK(BM_LengthNorme);

void BM_LengthHypot(benchmark::State& state) {
  const auto v = makeVectors();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& x : v) sum += std::hypot(x.x(), x.y(), x.z());
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}
BENCHMARK(BM_LengthHypot);

void BM_LengthPlainSqrt(benchmark::State& state) {
  const auto v = makeVectors();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& x : v) sum += std::sqrt(x.x() * x.x() + x.y() * x.y() + x.z() * x.z());
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}
BENCHMARK(BM_LengthPlainSqrt);

constexpr int kArcQueries = 4096;

std::vector<ERPoint2D> makeArcPoints() {
  std::mt19937_64 rng(902);
  std::uniform_real_distribution<double> u(-4.0, 4.0);
  std::vector<ERPoint2D> p(kArcQueries);
  for (auto& x : p) x = ERPoint2D(u(rng), u(rng));
  return p;
}

// A 3:1 arc of a third of a turn: most points have their global foot off the arc.
const ERArcEllipse2D kArc(3, 1, 0.3, ERPoint2D(), 2.0, 4.2);

void BM_ArcNearest(benchmark::State& state) {
  const auto pts = makeArcPoints();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : pts) {
      double d = 0, u = 0;
      kArc.SignedMinimalDistance(p, d, u);
      sum += d;
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kArcQueries);
}
BENCHMARK(BM_ArcNearest);

void BM_ArcNearestDenseSampling(benchmark::State& state) {
  const auto pts = makeArcPoints();
  const ERLimites r = kArc.getBound();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : pts) {
      constexpr int n = 1000;
      auto d2 = [&](double t) { return distance2(kArc(t), p); };
      int best = 0;
      double bestD = d2(r.start());
      for (int i = 1; i <= n; ++i) {
        const double d = d2(r.start() + r.amplitude() * i / n);
        if (d < bestD) bestD = d, best = i;
      }
      double a = r.start() + r.amplitude() * std::max(0, best - 1) / n;
      double b = r.start() + r.amplitude() * std::min(n, best + 1) / n;
      for (int k = 0; k < 60; ++k) {
        const double x1 = b - 0.618 * (b - a), x2 = a + 0.618 * (b - a);
        (d2(x1) < d2(x2) ? b : a) = d2(x1) < d2(x2) ? x2 : x1;
      }
      sum += std::sqrt(d2(0.5 * (a + b)));
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kArcQueries);
}
BENCHMARK(BM_ArcNearestDenseSampling);

std::vector<ERVector2D> makeNormals() {
  std::mt19937_64 rng(903);
  std::uniform_real_distribution<double> u(-kPi, kPi);
  std::vector<ERVector2D> n(kArcQueries);
  for (auto& x : n) {
    const double a = u(rng);
    x = ERVector2D(std::cos(a), std::sin(a));
  }
  return n;
}

const ERArc2D kCircleArc(ERPoint2D(1, 2), 3, -1.0, 3.5);

void BM_ArcLineCrossings(benchmark::State& state) {
  const auto normals = makeNormals();
  for (auto _ : state) {
    int count = 0;
    for (const auto& n : normals) {
      QuickAlgebra::ERVec<double> params;
      count += kCircleArc.intersectWith(ERPoint2D(1.5, 2.5), n, params);
    }
    benchmark::DoNotOptimize(count);
  }
  setPerQuery(state, kArcQueries);
}
BENCHMARK(BM_ArcLineCrossings);

void BM_ArcLineCrossingsTurnedCopy(benchmark::State& state) {
  const auto normals = makeNormals();
  for (auto _ : state) {
    int count = 0;
    for (const auto& n : normals) {
      QuickAlgebra::ERVec<double> params;
      count += kCircleArc.ERFiniteEntity2DWF::intersectWith(ERPoint2D(1.5, 2.5), n, params);
    }
    benchmark::DoNotOptimize(count);
  }
  setPerQuery(state, kArcQueries);
}
BENCHMARK(BM_ArcLineCrossingsTurnedCopy);

}  // namespace

BENCHMARK_MAIN();
