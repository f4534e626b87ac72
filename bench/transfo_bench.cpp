// Moving measured points into CAD frames: 1,000,000 points mapped through a workplane and a
// similitude, one point at a time (T >> P, into a second array) and as an array in place
// (TransFrom(points, n)), against a
// plain inline 3 x 4 affine loop over the same points in the same program (the floor: no
// virtual call, no envelope). Then chains of 10 compositions of mixed kinds, reduced at every
// step. The per_point and per_composition counters are seconds per item.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "qorv/foundation/transfo3d.h"
#include "qorv/foundation/transfo3d_kinds.h"

using QuickAlgebra::ERMatrix;

namespace {

constexpr int kPoints = 1000000;

std::vector<ERPoint3D> makePoints() {
  std::mt19937 gen(12345);
  std::uniform_real_distribution<double> u(-500.0, 500.0);
  std::vector<ERPoint3D> pts(kPoints);
  for (ERPoint3D& p : pts) p.set(u(gen), u(gen), u(gen));
  return pts;
}

const std::vector<ERPoint3D>& points() {
  static const std::vector<ERPoint3D> pts = makePoints();
  return pts;
}

ERMatrix<double> rotationAbout(ERVector3D a, double th) {
  a.normalize();
  const double c = std::cos(th), s = std::sin(th), x = a.x(), y = a.y(), z = a.z();
  const double r[9] = {c + x * x * (1 - c),     x * y * (1 - c) - z * s, x * z * (1 - c) + y * s,
                       y * x * (1 - c) + z * s, c + y * y * (1 - c),     y * z * (1 - c) - x * s,
                       z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)};
  return ERMatrix<double>(3, 3, r);
}

ERPmSimilitude3D workplane() {
  return ERChgRepere3D(ERVector3D(0.3, -0.5, 0.8), ERPoint3D(120.0, -45.0, 310.0));
}

ERPmSimilitude3D similitude() {
  return ERPmSimilitude3D(
      _ERSimilitude3D(rotationAbout(ERVector3D(1, 2, 3), 0.7), ERPoint3D(12.0, 4.5, -3.0), 1.0004));
}

void setPerPoint(benchmark::State& state) {
  state.counters["per_point"] = benchmark::Counter(
      kPoints, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void mapOneByOne(benchmark::State& state, const ERPmSimilitude3D& T) {
  const std::vector<ERPoint3D>& in = points();
  std::vector<ERPoint3D> out(in.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < in.size(); ++i) out[i] = T >> in[i];
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  setPerPoint(state);
}

void mapArray(benchmark::State& state, const ERPmSimilitude3D& T) {
  // In place, round after round: the maps are near-isometries, so the points stay bounded.
  std::vector<ERPoint3D> out = points();
  for (auto _ : state) {
    T.TransFrom(out.data(), static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  setPerPoint(state);
}

void BM_WorkplanePointByPoint(benchmark::State& state) { mapOneByOne(state, workplane()); }
BENCHMARK(BM_WorkplanePointByPoint)->Unit(benchmark::kMillisecond);

void BM_SimilitudePointByPoint(benchmark::State& state) { mapOneByOne(state, similitude()); }
BENCHMARK(BM_SimilitudePointByPoint)->Unit(benchmark::kMillisecond);

void BM_WorkplaneArray(benchmark::State& state) { mapArray(state, workplane()); }
BENCHMARK(BM_WorkplaneArray)->Unit(benchmark::kMillisecond);

void BM_SimilitudeArray(benchmark::State& state) { mapArray(state, similitude()); }
BENCHMARK(BM_SimilitudeArray)->Unit(benchmark::kMillisecond);

// The peer: the same workplane as twelve doubles and an inline loop.
void BM_PlainAffineLoop(benchmark::State& state) {
  const ERPmSimilitude3D T = workplane();
  const ERMatrix<double> R = T.getMatrix();
  const ERPoint3D t = T.getTrans();
  const double m[12] = {R(0, 0), R(0, 1), R(0, 2), t.x(),   R(1, 0), R(1, 1),
                        R(1, 2), t.y(),   R(2, 0), R(2, 1), R(2, 2), t.z()};
  const std::vector<ERPoint3D>& in = points();
  std::vector<ERPoint3D> out(in.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < in.size(); ++i) {
      const double x = in[i].x(), y = in[i].y(), z = in[i].z();
      out[i].set(m[0] * x + m[1] * y + m[2] * z + m[3], m[4] * x + m[5] * y + m[6] * z + m[7],
                 m[8] * x + m[9] * y + m[10] * z + m[11]);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  setPerPoint(state);
}
BENCHMARK(BM_PlainAffineLoop)->Unit(benchmark::kMillisecond);

// Ten compositions per iteration, each a new reduced representation.
void composeChain(benchmark::State& state, const std::vector<ERPmSimilitude3D>& chain) {
  for (auto _ : state) {
    ERPmSimilitude3D acc;
    for (const ERPmSimilitude3D& T : chain) acc = acc * T;
    benchmark::DoNotOptimize(acc.getRep());
  }
  state.counters["per_composition"] = benchmark::Counter(
      static_cast<double>(chain.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ComposeMixedChainOf10(benchmark::State& state) {
  std::vector<ERPmSimilitude3D> chain;
  for (int i = 0; i < 10; ++i) {
    switch (i % 4) {
      case 0:
        chain.push_back(workplane());
        break;
      case 1:
        chain.emplace_back(_ERTranslation3D(ERPoint3D(i, -i, 2.0 * i)));
        break;
      case 2:
        chain.emplace_back(_ERRotation3D(rotationAbout(ERVector3D(i, 1, -1), 0.1 * i)));
        break;
      default:
        chain.push_back(similitude());
        break;
    }
  }
  composeChain(state, chain);
}
BENCHMARK(BM_ComposeMixedChainOf10);

void BM_ComposeIsometryChainOf10(benchmark::State& state) {
  std::vector<ERPmSimilitude3D> chain;
  for (int i = 0; i < 10; ++i)
    chain.push_back(ERChgRepere3D(ERVector3D(1.0 + i, -0.5, 0.8), ERPoint3D(10.0 * i, -4.0, 31.0)));
  composeChain(state, chain);
}
BENCHMARK(BM_ComposeIsometryChainOf10);

}  // namespace

BENCHMARK_MAIN();
